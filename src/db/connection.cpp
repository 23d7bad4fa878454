#include "db/connection.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>

namespace kavelo::db {
namespace {

// A write that meets a lock taken by another program waits this long: the
// accounting application holds its locks only for moments.
constexpr std::chrono::milliseconds kWriteBusyWait{30000};

// The part of an SQLite message after "prefix", e.g. the column of
// "NOT NULL constraint failed: F_MAE.NOMMAE".
std::string after(std::string_view message, std::string_view prefix) {
  auto at = message.find(prefix);
  if (at == std::string_view::npos) return std::string(message);
  std::string rest(message.substr(at + prefix.size()));
  return rest;
}

std::string column_part(std::string qualified) {
  auto dot = qualified.rfind('.');
  return dot == std::string::npos ? qualified : qualified.substr(dot + 1);
}

}  // namespace

namespace {
// Names are looked up for every column of every record: ASCII folding inline.
unsigned char fold(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}
}  // namespace

std::size_t CaselessHash::operator()(std::string_view s) const {
  std::size_t h = 14695981039346656037u;
  for (char c : s) h = (h ^ fold(c)) * 1099511628211u;
  return h;
}

bool CaselessEqual::operator()(std::string_view a, std::string_view b) const {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

int TableInfo::find(std::string_view column) const {
  auto it = index.find(column);
  return it == index.end() ? -1 : it->second;
}

Connection::Connection(const std::string& path, std::string key, std::chrono::milliseconds busy_wait)
    : path_(path), key_(std::move(key)), busy_wait_(busy_wait) {
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Failure f = failure(ErrorCode::CannotOpenFile, path_);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw f;
  }
  sqlite3_extended_result_codes(db_, 1);
  // A quoted name that is no column must fail, not turn into a text.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_busy_timeout(db_, static_cast<int>(busy_wait_.count()));
  // Reading the schema proves that the file is a database and not locked.
  rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    Failure f = failure_of(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw f;
  }
}

Connection::~Connection() {
  for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
  if (db_) {
    // Whatever was not committed by now belongs to no finished record.
    if (in_transaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
}

Failure Connection::failure_of(int rc, std::string_view jet_text) {
  std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  if (db_ && in_transaction_ && sqlite3_get_autocommit(db_)) {
    in_transaction_ = false;
    dirty_ = false;
    unit_open_ = false;
  }
  switch (rc) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY: return failure(ErrorCode::DuplicateValue);
    case SQLITE_CONSTRAINT_NOTNULL:
      return failure(ErrorCode::RequiredValue, column_part(after(message, "constraint failed: ")));
    case SQLITE_CONSTRAINT_CHECK: return failure(ErrorCode::ValidationRule, after(message, "constraint failed: "));
    default: break;
  }
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return failure(ErrorCode::DatabaseInUse, path_);
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return failure(ErrorCode::UnrecognizedFormat, path_);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM: return failure(ErrorCode::CannotOpenFile, path_);
    case SQLITE_READONLY: return failure(ErrorCode::ReadOnly);
    case SQLITE_FULL: return failure(ErrorCode::DiskFull, path_);
    case SQLITE_IOERR: return failure(ErrorCode::DiskIo, path_);
    case SQLITE_CONSTRAINT: return failure(ErrorCode::ValidationRule, message);
    case SQLITE_ERROR:
      if (message.starts_with("no such table: ")) return failure(ErrorCode::TableNotFound, after(message, ": "));
      if (message.starts_with("no such column: "))
        return failure(ErrorCode::TooFewParameters, after(message, ": "));
      if (!jet_text.empty()) return failure(ErrorCode::QuerySyntax, jet_text);
      break;
    default: break;
  }
  return failure(ErrorCode::EngineFailure, message);
}

int Connection::step_once(const char* sql) {
  // Prepared once like every other statement: these run for every record.
  sqlite3_stmt* statement = prepare(sql, {});
  int rc = sqlite3_step(statement);
  sqlite3_reset(statement);
  return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
}

void Connection::execute(const char* sql) {
  int rc = step_once(sql);
  if (rc != SQLITE_OK) throw failure_of(rc);
}

void Connection::begin(std::chrono::milliseconds wait) {
  sqlite3_busy_timeout(db_, static_cast<int>(wait.count()));
  int rc = step_once("BEGIN IMMEDIATE");
  sqlite3_busy_timeout(db_, static_cast<int>(kWriteBusyWait.count()));
  if (rc != SQLITE_OK) throw failure_of(rc);
  in_transaction_ = true;
  dirty_ = false;
}

void Connection::acquire() {
  // Taking the write lock is the test that no other program holds it; it is
  // kept, since whoever opens the database means to write to it.
  if (!in_transaction_) begin(busy_wait_);
  ++handles_;
}

void Connection::release() {
  if (--handles_ == 0 && in_transaction_ && !dirty_ && !unit_open_) commit();
}

void Connection::begin_write() {
  if (!in_transaction_) begin(kWriteBusyWait);
  dirty_ = true;
}

void Connection::commit() {
  if (!in_transaction_ || unit_open_ || held_) return;
  int rc = step_once("COMMIT");
  if (rc != SQLITE_OK) throw failure_of(rc);
  in_transaction_ = false;
  dirty_ = false;
}

void Connection::roll_back() {
  if (!in_transaction_) return;
  unit_open_ = false;
  int rc = step_once("ROLLBACK");
  // A rollback that fails leaves SQLite's own journal to undo the writes
  // when the database is next opened.
  if (rc != SQLITE_OK) throw failure_of(rc);
  in_transaction_ = false;
  dirty_ = false;
}

void Connection::begin_unit() {
  begin_write();
  execute("SAVEPOINT record_unit");
  unit_open_ = true;
}

void Connection::end_unit(bool keep) {
  if (!unit_open_) return;
  unit_open_ = false;
  if (!keep) execute("ROLLBACK TO record_unit");
  execute("RELEASE record_unit");
}

sqlite3_stmt* Connection::prepare(const std::string& sql, std::string_view jet_text) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) {
    sqlite3_reset(it->second);
    sqlite3_clear_bindings(it->second);
    return it->second;
  }
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                              nullptr);
  if (rc != SQLITE_OK) throw failure_of(rc, jet_text);
  statements_.emplace(sql, statement);
  return statement;
}

const TableInfo& Connection::table(std::string_view name) {
  std::string key = upper(name);
  if (auto it = tables_.find(key); it != tables_.end()) return *it->second;

  auto info = std::make_unique<TableInfo>();
  sqlite3_stmt* s = prepare("SELECT name, type, \"notnull\", dflt_value FROM pragma_table_info(?)", {});
  StatementScope scope(s);
  sqlite3_bind_text(s, 1, std::string(name).c_str(), -1, SQLITE_TRANSIENT);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    ColumnInfo column;
    column.name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    const char* declared = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    column.kind = column_kind(declared ? declared : "", &column.text_size);
    column.required = sqlite3_column_int(s, 2) != 0;
    const char* dflt = reinterpret_cast<const char*>(sqlite3_column_text(s, 3));
    column.default_value = default_from_sql(dflt ? dflt : "", column.kind);
    const char* collation = nullptr;
    if (sqlite3_table_column_metadata(db_, nullptr, std::string(name).c_str(), column.name.c_str(), nullptr,
                                      &collation, nullptr, nullptr, nullptr) == SQLITE_OK && collation)
      column.nocase = sqlite3_stricmp(collation, "NOCASE") == 0;
    info->index.emplace(column.name, static_cast<int>(info->columns.size()));
    info->columns.push_back(std::move(column));
  }
  if (rc != SQLITE_DONE) throw failure_of(rc);
  if (info->columns.empty()) throw failure(ErrorCode::TableNotFound, name);
  info->name = std::string(name);
  return *tables_.emplace(key, std::move(info)).first->second;
}

void bind_all(sqlite3_stmt* statement, const std::vector<Value>& params) {
  for (std::size_t i = 0; i < params.size(); ++i) bind_value(statement, static_cast<int>(i + 1), params[i]);
}

}  // namespace kavelo::db

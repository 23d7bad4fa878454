#include "db/sqlite_connection.h"

#include <cctype>

namespace kavelo::db {
namespace {

// The part of an SQLite message after "prefix", e.g. the column of
// "NOT NULL constraint failed: F_MAE.NOMMAE".
std::string after(std::string_view message, std::string_view prefix) {
  auto at = message.find(prefix);
  if (at == std::string_view::npos) return std::string(message);
  return std::string(message.substr(at + prefix.size()));
}

std::string column_part(std::string qualified) {
  auto dot = qualified.rfind('.');
  return dot == std::string::npos ? qualified : qualified.substr(dot + 1);
}

// Whether a CREATE TABLE text holds the word CHECK outside its quoted names,
// literals and comments.
bool has_check_rule(std::string_view sql) {
  for (std::size_t i = 0; i < sql.size();) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      char close = c == '[' ? ']' : c;
      auto end = sql.find(close, i + 1);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (sql.substr(i, 2) == "--") {
      auto end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (sql.substr(i, 2) == "/*") {
      auto end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t start = i;
      while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_')) ++i;
      if (sqlite3_strnicmp(sql.data() + start, "CHECK", 5) == 0 && i - start == 5) return true;
    } else {
      ++i;
    }
  }
  return false;
}

class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(SqliteConnection& connection, sqlite3_stmt* statement)
      : connection_(connection), statement_(statement) {}
  ~SqliteCursor() override { sqlite3_finalize(statement_); }
  SqliteCursor(const SqliteCursor&) = delete;
  SqliteCursor& operator=(const SqliteCursor&) = delete;

  void bind(int index, const Value& value, Binding binding) override {
    bind_value(statement_, index, value, binding);
  }
  void bind_row_id(int index, RowId id) override { sqlite3_bind_int64(statement_, index, id); }
  bool step() override {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw connection_.failure_of(rc, jet_text_);
  }
  void reset() override { sqlite3_reset(statement_); }
  int column_count() override { return sqlite3_column_count(statement_); }
  std::string column_name(int column) override { return sqlite3_column_name(statement_, column); }
  ColumnKind column_kind(int column) override {
    // SQLite tells the table column a result column comes from.
    const char* table = sqlite3_column_table_name(statement_, column);
    const char* origin = sqlite3_column_origin_name(statement_, column);
    if (!table || !origin) return ColumnKind::Untyped;
    const TableInfo& info = connection_.table(table);
    int at = info.find(origin);
    return at < 0 ? ColumnKind::Untyped : info.columns[static_cast<std::size_t>(at)].kind;
  }
  Value read(int column, ColumnKind kind) override { return read_value(statement_, column, kind); }
  void read_into(int column, ColumnKind kind, Value& into) override {
    std::string* text = into.get_if<std::string>();
    if (text && kind == ColumnKind::Text && sqlite3_column_type(statement_, column) == SQLITE_TEXT) {
      auto p = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
      text->assign(p, static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
      return;
    }
    into = read_value(statement_, column, kind);
  }
  RowId read_row_id(int column) override { return sqlite3_column_int64(statement_, column); }
  std::int64_t rows_written() override { return sqlite3_changes64(sqlite3_db_handle(statement_)); }

  void renew(std::string_view jet_text) override {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    jet_text_ = jet_text;
  }

 private:
  SqliteConnection& connection_;
  sqlite3_stmt* statement_;
  std::string_view jet_text_;
};

}  // namespace

namespace {

// What a record may keep in memory of the pages it changed, for its savepoint
// to put back. SQLite keeps 64 KiB (fifteen pages) and then moves to a
// temporary file for the rest of the transaction, so that after one record of
// a large journal every later record wrote its pages there: 6.5 GB for a check
// run of a million lines. A record of a few lines stays well within this, and
// a larger one still goes to the file. The limit must stay under 128 KiB:
// SQLite writes what it kept to the file in one call, and its file layer cuts
// a call at 128 KiB and reports the rest as a full disk.
constexpr int kRecordUndoMemory = 120 * 1024;

// Set once, before SQLite starts; where another part of the process started
// it first, the settings are refused and nothing else changes.
// - SQLite counts every allocation under a process-wide mutex so that it can
//   report its memory use, which nothing here asks for: a row read takes one
//   allocation per text column.
// - A record's pages to put back, as above.
void start_sqlite() {
  static const bool started = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3_config(SQLITE_CONFIG_STMTJRNL_SPILL, kRecordUndoMemory);
    return sqlite3_initialize() == SQLITE_OK;
  }();
  (void)started;
}

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, std::string key, std::chrono::milliseconds busy_wait)
    : Connection(path, std::move(key), Dialect::Sqlite) {
  busy_wait_ = busy_wait;
  start_sqlite();
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    Failure f = failure(ErrorCode::CannotOpenFile, path);
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
  // The setting lasts as long as this connection; the file keeps its own.
  const std::string cache_size = "PRAGMA cache_size = -" + std::to_string(kPageCacheKiB);
  sqlite3_exec(db_, cache_size.c_str(), nullptr, nullptr, nullptr);
}

SqliteConnection::~SqliteConnection() {
  statements_.clear();
  sqlite3_finalize(table_info_);
  if (db_) {
    // Whatever was not committed by now belongs to no finished record.
    if (in_transaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
}

Failure SqliteConnection::failure_of(int rc, std::string_view jet_text) {
  std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  Failure result = [&] {
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
      case SQLITE_LOCKED: return failure(ErrorCode::DatabaseInUse, path());
      case SQLITE_NOTADB:
      case SQLITE_CORRUPT: return failure(ErrorCode::UnrecognizedFormat, path());
      case SQLITE_CANTOPEN:
      case SQLITE_PERM: return failure(ErrorCode::CannotOpenFile, path());
      case SQLITE_READONLY: return failure(ErrorCode::ReadOnly);
      case SQLITE_FULL: return failure(ErrorCode::DiskFull, path());
      case SQLITE_IOERR: return failure(ErrorCode::DiskIo, path());
      case SQLITE_CONSTRAINT: return failure(ErrorCode::ValidationRule, message);
      case SQLITE_ERROR:
        if (message.starts_with("no such table: ")) return failure(ErrorCode::TableNotFound, after(message, ": "));
        if (message.starts_with("no such column: ")) return failure(ErrorCode::TooFewParameters, after(message, ": "));
        if (!jet_text.empty()) return failure(ErrorCode::QuerySyntax, jet_text);
        break;
      default: break;
    }
    return failure(ErrorCode::EngineFailure, message);
  }();
  if (db_ && in_transaction() && sqlite3_get_autocommit(db_)) transaction_lost(result);
  return result;
}

void SqliteConnection::execute(const char* sql) {
  // Prepared once like every other statement: these run for every record.
  Cursor& statement = prepare(sql, {});
  CursorScope scope(statement);
  statement.step();
}

void SqliteConnection::begin_transaction(std::chrono::milliseconds wait) {
  sqlite3_busy_timeout(db_, static_cast<int>(wait.count()));
  try {
    execute("BEGIN IMMEDIATE");
  } catch (...) {
    sqlite3_busy_timeout(db_, static_cast<int>(kWriteBusyWait.count()));
    throw;
  }
  sqlite3_busy_timeout(db_, static_cast<int>(kWriteBusyWait.count()));
}

void SqliteConnection::commit_transaction() { execute("COMMIT"); }

void SqliteConnection::rollback_transaction() { execute("ROLLBACK"); }

Cursor& SqliteConnection::prepare(const std::string& sql, std::string_view jet_text) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) {
    it->second->renew(jet_text);
    return *it->second;
  }
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                              nullptr);
  if (rc != SQLITE_OK) throw failure_of(rc, jet_text);
  auto cursor = std::make_unique<SqliteCursor>(*this, statement);
  cursor->renew(jet_text);
  return *statements_.emplace(sql, std::move(cursor)).first->second;
}

std::optional<bool> SqliteConnection::table_exists(std::string_view name) {
  // Without a column, SQLite only looks for the table (or view) in the schema
  // it has read: SQLITE_ERROR is no such table.
  const std::string table_name(name);
  int rc = sqlite3_table_column_metadata(db_, nullptr, table_name.c_str(), nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  if (rc == SQLITE_ERROR) return false;
  throw failure_of(rc);
}

std::unique_ptr<TableInfo> SqliteConnection::load_table(std::string_view name) {
  auto info = std::make_unique<TableInfo>();
  const std::string table_name(name);
  if (!table_info_ &&
      sqlite3_prepare_v2(db_, "SELECT name, type, \"notnull\", dflt_value FROM pragma_table_info(?)", -1,
                         &table_info_, nullptr) != SQLITE_OK)
    throw failure_of(sqlite3_errcode(db_));
  sqlite3_stmt* s = table_info_;
  // Reset however the reading ends.
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> reset(s, sqlite3_reset);
  sqlite3_bind_text(s, 1, table_name.c_str(), -1, SQLITE_TRANSIENT);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    ColumnInfo column;
    column.name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    const char* declared = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    column.kind = column_kind(declared ? declared : "", &column.text_size);
    column.required = sqlite3_column_int(s, 2) != 0;
    const char* dflt = reinterpret_cast<const char*>(sqlite3_column_text(s, 3));
    column.default_value = default_from_sql(dflt ? dflt : "", column.kind);
    // Only texts compare by a collation; asking costs a search of the table's columns.
    const char* collation = nullptr;
    if (column.kind == ColumnKind::Text &&
        sqlite3_table_column_metadata(db_, nullptr, table_name.c_str(), column.name.c_str(), nullptr, &collation,
                                      nullptr, nullptr, nullptr) == SQLITE_OK && collation)
      column.nocase = sqlite3_stricmp(collation, "NOCASE") == 0;
    info->add(std::move(column));
  }
  if (rc != SQLITE_DONE) throw failure_of(rc);
  info->name = table_name;
  read_rules(*info);
  return info;
}

void SqliteConnection::read_rules(TableInfo& info) {
  auto query = [&](const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) throw failure_of(sqlite3_errcode(db_));
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(s, sqlite3_finalize);
    sqlite3_bind_text(s, 1, info.name.c_str(), -1, SQLITE_TRANSIENT);
    return statement;
  };
  auto triggers = query("SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE");
  int rc = sqlite3_step(triggers.get());
  if (rc == SQLITE_ROW) return;
  if (rc != SQLITE_DONE) throw failure_of(rc);
  // Without a trigger, only a CHECK rule of the table's own text refuses a
  // change of values that fit their columns.
  auto definition = query("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  rc = sqlite3_step(definition.get());
  if (rc == SQLITE_ROW) {
    const char* sql = reinterpret_cast<const char*>(sqlite3_column_text(definition.get(), 0));
    info.refuses_changes = !sql || has_check_rule(sql);
  } else if (rc != SQLITE_DONE) {
    throw failure_of(rc);
  }
  // Each unique index, not partial, over exactly one column of the table
  // (not an expression): the column's name and the index's collation.
  auto indexes = query(
      "SELECT x.name, x.coll FROM pragma_index_list(?1) AS l, pragma_index_xinfo(l.name) AS x"
      " WHERE l.\"unique\" AND NOT l.partial AND x.key GROUP BY l.name HAVING count(*) = 1 AND min(x.cid) >= 0");
  while ((rc = sqlite3_step(indexes.get())) == SQLITE_ROW) {
    const char* name = reinterpret_cast<const char*>(sqlite3_column_text(indexes.get(), 0));
    const char* index_collation = reinterpret_cast<const char*>(sqlite3_column_text(indexes.get(), 1));
    int at = name ? info.find(name) : -1;
    if (at < 0 || !index_collation) continue;
    // An index that compares otherwise than the column would refuse what a
    // look-up by the column does not find, or the other way round.
    const char* collation = nullptr;
    if (sqlite3_table_column_metadata(db_, nullptr, info.name.c_str(), name, nullptr, &collation, nullptr, nullptr,
                                      nullptr) != SQLITE_OK ||
        !collation || sqlite3_stricmp(collation, index_collation) != 0)
      continue;
    info.unique_columns.push_back(at);
  }
  if (rc != SQLITE_DONE) throw failure_of(rc);
}

}  // namespace kavelo::db

#include "db/sqlite_store.h"

#include <algorithm>

#include "db/sqlite_table_state.h"
#include "platform/text.h"

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

class SqliteStore::Statement {
 public:
  Statement(SqliteStore& store, sqlite3_stmt* statement) : store_(store), statement_(statement) {}
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // A text is bound where it is: the statement is reset before the value goes.
  void bind(int index, const Value& value) { bind_value(statement_, index, value, Binding::Referenced); }
  // Runs the statement, or moves to its next row: true while there is a row.
  bool step() {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Failure f = store_.failure_of(rc);
    sqlite3_reset(statement_);
    throw f;
  }
  void reset() { sqlite3_reset(statement_); }
  Value read(int column, ColumnKind kind) const { return read_value(statement_, column, kind, store_.regional_); }
  sqlite3_stmt* get() const { return statement_; }

 private:
  SqliteStore& store_;
  sqlite3_stmt* statement_;
};

namespace {

// Resets a statement when the scope ends, so that no read stays open and no
// bound text outlives its value.
class Running {
 public:
  explicit Running(sqlite3_stmt* statement) : statement_(statement) {}
  ~Running() { sqlite3_reset(statement_); }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;

 private:
  sqlite3_stmt* statement_;
};

}  // namespace

SqliteStore::SqliteStore(const std::string& path, std::chrono::milliseconds wait, const RegionalSettings& regional)
    : path_(path), regional_(regional) {
  start_sqlite();
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw failure(ErrorCode::CannotOpenFile, path);
  }
  sqlite3_extended_result_codes(db_, 1);
  // A quoted name that is no column must fail, not turn into a text.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_busy_timeout(db_, static_cast<int>(wait.count()));
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
  sqlite3_busy_timeout(db_, static_cast<int>(kWriteBusyWait.count()));
}

SqliteStore::~SqliteStore() {
  statements_.clear();
  if (db_) {
    // Whatever was not committed by now belongs to no finished record.
    if (in_transaction_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
}

Failure SqliteStore::failure_of(int rc) {
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
        break;
      default: break;
    }
    return failure(ErrorCode::EngineFailure, message);
  }();
  // Some failures (a full disk, an I/O error) make SQLite roll the whole
  // transaction back by itself.
  if (db_ && in_transaction_ && sqlite3_get_autocommit(db_)) {
    in_transaction_ = false;
    lost_ = true;
  }
  return result;
}

SqliteStore::Statement& SqliteStore::prepare(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return *it->second;
  sqlite3_stmt* statement = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement,
                              nullptr);
  if (rc != SQLITE_OK) throw failure_of(rc);
  return *statements_.emplace(sql, std::make_unique<Statement>(*this, statement)).first->second;
}

void SqliteStore::execute(const char* sql) {
  Statement& statement = prepare(sql);
  Running running(statement.get());
  statement.step();
}

// Transactions.

void SqliteStore::begin(std::chrono::milliseconds wait) {
  if (in_transaction_) return;
  lost_ = false;
  sqlite3_busy_timeout(db_, static_cast<int>(wait.count()));
  try {
    execute("BEGIN IMMEDIATE");
  } catch (...) {
    sqlite3_busy_timeout(db_, static_cast<int>(kWriteBusyWait.count()));
    throw;
  }
  sqlite3_busy_timeout(db_, static_cast<int>(kWriteBusyWait.count()));
  in_transaction_ = true;
}

void SqliteStore::commit() {
  if (!in_transaction_ || held_) return;
  execute("COMMIT");
  in_transaction_ = false;
}

void SqliteStore::roll_back() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  // A rollback that fails leaves the file's own journal to undo the writes.
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteStore::savepoint(const char* name) { execute((std::string("SAVEPOINT ") + name).c_str()); }

void SqliteStore::release(const char* name) { execute((std::string("RELEASE ") + name).c_str()); }

void SqliteStore::roll_back_to(const char* name) {
  execute((std::string("ROLLBACK TO ") + name).c_str());
  release(name);
}

// Reads.

Row SqliteStore::read_row(Statement& statement, const Table& table, int first_column) {
  Row row;
  row.reserve(table.columns.size());
  for (std::size_t i = 0; i < table.columns.size(); ++i)
    row.push_back(statement.read(first_column + static_cast<int>(i), table.columns[i].kind));
  return row;
}

SqliteStore::Statement& SqliteStore::finder(TableState& state, const Key& key) {
  std::string shape = "F";
  for (int c : key.columns) shape += std::to_string(c) + ',';
  if (auto it = state.statements.find(shape); it != state.statements.end()) return *it->second;
  std::string sql = "SELECT ";
  if (state.rowid) sql += "rowid, ";
  for (std::size_t i = 0; i < state.columns.size(); ++i) sql += (i ? ", " : "") + state.columns[i];
  sql += " FROM " + state.name + " WHERE ";
  for (std::size_t i = 0; i < key.columns.size(); ++i)
    sql += (i ? " AND " : "") + state.columns[static_cast<std::size_t>(key.columns[i])] + " = ?";
  Statement& statement = prepare(sql);
  state.statements.emplace(shape, &statement);
  return statement;
}

std::optional<Row> SqliteStore::find(const Table& table, const Key& key, const std::vector<Value>& values) {
  TableState& state = state_of(table);
  Statement& statement = finder(state, key);
  Running running(statement.get());
  for (std::size_t i = 0; i < values.size(); ++i) statement.bind(static_cast<int>(i) + 1, values[i]);
  if (!statement.step()) return std::nullopt;
  return read_row(statement, table, state.rowid ? 1 : 0);
}

namespace {

std::string where_sql(const std::vector<std::string>& columns, const Conditions& where) {
  std::string sql;
  for (std::size_t i = 0; i < where.size(); ++i)
    sql += (i ? " AND " : " WHERE ") + columns[static_cast<std::size_t>(where[i].first)] + " = ?";
  return sql;
}

}  // namespace

// A file's writes are done at once: every read sees them.
std::optional<Value> SqliteStore::largest(const Table& table, int column, const Conditions& where, Unsent) {
  TableState& state = state_of(table);
  // The maximum alone, which an index answers at once; whether any row
  // meets the conditions is asked only when it holds no value.
  const std::string from = " FROM " + state.name + where_sql(state.columns, where);
  for (const bool any : {false, true}) {
    Statement& statement = prepare(any ? "SELECT 1" + from + " LIMIT 1"
                                       : "SELECT max(" + state.columns[static_cast<std::size_t>(column)] + ")" + from);
    Running running(statement.get());
    for (std::size_t i = 0; i < where.size(); ++i) statement.bind(static_cast<int>(i) + 1, where[i].second);
    const bool row = statement.step();
    if (any) return row ? std::optional<Value>(Value()) : std::nullopt;
    if (row && sqlite3_column_type(statement.get(), 0) != SQLITE_NULL)
      return statement.read(0, table.columns[static_cast<std::size_t>(column)].kind);
  }
  return std::nullopt;
}

std::vector<Value> SqliteStore::distinct(const Table& table, int column, const Conditions& where, Unsent) {
  TableState& state = state_of(table);
  Statement& statement = prepare("SELECT DISTINCT " + state.columns[static_cast<std::size_t>(column)] + " FROM " +
                                 state.name + where_sql(state.columns, where));
  Running running(statement.get());
  for (std::size_t i = 0; i < where.size(); ++i) statement.bind(static_cast<int>(i) + 1, where[i].second);
  std::vector<Value> values;
  while (statement.step()) values.push_back(statement.read(0, table.columns[static_cast<std::size_t>(column)].kind));
  return values;
}

std::vector<Row> SqliteStore::rows(const Table& table, const std::vector<int>& columns, const Conditions& where,
                                   const std::optional<Span>& span, Unsent) {
  TableState& state = state_of(table);
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < columns.size(); ++i)
    sql += (i ? ", " : "") + state.columns[static_cast<std::size_t>(columns[i])];
  sql += " FROM " + state.name + where_sql(state.columns, where);
  if (span) {
    const std::string& c = state.columns[static_cast<std::size_t>(span->column)];
    sql += (where.empty() ? " WHERE " : " AND ") + c + " >= ? AND " + c + " < ?";
  }
  Statement& statement = prepare(sql);
  Running running(statement.get());
  for (std::size_t i = 0; i < where.size(); ++i) statement.bind(static_cast<int>(i) + 1, where[i].second);
  if (span) {
    statement.bind(static_cast<int>(where.size()) + 1, span->from);
    statement.bind(static_cast<int>(where.size()) + 2, span->to);
  }
  std::vector<Row> found;
  while (statement.step()) {
    Row& row = found.emplace_back();
    for (std::size_t i = 0; i < columns.size(); ++i)
      row.push_back(statement.read(static_cast<int>(i), table.columns[static_cast<std::size_t>(columns[i])].kind));
  }
  return found;
}

void SqliteStore::scan(const Table& table, const std::function<void(const Row&)>& each) {
  TableState& state = state_of(table);
  std::string sql = "SELECT ";
  for (std::size_t i = 0; i < state.columns.size(); ++i) sql += (i ? ", " : "") + state.columns[i];
  Statement& statement = prepare(sql + " FROM " + state.name);
  Running running(statement.get());
  while (statement.step()) each(read_row(statement, table));
}

// Writes.

SqliteStore::Statement& SqliteStore::storer(TableState& state, const Key& key,
                                           const RowValues& row, char kind) {
  // 'A' adds, 'O' offers (INSERT OR IGNORE), 'U' updates by rowid, 'C'
  // updates by the key.
  std::string shape(1, kind);
  shape.reserve(row.size() + 1);
  for (const auto& value : row) shape += value ? '1' : '0';
  if (kind == 'C')
    for (int c : key.columns) shape += std::to_string(c) + ',';
  if (state.last_statement && shape == state.last_shape) return *state.last_statement;
  Statement* statement = nullptr;
  if (auto it = state.statements.find(shape); it != state.statements.end()) {
    statement = it->second;
  } else {
    std::string names, values;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (!row[i]) continue;
      if (!names.empty()) names += ", ", values += ", ";
      names += state.columns[i];
      if (kind == 'U' || kind == 'C') names += " = ?";
      values += '?';
    }
    std::string sql;
    if (kind == 'U' || kind == 'C') {
      sql = "UPDATE " + state.name + " SET " + names + " WHERE ";
      if (kind == 'U') {
        sql += "rowid = ?";
      } else {
        for (std::size_t i = 0; i < key.columns.size(); ++i)
          sql += (i ? " AND " : "") + state.columns[static_cast<std::size_t>(key.columns[i])] + " = ?";
      }
    } else {
      // An offered row that the table refuses is left out without an error:
      // it is then looked up and written as any other.
      sql = std::string(kind == 'O' ? "INSERT OR IGNORE INTO " : "INSERT INTO ") + state.name +
            (names.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + values + ")");
    }
    statement = &prepare(sql);
    state.statements.emplace(shape, statement);
  }
  state.last_shape = std::move(shape);
  state.last_statement = statement;
  return *statement;
}

namespace {

// Binds the values a row writes, from 1; the next index.
template <class Statement>
int bind_written(Statement& statement, const RowValues& row) {
  int index = 0;
  for (const auto& value : row)
    if (value) statement.bind(++index, *value);
  return index + 1;
}

}  // namespace

void SqliteStore::write(const Table& table, const Key& key, RowValues row, WriteCounts& counts, WriteOutcome* outcome) {
  TableState& state = state_of(table);
  if (outcome) *outcome = {true, false, std::nullopt};
  if (state.last_added && key.columns.size() == 1 &&
      std::find(state.offered.begin(), state.offered.end(), key.columns.front()) != state.offered.end()) {
    Statement& offer = storer(state, key, row, 'O');
    Running running(offer.get());
    bind_written(offer, row);
    offer.step();
    if (sqlite3_changes(db_) > 0) {
      ++counts.added;
      return;
    }
  }

  Statement& finding = finder(state, key);
  std::optional<sqlite3_int64> rowid;
  std::vector<Value> stored_key;
  bool changes = false;
  {
    Running running(finding.get());
    for (std::size_t i = 0; i < key.columns.size(); ++i)
      finding.bind(static_cast<int>(i) + 1, *row[static_cast<std::size_t>(key.columns[i])]);
    if (finding.step()) {
      const int first = state.rowid ? 1 : 0;
      if (state.rowid) rowid = sqlite3_column_int64(finding.get(), 0);
      if (outcome) outcome->replaced = read_row(finding, table, first);
      // A row that would get back exactly the values it holds is not
      // written: loading the same file again writes nothing.
      for (std::size_t i = 0; i < row.size() && !changes; ++i)
        changes = row[i] && !(*row[i] == finding.read(first + static_cast<int>(i), table.columns[i].kind));
      if (changes && !state.rowid)
        for (int c : key.columns) stored_key.push_back(finding.read(first + c, table.columns[static_cast<std::size_t>(c)].kind));
    } else {
      finding.reset();
      Statement& adding = storer(state, key, row, 'A');
      Running adding_running(adding.get());
      bind_written(adding, row);
      adding.step();
      ++counts.added;
      state.last_added = true;
      return;
    }
  }
  state.last_added = false;
  ++counts.changed;
  if (!changes) return;
  Statement& updating = storer(state, key, row, rowid ? 'U' : 'C');
  Running running(updating.get());
  int next = bind_written(updating, row);
  if (rowid) {
    sqlite3_bind_int64(updating.get(), next, *rowid);
  } else {
    for (const Value& value : stored_key) updating.bind(next++, value);
  }
  updating.step();
}

void SqliteStore::change(const Table& table, const Key& key, RowValues row) {
  TableState& state = state_of(table);
  std::vector<Value> key_values;
  for (int c : key.columns) key_values.push_back(*row[static_cast<std::size_t>(c)]);
  Statement& updating = storer(state, key, row, 'C');
  Running running(updating.get());
  int next = bind_written(updating, row);
  for (const Value& value : key_values) updating.bind(next++, value);
  updating.step();
}

namespace {

// A key's values as the table's columns compare them: the NOCASE collation
// folds ASCII letters only.
std::string key_text(const Table& table, const Key& key, const std::vector<Value>& values,
                     const RegionalSettings& regional) {
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const ColumnInfo& column = table.columns[static_cast<std::size_t>(key.columns[i])];
    std::string part = to_text(values[i], regional);
    text += std::to_string(values[i].storage().index()) + ':' + (column.nocase ? upper(part) : part) + '\n';
  }
  return text;
}

}  // namespace

void SqliteStore::add(const Table& table, const Key& key, std::vector<Addition> additions) {
  TableState& state = state_of(table);
  // The rows these additions change, each read once and written once at
  // the end, in the order first added to.
  struct Held {
    Row values;
    std::vector<bool> changed;
    std::optional<sqlite3_int64> rowid;
    std::vector<Value> stored_key;
  };
  std::vector<Held> held;
  std::unordered_map<std::string, std::size_t> by_key;
  Statement& finding = finder(state, key);
  const int first = state.rowid ? 1 : 0;
  auto read_held = [&](const std::vector<Value>& values) -> std::optional<Held> {
    Running running(finding.get());
    for (std::size_t i = 0; i < values.size(); ++i) finding.bind(static_cast<int>(i) + 1, values[i]);
    if (!finding.step()) return std::nullopt;
    Held h{read_row(finding, table, first), std::vector<bool>(table.columns.size()), std::nullopt, {}};
    if (state.rowid) h.rowid = sqlite3_column_int64(finding.get(), 0);
    for (int c : key.columns) h.stored_key.push_back(h.values[static_cast<std::size_t>(c)]);
    return h;
  };
  auto apply = [&](Row& values, std::vector<bool>& changed, const Addition& addition) {
    for (const auto& [column, amount] : addition.amounts) {
      auto c = static_cast<std::size_t>(column);
      values[c] = convert_for_column(table.columns[c], add_amount(values[c], amount, regional_), regional_);
      changed[c] = true;
    }
  };

  for (const Addition& addition : additions) {
    std::string text = key_text(table, key, addition.key, regional_);
    auto it = by_key.find(text);
    if (it == by_key.end()) {
      std::optional<Held> found = read_held(addition.key);
      if (!found) {
        // A new row is added with the first amounts at once: it then holds
        // what the table gives it (defaults included) for the amounts after.
        RowValues row(table.columns.size());
        Row values;
        for (const ColumnInfo& column : table.columns) values.push_back(column.default_value);
        std::vector<bool> changed(table.columns.size());
        for (std::size_t i = 0; i < key.columns.size(); ++i) {
          auto c = static_cast<std::size_t>(key.columns[i]);
          values[c] = convert_for_column(table.columns[c], addition.key[i], regional_);
          changed[c] = true;
        }
        apply(values, changed, addition);
        for (std::size_t c = 0; c < values.size(); ++c)
          if (changed[c]) row[c] = values[c];
        {
          Statement& adding = storer(state, key, row, 'A');
          Running running(adding.get());
          bind_written(adding, row);
          adding.step();
        }
        std::vector<Value> stored;
        for (int c : key.columns) stored.push_back(values[static_cast<std::size_t>(c)]);
        found = read_held(stored);
        if (!found) throw failure(ErrorCode::EngineFailure, "la fila añadida a " + table.name + " no se encuentra");
        by_key.emplace(std::move(text), held.size());
        held.push_back(std::move(*found));
        continue;
      }
      // A key that the table takes for one it holds under another spelling
      // finds that row.
      std::string stored_text = key_text(table, key, found->stored_key, regional_);
      if (auto same = by_key.find(stored_text); same != by_key.end()) {
        it = by_key.emplace(std::move(text), same->second).first;
      } else {
        by_key.emplace(stored_text, held.size());
        it = by_key.emplace(std::move(text), held.size()).first;
        held.push_back(std::move(*found));
      }
    }
    Held& h = held[it->second];
    apply(h.values, h.changed, addition);
  }

  for (Held& h : held) {
    if (std::find(h.changed.begin(), h.changed.end(), true) == h.changed.end()) continue;
    RowValues row(table.columns.size());
    for (std::size_t c = 0; c < row.size(); ++c)
      if (h.changed[c]) row[c] = std::move(h.values[c]);
    Statement& updating = storer(state, key, row, h.rowid ? 'U' : 'C');
    Running running(updating.get());
    int next = bind_written(updating, row);
    if (h.rowid) {
      sqlite3_bind_int64(updating.get(), next, *h.rowid);
    } else {
      for (const Value& value : h.stored_key) updating.bind(next++, value);
    }
    updating.step();
  }
}

Value SqliteStore::as_stored(const ColumnInfo& column, const Value& value) const {
  // An amount is kept as a double.
  if (column.kind == ColumnKind::Currency)
    if (auto c = value.get_if<Currency>())
      if (auto back = currency_from_double(to_double(*c))) return *back;
  return value;
}

}  // namespace kavelo::db

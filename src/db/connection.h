#pragma once
// One physical SQLite connection to a company database, shared by every
// logical open of its path: prepared statements kept for reuse, table columns
// read once, and the transaction that groups the writes of many records.
#include <sqlite3.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/column_type.h"
#include "db/value.h"
#include "platform/failure.h"

namespace kavelo::db {

// Column names compared without regard to (ASCII) case, as SQL compares them.
struct CaselessHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const;
};
struct CaselessEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

struct TableInfo {
  std::string name;
  std::vector<ColumnInfo> columns;
  std::unordered_map<std::string, int, CaselessHash, CaselessEqual> index;

  int find(std::string_view column) const;  // -1 when there is none
};

class Connection {
 public:
  // Opens `path` (which must exist): fails when it is not a database or its
  // schema cannot be read within `busy_wait`.
  Connection(const std::string& path, std::string key, std::chrono::milliseconds busy_wait);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& path() const { return path_; }
  // The canonical path that identifies the database.
  const std::string& key() const { return key_; }

  // A logical open: fails when another program holds the write lock for
  // longer than the busy wait. Each acquire is paired with a release.
  void acquire();
  void release();

  // A prepared statement for `sql`, reset and with its bindings cleared.
  // `jet_text` names the query in a syntax error.
  sqlite3_stmt* prepare(const std::string& sql, std::string_view jet_text);
  const TableInfo& table(std::string_view name);

  // Called before every write: begins the grouped transaction when none is open.
  void begin_write();
  // Commits the grouped transaction, unless the connection holds its writes.
  void commit();
  // From now on nothing is committed: every write stays in one transaction
  // until roll_back() undoes it (a check run).
  void hold_writes() { held_ = true; }
  void roll_back();
  bool in_transaction() const { return in_transaction_; }

  void begin_unit();
  void end_unit(bool keep);
  bool in_unit() const { return unit_open_; }

  // The Failure for SQLite's result code `rc` of the last call. Some failures
  // (a full disk, an I/O error) make SQLite roll back the whole transaction:
  // the connection then knows it has none.
  Failure failure_of(int rc, std::string_view jet_text = {});
  sqlite3_int64 last_insert_rowid() const { return sqlite3_last_insert_rowid(db_); }
  // Runs a statement without result rows.
  void execute(const char* sql);

 private:
  void begin(std::chrono::milliseconds wait);
  int step_once(const char* sql);

  std::string path_;
  std::string key_;
  sqlite3* db_ = nullptr;
  std::chrono::milliseconds busy_wait_;
  std::unordered_map<std::string, sqlite3_stmt*> statements_;
  std::map<std::string, std::unique_ptr<TableInfo>, std::less<>> tables_;
  int handles_ = 0;
  bool in_transaction_ = false;
  bool dirty_ = false;
  bool unit_open_ = false;
  bool held_ = false;
};

// Binds the parameters, 1 to n.
void bind_all(sqlite3_stmt* statement, const std::vector<Value>& params);

// Resets a statement when the scope ends, so that no read stays open.
class StatementScope {
 public:
  explicit StatementScope(sqlite3_stmt* s) : s_(s) {}
  ~StatementScope() { sqlite3_reset(s_); }
  StatementScope(const StatementScope&) = delete;
  StatementScope& operator=(const StatementScope&) = delete;

 private:
  sqlite3_stmt* s_;
};

}  // namespace kavelo::db

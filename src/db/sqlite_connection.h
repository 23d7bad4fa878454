#pragma once
// A company database in an SQLite file.
#include <sqlite3.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "db/connection.h"

namespace kavelo::db {

// The page cache of every connection, in KiB. A journal of a million lines
// makes a database of hundreds of megabytes whose balance rows are looked up
// line after line, and every commit writes the pages it changed: twelve
// megabytes, six times SQLite's default, spare most of the reads through the
// kernel and some of the writes, and keep the whole program under 32 MB.
inline constexpr int kPageCacheKiB = 12 * 1024;

class SqliteConnection final : public Connection {
 public:
  // Opens `path` (which must exist): fails when it is not a database or its
  // schema cannot be read within `busy_wait`.
  SqliteConnection(const std::string& path, std::string key, std::chrono::milliseconds busy_wait);
  ~SqliteConnection() override;

  Cursor& prepare(const std::string& sql, std::string_view jet_text) override;
  RowId last_insert_row_id() override { return sqlite3_last_insert_rowid(db_); }
  void execute(const char* sql) override;

  // The Failure for SQLite's result code `rc` of the last call. Some failures
  // (a full disk, an I/O error) make SQLite roll back the whole transaction:
  // the connection then knows it has none.
  Failure failure_of(int rc, std::string_view jet_text = {});

 protected:
  void begin_transaction(std::chrono::milliseconds wait) override;
  void commit_transaction() override;
  void rollback_transaction() override;
  std::unique_ptr<TableInfo> load_table(std::string_view name) override;
  std::optional<bool> table_exists(std::string_view name) override;

 private:
  // Fills the table's unique_columns from its indexes, and tells whether it
  // may refuse a change (refuses_changes).
  void read_rules(TableInfo& info);

  sqlite3* db_ = nullptr;
  std::unordered_map<std::string, std::unique_ptr<Cursor>> statements_;
  // Reads the columns of the table bound to it: made once, for every table.
  sqlite3_stmt* table_info_ = nullptr;
};

}  // namespace kavelo::db

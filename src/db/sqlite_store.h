#pragma once
// A company database in an SQLite file: every write is done at once with a
// prepared statement, and the file's write lock keeps other writers out for
// the length of a transaction.
#include <sqlite3.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "db/store.h"
#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo::db {

// The page cache of the connection, in KiB. A journal of a million lines
// makes a database of hundreds of megabytes whose balance rows are looked up
// line after line, and every commit writes the pages it changed: twelve
// megabytes, six times SQLite's default, spare most of the reads through the
// kernel and some of the writes, and keep the whole program under 32 MB.
inline constexpr int kPageCacheKiB = 12 * 1024;

class SqliteStore final : public Store {
 public:
  // Opens the database file at `path`: fails when it is not a database, or
  // when its schema cannot be read within `wait` (another program holds it).
  SqliteStore(const std::string& path, std::chrono::milliseconds wait, const RegionalSettings& regional);
  ~SqliteStore() override;
  SqliteStore(const SqliteStore&) = delete;
  SqliteStore& operator=(const SqliteStore&) = delete;

  const Table& table(std::string_view name) override;
  bool has_table(std::string_view name) override;

  void begin(std::chrono::milliseconds wait) override;
  void lock(const std::vector<std::string>&, std::chrono::milliseconds) override {}
  void commit() override;
  void roll_back() override;
  bool in_transaction() const override { return in_transaction_; }
  void hold() override { held_ = true; }
  void savepoint(const char* name) override;
  void release(const char* name) override;
  void roll_back_to(const char* name) override;
  bool lost() const override { return lost_; }

  std::optional<Row> find(const Table& table, const Key& key, const std::vector<Value>& values) override;
  std::optional<Value> largest(const Table& table, int column, const Conditions& where, Unsent unsent) override;
  std::vector<Value> distinct(const Table& table, int column, const Conditions& where, Unsent unsent) override;
  void scan(const Table& table, const std::function<void(const Row&)>& each) override;
  std::vector<Row> rows(const Table& table, const std::vector<int>& columns, const Conditions& where,
                        const std::optional<Span>& span,
                        Unsent unsent) override;

  void write(const Table& table, const Key& key, RowValues row, WriteCounts& counts,
             WriteOutcome* outcome = nullptr) override;
  void change(const Table& table, const Key& key, RowValues row) override;
  void add(const Table& table, const Key& key, std::vector<Addition> additions) override;
  void sync() override {}

  Value as_stored(const ColumnInfo& column, const Value& value) const override;

 private:
  class Statement;
  struct TableState;

  TableState& state_of(const Table& table);
  // A prepared statement for `sql`, kept for the life of the store.
  Statement& prepare(const std::string& sql);
  void execute(const char* sql);
  // The Failure of SQLite's result code `rc`. A failure after which SQLite
  // has rolled the whole transaction back (a full disk) marks it lost.
  Failure failure_of(int rc);
  void read_table(Table& table, TableState& state);
  Row read_row(Statement& statement, const Table& table, int first_column = 0);
  // The statement that finds a row by the key, all its columns read.
  Statement& finder(TableState& state, const Key& key);
  // INSERT (OR IGNORE) or UPDATE by key of the columns `row` writes.
  Statement& storer(TableState& state, const Key& key, const RowValues& row, char kind);

  std::string path_;
  sqlite3* db_ = nullptr;
  RegionalSettings regional_;
  std::map<std::string, std::unique_ptr<Table>, std::less<>> tables_;
  std::unordered_map<const Table*, std::unique_ptr<TableState>> states_;
  std::unordered_map<std::string, std::unique_ptr<Statement>> statements_;
  bool in_transaction_ = false;
  bool held_ = false;
  bool lost_ = false;
};

}  // namespace kavelo::db

#pragma once
// One physical connection to a company database, shared by every logical open
// of its path: prepared statements kept for reuse, table columns read once,
// and the transaction that groups the writes of many records. The store
// behind it (an SQLite file, a database server through ODBC) is a subclass;
// what is said here holds for every store.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/column_type.h"
#include "db/engine.h"
#include "db/jet_sql.h"
#include "db/value.h"
#include "platform/failure.h"

namespace kavelo::db {

// Where a row lives, for finding it again: grows with each row added.
using RowId = std::int64_t;

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
  // "SELECT <row id>, <every column> FROM <table>", made once.
  std::string rows_from;
  // The columns that a unique index of their own keeps apart, compared by
  // the column's own collation: the table itself refuses a second row with
  // a value one of them holds already. Only where the store says so, and
  // none in a table with triggers, which could write rows of their own.
  std::vector<int> unique_columns;
  // The table may refuse a change to a row it holds: it has a CHECK rule or a
  // trigger, or the store cannot tell.
  bool refuses_changes = true;

  int find(std::string_view column) const;  // -1 when there is none
  void add(ColumnInfo column);
};

// A prepared statement of a store. Parameters are bound from 1, result
// columns read from 0.
class Cursor {
 public:
  virtual ~Cursor() = default;
  // A text bound Referenced must stay where it is until the cursor is reset.
  virtual void bind(int index, const Value& value, Binding binding = Binding::Copied) = 0;
  virtual void bind_row_id(int index, RowId id) = 0;
  // Runs the statement, or moves to its next row: true while there is a row.
  virtual bool step() = 0;
  // Ends a run: the statement can run again with new parameters.
  virtual void reset() = 0;
  // Made ready for a new run, as prepare() hands it out: reset, its bindings
  // cleared, and `jet_text` the name of the query in its errors.
  virtual void renew(std::string_view jet_text) = 0;

  virtual int column_count() = 0;
  virtual std::string column_name(int column) = 0;
  // The kind of a result column, as far as the store tells it.
  virtual ColumnKind column_kind(int column) = 0;
  virtual Value read(int column, ColumnKind kind) = 0;
  // The same into a value that may hold a text already, whose memory is
  // then used again (a row read record after record).
  virtual void read_into(int column, ColumnKind kind, Value& into) { into = read(column, kind); }
  virtual RowId read_row_id(int column) = 0;
  // The rows the statement wrote when it last ran; -1 when the store does
  // not tell.
  virtual std::int64_t rows_written() = 0;

  void bind_all(const std::vector<Value>& params, int first = 1) {
    for (std::size_t i = 0; i < params.size(); ++i) bind(first + static_cast<int>(i), params[i]);
  }
};

// Resets a cursor when the scope ends, so that no read stays open.
class CursorScope {
 public:
  explicit CursorScope(Cursor& c) : c_(c) {}
  ~CursorScope() { c_.reset(); }
  CursorScope(const CursorScope&) = delete;
  CursorScope& operator=(const CursorScope&) = delete;

 private:
  Cursor& c_;
};

class Connection {
 public:
  Connection(std::string path, std::string key, Dialect dialect) : path_(std::move(path)), key_(std::move(key)), dialect_(dialect) {}
  virtual ~Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  const std::string& path() const { return path_; }
  // What identifies the database (its canonical path, or its server and name).
  const std::string& key() const { return key_; }
  Dialect dialect() const { return dialect_; }

  // A logical open: fails when another program holds the write lock for
  // longer than the busy wait. Each acquire is paired with a release.
  void acquire();
  void release();

  // A prepared statement for `sql`, reset and with its bindings cleared.
  // `jet_text` names the query in a syntax error; it must outlive the use.
  // The statement lasts as long as the connection: a caller that runs it
  // again and again may keep it and renew it, without looking up its text.
  virtual Cursor& prepare(const std::string& sql, std::string_view jet_text) = 0;
  const TableInfo& table(std::string_view name);
  // Fails as table() does when there is no such table, without reading its
  // columns when the store can tell at once.
  void require_table(std::string_view name);
  // The row identity of the row the last INSERT added.
  virtual RowId last_insert_row_id() = 0;

  // Called before every write: begins the grouped transaction when none is open.
  void begin_write();
  // Called before every read: a database held open reads inside a transaction
  // (begun again after each commit), so that the store does not take and drop
  // its lock for every statement.
  void begin_read();
  // Commits the grouped transaction, unless the connection holds its writes.
  // When the store lost a transaction with writes in it (it rolled it back
  // on its own), the loss is reported here once.
  void commit();
  // From now on nothing is committed: every write stays in one transaction
  // until roll_back() undoes it (a check run).
  void hold_writes() { held_ = true; }
  void roll_back();
  bool in_transaction() const { return in_transaction_; }

  // The tables a run is about to write: the transaction takes, before its
  // first read, the lock that keeps other writers of them out until it
  // commits; readers go on. A file's write lock does so already. A lock that
  // stays taken by another session longer than the write busy wait fails
  // with the table's name, after a transaction that wrote nothing has given
  // back what it had locked.
  void lock_for_writing(const std::vector<std::string>& tables);

  void begin_unit();
  void end_unit(bool keep);
  bool in_unit() const { return unit_open_; }

  // Writes kept in memory by a caller: flushed before every commit, told of
  // the ends of record units, dropped with a lost or rolled-back transaction.
  void defer(DeferredWrites& writes);
  // Flushes them (and any others) when no record unit is open, then forgets them.
  void withdraw(DeferredWrites& writes);

  // Runs a statement without result rows.
  virtual void execute(const char* sql) = 0;
  // False once the store is out of reach (a server that dropped the
  // connection): the engine then opens a new connection for the next open.
  virtual bool usable() const { return true; }

 protected:
  virtual void begin_transaction(std::chrono::milliseconds wait) = 0;
  virtual void commit_transaction() = 0;
  virtual void rollback_transaction() = 0;
  // Reads a table's columns; nullptr when there is no such table.
  virtual std::unique_ptr<TableInfo> load_table(std::string_view name) = 0;
  // Whether there is such a table; nullopt when only reading its columns tells.
  virtual std::optional<bool> table_exists(std::string_view /*name*/) { return std::nullopt; }
  // Locks the tables against other writers until the transaction ends,
  // waiting at most `wait`; a table that stays taken fails as TableInUse.
  virtual void lock_tables(const std::vector<std::string>& /*tables*/, std::chrono::milliseconds /*wait*/) {}
  // The store ended the transaction by itself (a full disk, a lost server):
  // every write since the last commit is gone.
  void transaction_lost(const Failure& why);

  std::chrono::milliseconds busy_wait_{0};

 private:
  void begin(std::chrono::milliseconds wait);
  // Writes the deferred writes; one that fails loses the transaction.
  void flush_deferred();
  // Rolls the transaction back as lost for `why`: reported at the next commit.
  void lose(const Failure& why);

  std::string path_;
  std::string key_;
  Dialect dialect_;
  std::map<std::string, std::unique_ptr<TableInfo>, std::less<>> tables_;
  int handles_ = 0;
  bool in_transaction_ = false;
  bool dirty_ = false;
  bool unit_open_ = false;
  bool held_ = false;
  std::optional<Failure> lost_;
  std::vector<DeferredWrites*> deferred_;
  std::vector<std::string> locked_;  // by this transaction
};

// A write that meets a lock taken by another program waits this long: the
// accounting application holds its locks only for moments.
inline constexpr std::chrono::milliseconds kWriteBusyWait{30000};

}  // namespace kavelo::db

#pragma once
// The company database engine: open a database by path, open record sets from
// Jet SQL texts, walk, find, add and change rows.
//
// Every open of the same path is a cheap logical handle on one physical SQLite
// connection, so a caller may open and close the database per call and still
// see every row stored through another handle. Writes are grouped into
// transactions that the engine commits at record boundaries.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/column_type.h"
#include "db/jet_sql.h"
#include "db/value.h"

namespace kavelo::db {

class Connection;
class RecordsetImpl;

enum class RecordsetType { Default, Dynaset, ForwardOnly };

class Recordset {
 public:
  Recordset();
  explicit Recordset(std::unique_ptr<RecordsetImpl> impl);
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;
  ~Recordset();

  bool eof() const;
  void move_first();
  void move_next();
  void move_last();
  // Exact once MoveLast has run; before, the rows visited so far (at least 1
  // when the set is not empty).
  std::int64_t record_count() const;

  int field_count() const;
  const std::string& field_name(int index) const;
  // The current row's value, or the value set since AddNew or Edit. Names are
  // compared without regard to case; an unknown name is error 3265.
  Value get(std::string_view name) const;
  Value get(int index) const;

  // Moves to the first row that meets both the record set's own condition and
  // `criteria` (a Jet SQL condition); NoMatch tells whether one was found.
  void find_first(std::string_view criteria);
  // The same for the condition that each column equals its value, as the text
  // "COL1=v1 AND COL2=v2" would say it: for a caller that looks up a key
  // record after record, without writing it as text and reading it back.
  void find_first(const std::vector<Equality>& terms);
  bool no_match() const;

  void add_new();
  void edit();
  // Edit of the first row that meets the terms (as find_first would find it),
  // or AddNew when there is none; the set's current row is then the one
  // found. For a key that a unique index of the table keeps apart, a set
  // over the whole table leaves the look-up to the store while the rows it
  // stores are new: update() offers the row to the table, and looks the key
  // up only when the table refuses it. A new key then costs one statement
  // instead of two.
  void add_or_edit(const std::vector<Equality>& terms);
  // Converts the value by the column's type now; a value the column cannot
  // take fails here.
  void set(std::string_view name, const Value& value);
  // The same by the column's position, found once with column_index (-1 when
  // the set has no such column), for a caller that writes many rows.
  void set(int index, Value&& value);
  int column_index(std::string_view name) const;
  // Stores the row begun by AddNew, Edit or add_or_edit: true when it added
  // a row.
  bool update();
  // True between AddNew and the update or cancel that ends it. After
  // add_or_edit it looks the key up, if update() was to do it.
  bool adding() const;
  void close();

 private:
  std::unique_ptr<RecordsetImpl> impl_;
};

// Writes that a caller keeps in memory over many records (the balances that a
// journal's lines add up to) and hands to the store before the transaction
// commits, so that every commit is whole: no record without what it deferred.
class DeferredWrites {
 public:
  virtual ~DeferredWrites() = default;
  // Writes what is kept and forgets it. A failure here loses the transaction.
  virtual void flush() = 0;
  // A record unit ended: what it changed is kept, or undone. True when what
  // is kept has grown enough to be written now.
  virtual bool unit_ended(bool kept) = 0;
  // The transaction is gone, and what was kept for it with it.
  virtual void discard() = 0;
};

class Database {
 public:
  Database() = default;
  explicit Database(std::shared_ptr<Connection> connection);
  Database(Database&&) noexcept = default;
  Database& operator=(Database&&) noexcept = default;
  ~Database();

  Recordset open_recordset(std::string_view jet_sql, RecordsetType type = RecordsetType::Default);
  void close();
  bool is_open() const { return connection_ != nullptr; }

  // The columns of a table, in order; error 3078 when there is no such table.
  const std::vector<ColumnInfo>& columns(std::string_view table);
  // Whether the table may refuse a change to a row it holds (a CHECK rule, a
  // trigger, or a store that cannot tell).
  bool refuses_changes(std::string_view table);
  // Fails as open_recordset(jet_sql) does when the set's table is not there,
  // without preparing its query or reading its rows: for a caller that turns
  // out to have nothing to read or write in it.
  void check_recordset(std::string_view jet_sql);

  // Locks the tables against other writers for the rest of the transaction
  // (Connection::lock_for_writing).
  void lock_for_writing(const std::vector<std::string>& tables);

  // Tells `writes` of the ends of this database's record units and
  // transactions, and has them flushed before every commit, until
  // withdraw(), which flushes them a last time (between records). They must
  // outlive their registration.
  void defer(DeferredWrites& writes);
  void withdraw(DeferredWrites& writes);

 private:
  std::shared_ptr<Connection> connection_;
};

// Undoes everything one record wrote when it ends without `commit()`.
class RecordUnit {
 public:
  RecordUnit(RecordUnit&&) noexcept;
  RecordUnit& operator=(RecordUnit&&) = delete;
  ~RecordUnit();
  void commit();

 private:
  friend class Engine;
  explicit RecordUnit(std::shared_ptr<Connection> connection);
  std::shared_ptr<Connection> connection_;
};

// A commit costs a few disk syncs and a pause: the interval bounds how long
// another program waits for the lock and how much work a crash undoes; the
// count only bounds a transaction when records come faster than 40,000 a
// second.
struct CommitPolicy {
  int records = 20000;
  std::chrono::milliseconds interval{500};
  // How long the lock stays free after such a commit.
  std::chrono::milliseconds pause{5};
};

class Engine {
 public:
  // The one engine of the process.
  static Engine& instance();

  // Opens the database at `path`: the file must exist and be a readable
  // SQLite database, or a link file that names a database on a server. A
  // locked database waits about `busy_wait` before it fails.
  Database open_database(const std::string& path);

  // Starts one record as a unit on the database at `path` (opened before).
  RecordUnit begin_record(const std::string& path);
  // The end of one record: commits when the policy says so; true when it did.
  bool record_boundary();
  // Commits everything pending on every connection.
  void commit();
  // Commits and closes every connection; in a check run, rolls back instead.
  void shutdown();

  // A check run: every write of the process stays in one transaction per
  // database, never committed, and shutdown() rolls it back, so the databases
  // are left as they were. Set before the first open.
  void set_check_run(bool on) { check_run_ = on; }
  bool check_run() const { return check_run_; }

  // How a database on a server is opened, for programs that carry the ODBC
  // backend: (link file path, its key, connection string, busy wait).
  using ServerOpener = std::function<std::shared_ptr<Connection>(const std::string&, const std::string&,
                                                                 const std::string&, std::chrono::milliseconds)>;
  void set_server_opener(ServerOpener opener) { server_opener_ = std::move(opener); }

  void set_commit_policy(CommitPolicy policy) { policy_ = policy; }
  void set_busy_wait(std::chrono::milliseconds wait) { busy_wait_ = wait; }

 private:
  std::shared_ptr<Connection> connection_for(const std::string& path);

  std::vector<std::shared_ptr<Connection>> connections_;
  std::unordered_map<std::string, std::shared_ptr<Connection>> by_path_;
  ServerOpener server_opener_;
  CommitPolicy policy_;
  std::chrono::milliseconds busy_wait_{50};
  bool check_run_ = false;
  int records_since_commit_ = 0;
  std::chrono::steady_clock::time_point last_commit_ = std::chrono::steady_clock::now();
};

}  // namespace kavelo::db

#pragma once
// The company database as kavelo uses it: a table's columns and keys, rows
// found and written by a key of the table's own, the largest and the distinct
// values of a column, amounts added to rows, and the transactions that group
// the writes of many records. An SQLite file and a PostgreSQL server each
// implement it their own way; no SQL text crosses this line.
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/column_type.h"
#include "db/value.h"

namespace kavelo::db {

// A write that meets a lock taken by another program waits this long: the
// accounting application holds its locks only for moments.
inline constexpr std::chrono::milliseconds kWriteBusyWait{30000};

// Columns that the table's primary key or one of its unique indexes keeps
// unique together: a row is found by their values, in this order.
struct Key {
  std::vector<int> columns;
};

struct Table {
  std::string name;  // as kavelo writes it: "F_CLI"
  // In the table's order, named as kavelo writes them ("CODCLI", "D-HAPU").
  std::vector<ColumnInfo> columns;
  // The primary key and every unique index over plain columns (not partial,
  // no expression), each as its columns' positions.
  std::vector<std::vector<int>> unique_keys;
  // The table may refuse a change to a row it holds: it has a CHECK rule or a
  // trigger (on a server also a rule, a row security policy or a column of a
  // domain with a CHECK rule), or the store cannot tell.
  bool refuses_changes = true;

  // The position of a column, names compared without regard to ASCII case;
  // -1 when there is none.
  int find(std::string_view column) const;
  // The same; a missing column is error 3265 naming it.
  int at(std::string_view column) const;
  // The key made of exactly these columns (in any order in the index); a
  // table without such a primary key or unique index fails with a message
  // that names the table and the columns.
  Key key(std::initializer_list<std::string_view> columns) const;
  Key key(const std::vector<std::string_view>& columns) const;
};

// Values of one row by column position.
using Row = std::vector<Value>;
// Values to write by column position; an empty slot is not written: a new
// row takes the column's default, a row found keeps its value.
using RowValues = std::vector<std::optional<Value>>;
// Columns that must hold these values, each by position.
using Conditions = std::vector<std::pair<int, Value>>;
// A column whose value must lie from `from` up to, not including, `to`.
struct Span {
  int column = 0;
  Value from, to;
};

// Amounts to add to the columns of the row that a key's values find, in this
// order: each amount is added to what the column holds (a column or an amount
// that holds no value counts as 0), the sum converted by the column's type. A
// row that is not there is added first, with the key's values and the
// columns' defaults.
struct Addition {
  std::vector<Value> key;
  std::vector<std::pair<int, Value>> amounts;  // column position, amount
};

// What a read does with writes that a store gathers and has not sent yet:
// sends them first, so that the read sees them, or leaves them, for a caller
// that knows what it wrote and spares the store a send.
enum class Unsent { sent_first, left };

// What became of one write, once the store knows it: at once, or at the
// next sync.
struct WriteOutcome {
  bool known = false;
  // Refused as a duplicate of another unique value and passed over, as a
  // store that writes many rows at once may do by itself.
  bool passed_over = false;
  std::optional<Row> replaced;  // the row the write found; nullopt: none
};

// Rows added and rows changed by writes, and rows a store passed over by
// itself as duplicates.
struct WriteCounts {
  long added = 0;
  long changed = 0;
  long duplicates = 0;
};

class Store {
 public:
  virtual ~Store() = default;

  // The table by name, without regard to ASCII case; error 3078 when there
  // is none. The reference stays valid as long as the store.
  virtual const Table& table(std::string_view name) = 0;
  // Whether there is such a table, without reading what table() reads.
  virtual bool has_table(std::string_view name) = 0;

  // Transactions. Every read and write happens inside one, begun by begin().

  // Begins a transaction unless one is open. On a file this takes the
  // file's write lock, waiting at most `wait` for another program (then
  // error 3045); on a server it takes no lock yet.
  virtual void begin(std::chrono::milliseconds wait) = 0;
  // Keeps other writers of these tables out until the transaction ends;
  // readers go on. A file's write lock does so already. A table that another
  // session keeps longer than `wait` fails with error 3211 naming it; the
  // transaction then stays open and usable.
  virtual void lock(const std::vector<std::string>& tables, std::chrono::milliseconds wait) = 0;
  // Commits; a store that holds its writes (hold()) keeps the transaction
  // open instead.
  virtual void commit() = 0;
  // Undoes the open transaction, if any.
  virtual void roll_back() = 0;
  virtual bool in_transaction() const = 0;
  // From now on nothing is committed: every write stays in one transaction
  // until roll_back() (a check run). A store may then keep the sums of
  // exact amounts that add() adds to itself, each row it adds to checked as
  // it would stand but left as it was: a read of such a row does not see
  // them.
  virtual void hold() = 0;

  // Savepoints of the open transaction, by name; a name used again while
  // its savepoint is open makes a new one inside it. Writes not yet sent are
  // sent first (a refusal surfaces here), except for roll_back_to, which
  // drops them, undoes everything since the savepoint and releases it.
  virtual void savepoint(const char* name) = 0;
  virtual void release(const char* name) = 0;
  virtual void roll_back_to(const char* name) = 0;

  // True once the store has ended the transaction by itself (a full disk, a
  // server that dropped the connection): every write since the last commit
  // is gone. Cleared by the next begin().
  virtual bool lost() const = 0;
  // False once the store is out of reach for good: a new one must be opened.
  virtual bool usable() const { return true; }

  // Reads. Each sees every write made before it.

  // The row whose key columns hold `values` (as the columns compare them), or
  // nullopt.
  virtual std::optional<Row> find(const Table& table, const Key& key, const std::vector<Value>& values) = 0;
  // The largest value of `column` among the rows that meet `where`: nullopt
  // when no row does, Null when none of them holds a value.
  virtual std::optional<Value> largest(const Table& table, int column, const Conditions& where,
                                       Unsent unsent = Unsent::sent_first) = 0;
  // The distinct values of `column` among the rows that meet `where`, in no
  // particular order.
  virtual std::vector<Value> distinct(const Table& table, int column, const Conditions& where,
                                      Unsent unsent = Unsent::sent_first) = 0;
  // Every row of the table, in no particular order.
  virtual void scan(const Table& table, const std::function<void(const Row&)>& each) = 0;
  // The values of `columns` (by position, in that order) of the rows that
  // meet `where` and lie in `span`, in no particular order: a few, read at
  // once.
  virtual std::vector<Row> rows(const Table& table, const std::vector<int>& columns, const Conditions& where,
                                const std::optional<Span>& span, Unsent unsent = Unsent::sent_first) = 0;

  // Writes. A refusal (errors 3022, 3314, 3317, a trigger's) surfaces at the
  // write itself or at a later sync(), savepoint() or release(); the records
  // written in between then have to be undone and written again one by one
  // (what the import procedure does), because nothing tells which write of a
  // group was refused.

  // Adds the row, or changes the row that the key's values (which `row`
  // writes) find: only the columns written. A row found that would get back
  // the values it holds is not written, and counts as changed. `counts`
  // (which must outlive the next sync) learns the outcome once the store
  // knows it: at once or at the next sync(); so does `outcome`, when given.
  // Without `outcome` a store may pass over by itself a row that duplicates
  // another unique value (counted in `counts`); with it, only where it says
  // so in the outcome.
  virtual void write(const Table& table, const Key& key, RowValues row, WriteCounts& counts,
                     WriteOutcome* outcome = nullptr) = 0;
  // Changes the written columns of the row that the key's values find;
  // nothing when there is none.
  virtual void change(const Table& table, const Key& key, RowValues row) = 0;
  // Adds the amounts, addition after addition (see Addition).
  virtual void add(const Table& table, const Key& key, std::vector<Addition> additions) = 0;
  // Sends every write not yet sent; the first refusal surfaces here. The
  // effect of the writes, changes and additions is that of doing them one
  // after the other in the order they were asked for.
  virtual void sync() = 0;

  // The value that reading `value` back from the column gives once it is
  // stored (a file keeps amounts as doubles, for instance).
  virtual Value as_stored(const ColumnInfo& column, const Value& value) const = 0;
};

}  // namespace kavelo::db

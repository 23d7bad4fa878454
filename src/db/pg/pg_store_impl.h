#pragma once
// The state of a PgStore, shared by its interface (pg_store.cpp) and by the
// sending of the writes it gathers (pg_sync.cpp).
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "db/pg/pg_connection.h"
#include "db/pg/pg_schema.h"
#include "db/pg/pg_store.h"
#include "db/pg/pg_values.h"
#include "platform/failure.h"

namespace kavelo::db::pg {

// How a column compares as part of a key.
enum class KeyForm {
  Exact,
  // Without case: a unique index of the table holds its folded form.
  Folded,
  // By a collation that takes more than case for one ('AB' and 'A-soft
  // hyphen-B'): a row it finds is the key's only when their folded forms
  // agree too, and a key that only the collation matches cannot be added.
  Coarse,
};

// The amounts summed for one key of a batch of additions.
struct SumRow {
  std::vector<Value> key;
  std::vector<std::pair<int, WideAmount>> sums;  // column, ten-thousandths

  // The sum of the column, 0 until something is added to it.
  WideAmount& of(int column) {
    auto sum = std::find_if(sums.begin(), sums.end(), [&](const auto& s) { return s.first == column; });
    return sum == sums.end() ? sums.emplace_back(column, 0).second : sum->second;
  }
};

// Whether an addition's amounts may be summed before they are added: exact
// amounts, to a table that takes any change (one that may refuse a change
// must meet each; a sum of doubles depends on their order).
inline bool summable(const Table& table, const Addition& addition) {
  return !table.refuses_changes && std::all_of(addition.amounts.begin(), addition.amounts.end(), [&](const auto& a) {
    return table.columns.at(static_cast<std::size_t>(a.first)).kind == ColumnKind::Currency;
  });
}

struct ServerColumn {
  std::string name;         // the server's, quoted
  std::string cast;         // the type a parameter is cast to ("numeric", "jet_bit")
  std::string default_sql;  // the default's expression; empty for none
  bool boolean = false;     // a yes/no of the boolean type, written true/false
  KeyForm form = KeyForm::Exact;
};

struct ServerTable {
  Table table;
  std::string name;     // the server's, quoted
  std::string scratch;  // the session's temporary table for its rows, quoted
  bool scratch_ready = false;
  bool scratch_key_ready = false;  // its unique index of the rows' keys
  // The scratch table's own columns begin with this, which no column of the
  // table begins with.
  std::string helper = "kavelo_";
  std::vector<ServerColumn> columns;
  // The rows its last sync wrote were all new: the next go straight into the
  // table by COPY, which costs half a merge, and by a merge only when that
  // fails (a key the table holds, or a row it refuses).
  bool rows_new = true;
  // COPY passes the table's rules by: its rows go by INSERT and UPDATE.
  bool has_rules = false;
  // The columns of each unique index (sorted; -1 for what is no plain or
  // folded column, such as a partial index's condition), and whether an
  // exclusion constraint keeps rows apart too.
  std::vector<std::vector<int>> unique_sets;
  bool excludes = false;
  // A unique index checked at the end of the transaction, which an INSERT
  // that passes over duplicates cannot check.
  bool defers_unique = false;
  // Rows of the table and rows changed since the server last read its
  // statistics, as far as this session knows.
  long live = 0;
  long unanalyzed = 0;
  bool analyzed = false;  // by this session, once
  // While the store holds its writes: every exact sum added to each key so
  // far, by key_text(), under the key's first spelling (see hold_sums).
  std::unordered_map<std::string, SumRow> held;

  // Whether the server's statistics of the table are too old to choose how
  // to find the rows a merge joins: a table loaded moments ago (kavelo's
  // locks keep the server's own analysis away) would be searched by the
  // wrong index, a thousand times slower. Once a session is enough: the
  // statistics then tell which index finds a key.
  bool needs_analysis() const { return !analyzed && unanalyzed > std::max(1000L, live / 5); }

  // Whether rows may meet another unique rule than the key's, which then
  // depends on the order they are written in.
  bool unique_beyond(std::vector<int> key) const {
    std::sort(key.begin(), key.end());
    return excludes || std::any_of(unique_sets.begin(), unique_sets.end(), [&](const auto& s) { return s != key; });
  }
};

// Writes of the same columns (and tallied in the same counts), sent by one
// statement: no key twice.
// What the statements of a sync did with a group's rows.
struct Tally {
  long added = 0;
  long passed_over = 0;  // duplicates of another unique value
};

struct WriteGroup {
  std::vector<int> columns;
  WriteCounts* counts = nullptr;
  long rows = 0;
  int number = 0;  // in the temporary table, given at the sync
};

enum class StepKind { Write, Change, AddSum, AddEach };

// Consecutive requests of one kind on one table by one key, sent together.
// Requests on other tables in between do not split a step: tables do not
// see each other's rows.
struct Step {
  StepKind kind;
  ServerTable* table;
  std::vector<int> key;

  // Write: the rows, each with its group.
  std::vector<WriteGroup> groups;
  std::vector<std::pair<int, RowValues>> rows;
  std::vector<WriteOutcome*> outcomes;  // by row: who learns what became of it, or nullptr
  std::unordered_map<std::string, int> last_group_of_key;
  std::map<std::pair<std::vector<int>, WriteCounts*>, int> last_group_of_columns;
  // Change.
  std::vector<RowValues> changes;
  // AddSum: one row per key, in the order the keys came.
  std::vector<SumRow> sums;
  std::unordered_map<std::string, std::size_t> sum_of_key;
  std::set<int> sum_columns;
  int group = 0;
  WideAmount peak = 0;  // the largest size a key's running sum reached
  // AddEach; AddSum's too, in order.
  std::vector<Addition> additions;
  // Held (see hold_sums): sent inside a savepoint rolled back at once; an
  // AddEach first brings its keys' rows to the sums held before it.
  bool held = false;
  std::vector<SumRow> held_before;
};

// A sum added to a held key, to be taken out again when what added it is
// undone.
struct HeldChange {
  ServerTable* table;
  std::string key;
  int column;
  WideAmount amount;
};

// A running sum this large (ten-thousandths) may pass what its column holds
// on the way to a smaller one: such additions go one by one, so that the one
// that passes it is refused, as it would be alone.
constexpr WideAmount kLargeSum = WideAmount{10000} * 10000000000000;  // 10^13

// Requests gathered past this many are sent without waiting for a sync, so
// that a caller that syncs seldom does not gather a whole file in memory.
constexpr long kMostPending = 20000;
// A sync with no more rows than this for a table sends a statement for each
// instead of a COPY into the scratch table and a merge: one round trip less,
// and nothing made in the catalogue for a record written by itself.
constexpr long kFewRows = 16;

// The condition that the key columns of `left` (a table or its alias, or
// empty for the columns alone) hold the values `right(i)` gives, each
// compared as its column compares keys.
template <class Right>
std::string key_match(const ServerTable& t, const std::vector<int>& key, std::string_view left, Right right) {
  std::string sql;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const ServerColumn& c = t.columns[static_cast<std::size_t>(key[i])];
    std::string column = left.empty() ? c.name : std::string(left) + "." + c.name;
    std::string value = right(i);
    if (!sql.empty()) sql += " AND ";
    if (c.form != KeyForm::Folded) sql += column + " = " + value;
    if (c.form == KeyForm::Coarse) sql += " AND ";
    if (c.form != KeyForm::Exact) sql += folded_key(column) + " = " + folded_key(value);
  }
  return sql;
}

// An amount to add to `column`, in ten-thousandths.
WideAmount amount_of(const ColumnInfo& column, const Value& amount, const RegionalSettings& regional);

struct PgStore::Impl {
  Impl(const std::string& connection_string, const RegionalSettings& settings)
      : connection(connection_string), regional(settings) {}

  Connection connection;
  const RegionalSettings regional;
  std::map<std::string, std::unique_ptr<ServerTable>> tables;  // by kavelo's name
  std::unordered_map<const Table*, ServerTable*> by_table;
  std::vector<Step> steps;
  std::unordered_map<ServerTable*, std::size_t> last_step;
  long pending = 0;
  // Savepoints begun, released and rolled back to while nothing was being
  // written: sent ahead of whatever goes to the server next, so that a
  // record written by itself costs one round trip.
  std::vector<std::string> prelude;
  // Whether the session may make temporary tables; unknown until the first
  // table is read.
  std::optional<bool> can_make_scratch;
  bool in_transaction = false;
  bool wrote = false;  // the open transaction has sent a write
  bool holding = false;
  // The sums held, change by change, and how many changes each savepoint
  // open in the transaction came after.
  std::vector<HeldChange> held_changes;
  std::vector<std::pair<std::string, std::size_t>> held_marks;
  bool lost = false;
  long scans = 0;

  // Runs `f`; a failure that lost the session loses the transaction with it.
  template <class F>
  auto guarded(F&& f) -> decltype(f()) {
    try {
      return f();
    } catch (const Failure&) {
      if (connection.broken()) lose();
      throw;
    }
  }

  void lose() {
    lost = true;
    in_transaction = false;
    forget_writes();
    prelude.clear();
    forget_held();
  }

  // A transaction held (a check run) never commits, so every change of a row
  // leaves a version that each later statement on the row walks past: a
  // balance row added to by every group would slow the run down the longer
  // it gets. Instead the exact sums added to each key are kept here, and a
  // sync sets each row it adds to as it would stand by now (what it held
  // before the transaction plus every sum since), inside a savepoint rolled
  // back at once: each refusal comes where it would, and no version stays.
  void hold_sums(Step& step);
  void take_back_held(std::size_t changes);
  void forget_held() {
    for (auto& [name, t] : tables) t->held.clear();
    held_changes.clear();
    held_marks.clear();
  }

  // The prelude as the first commands of a pipeline; `commands` follow.
  std::vector<Command> with_prelude(std::vector<Command> commands) {
    if (prelude.empty()) return commands;
    std::vector<Command> all;
    for (std::string& sql : prelude) all.emplace_back().sql = std::move(sql);
    prelude.clear();
    for (Command& command : commands) all.push_back(std::move(command));
    return all;
  }
  // Runs the commands after the prelude; a refusal throws.
  void run_or_throw(std::vector<Command> commands) {
    auto all = with_prelude(std::move(commands));
    guarded([&] { connection.run_or_throw(all); });
  }

  void forget_writes() {
    steps.clear();
    last_step.clear();
    pending = 0;
  }

  // Counts a request gathered; too many are sent at once.
  void gathered() {
    if (++pending >= kMostPending) flush_or_throw({});
  }

  // A rollback may take the temporary tables made since with it.
  void forget_scratch() {
    for (auto& [name, t] : tables) t->scratch_ready = t->scratch_key_ready = false;
  }

  ServerTable& entry(const Table& table) {
    auto it = by_table.find(&table);
    if (it == by_table.end())
      throw failure(ErrorCode::InvalidOperation);
    return *it->second;
  }

  const Table& load(std::string_view name);

  // A table with rules takes its rows only through a scratch table, which a
  // session without the right to make temporary tables cannot make.
  void check_writable(const ServerTable& t) const {
    if (t.has_rules && can_make_scratch == false)
      throw failure(ErrorCode::EngineFailure,
                    fmt::format("la tabla {} tiene reglas, que kavelo solo cumple escribiendo sus filas a través de "
                                "una tabla temporal, y el usuario del servidor no puede crearlas (permiso TEMP de la "
                                "base de datos)",
                                t.table.name));
  }

  Step& step_for(ServerTable& t, StepKind kind, const std::vector<int>& key) {
    if (auto it = last_step.find(&t); it != last_step.end()) {
      Step& step = steps[it->second];
      if (step.kind == kind && step.key == key) return step;
    }
    Step& step = steps.emplace_back();
    step.kind = kind;
    step.table = &t;
    step.key = key;
    last_step[&t] = steps.size() - 1;
    return step;
  }

  // Sends the gathered writes, then `tail`, in one pipeline; a refusal of a
  // write throws, a refusal of a statement of `tail` is returned (its index
  // counted in `tail`).
  std::optional<Refusal> flush(std::vector<Command> tail);
  void flush_or_throw(std::vector<Command> tail) {
    if (auto refusal = flush(std::move(tail))) throw connection.failure(refusal->error);
  }
  // A read, after the writes gathered are sent unless they are to be left.
  void read(std::vector<Command> commands, Unsent unsent) {
    if (unsent == Unsent::sent_first) return flush_or_throw(std::move(commands));
    run_or_throw(std::move(commands));
  }

  // COPY of the rows of a sync into the table's temporary table, made first
  // if need be; `before` runs ahead of both.
  void copy_rows(ServerTable& t, std::vector<Step*>& steps_of_table, std::string before);
  // COPY of the written rows of a sync straight into the table, a statement
  // for each group of the same columns; each counts as added.
  void copy_straight(ServerTable& t, std::vector<Step*>& steps_of_table, std::string before,
                     std::map<WriteGroup*, Tally>& tallies);
  // The statements that merge the rows of the scratch table into the table:
  // an UPDATE of the rows it holds, then an INSERT of those it lacks.
  void write_statements(Step& step, std::vector<Command>& commands, std::map<WriteGroup*, Tally>& tallies);
  // The same for each row by itself, its values as parameters, in the order
  // written; `skip_duplicates`: a new row that duplicates another unique
  // value is passed over, as a row written alone would be.
  void row_statements(Step& step, std::vector<Command>& commands, std::map<WriteGroup*, Tally>& tallies,
                      bool skip_duplicates);
  void change_statements(Step& step, std::vector<Command>& commands);
  void sum_statements(Step& step, std::vector<Command>& commands);
  void sum_row_statements(const ServerTable& t, const std::vector<int>& key, const std::vector<SumRow>& sums,
                          std::vector<Command>& commands);
  void each_statements(Step& step, std::vector<Command>& commands);
  // INSERT INTO t (columns) SELECT values WHERE NOT EXISTS (a row of the key).
  // `from`: " FROM ..." or empty; `condition`: what else the rows meet.
  std::string insert_new(const ServerTable& t, const std::vector<int>& key, const std::string& columns,
                         const std::string& values, const std::string& from, const std::string& condition,
                         const std::function<std::string(std::size_t)>& key_value);

  // "c1 = $3 AND c2 IS NULL", the parameters appended to `params`.
  std::string where(const ServerTable& t, const std::vector<std::pair<int, const Value*>>& conditions,
                    Params& params);
  // The row `row` of a result whose columns from `first` on are the table's.
  Row row_of(const ServerTable& t, const PGresult& result, int row, int first = 0);
};

}  // namespace kavelo::db::pg

#include "db/pg/pg_store.h"

#include <algorithm>
#include <charconv>
#include <map>

#include <fmt/format.h>

#include "db/pg/pg_connection.h"
#include "db/pg/pg_store_impl.h"
#include "db/pg/pg_values.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::db::pg {
namespace {

constexpr int kScanBatch = 5000;

std::string fold_ascii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The key's values as the columns compare them (ASCII case folded for a
// column without case), as one text.
template <class ValueAt>
std::string key_text(const ServerTable& t, const std::vector<int>& key, ValueAt value_at) {
  std::string text;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const Value* v = value_at(i);
    if (!v || v->is_null()) {
      text += "\x01N";
    } else {
      std::string part;
      append_server_text(part, *v, t.columns[static_cast<std::size_t>(key[i])].boolean);
      text += t.table.columns[static_cast<std::size_t>(key[i])].nocase ? fold_ascii(std::move(part)) : part;
    }
    text += '\0';
  }
  return text;
}

// `value` as a value of the column's kind, for a look-up: a text of any
// length finds what it finds.
Value as_kind(const ColumnInfo& column, const Value& value, const RegionalSettings& regional) {
  if (value.is_null()) return value;
  switch (column.kind) {
    case ColumnKind::Text: return value.is_text() ? value : Value(to_text(value, regional));
    case ColumnKind::Byte:
      if (value.get_if<std::uint8_t>()) return value;
      break;
    case ColumnKind::Short:
      if (value.get_if<std::int16_t>()) return value;
      break;
    case ColumnKind::Long:
      if (value.get_if<std::int32_t>()) return value;
      break;
    case ColumnKind::Double:
      if (value.get_if<double>()) return value;
      break;
    case ColumnKind::Currency:
      if (value.get_if<Currency>()) return value;
      break;
    case ColumnKind::DateTime:
      if (value.is_date()) return value;
      break;
    case ColumnKind::Bit:
      if (value.is_boolean()) return value;
      break;
    case ColumnKind::Untyped: return value;
  }
  return convert_for_column(column, value, regional);
}

}  // namespace

WideAmount amount_of(const ColumnInfo& column, const Value& amount, const RegionalSettings& regional) {
  if (amount.is_null()) return 0;
  if (auto c = amount.get_if<Currency>()) return c->ten_thousandths;
  return convert_for_column(column, amount, regional).get_if<Currency>()->ten_thousandths;
}

const Table& PgStore::Impl::load(std::string_view name) {
  // The server's table whose name is this one without regard to case, the
  // one in lower case first.
  static const std::string relation =
      "WITH r AS (SELECT c.oid, c.relname FROM pg_class c WHERE lower(c.relname) = lower($1::text) AND c.relkind IN "
      "('r', 'p') AND pg_table_is_visible(c.oid) ORDER BY c.relname = lower($1::text) DESC LIMIT 1) ";
  const bool ask_scratch = !can_make_scratch;
  std::vector<Command> commands(ask_scratch ? 4 : 3);
  commands[0].sql = relation +
                    "SELECT r.relname, a.attnum, a.attname, CASE WHEN t.typtype = 'd' THEN t.typname ELSE '' END, "
                    "b.typname, CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod END, "
                    "a.attnotnull OR (t.typtype = 'd' AND t.typnotnull), "
                    "coalesce(pg_get_expr(d.adbin, d.adrelid), ''), coalesce(co.collisdeterministic, true)::text, "
                    "format_type(a.atttypid, NULL) "
                    "FROM r JOIN pg_attribute a ON a.attrelid = r.oid AND a.attnum > 0 AND NOT a.attisdropped "
                    "JOIN pg_type t ON t.oid = a.atttypid "
                    "JOIN pg_type b ON b.oid = CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE t.oid END "
                    "LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
                    "LEFT JOIN pg_collation co ON co.oid = a.attcollation ORDER BY a.attnum";
  // Keys usable to find a row by: unique, checked at once, not partial; each
  // as the numbers of its key columns (not those it only includes), a column
  // whose folded form the index holds by its number made negative.
  commands[1].sql = relation +
                    "SELECT array_to_string(array(SELECT CASE WHEN i.indkey[k] <> 0 THEN i.indkey[k]::text ELSE "
                    "coalesce((SELECT '-' || a.attnum FROM pg_attribute a WHERE a.attrelid = r.oid AND a.attnum > 0 "
                    "AND NOT a.attisdropped AND pg_get_indexdef(i.indexrelid, k + 1, false) IN "
                    "(format('lower(((%s)::text COLLATE \"und-x-icu\"))', quote_ident(a.attname)), "
                    "format('lower((%s COLLATE \"und-x-icu\"))', quote_ident(a.attname)))), 'x') END "
                    "FROM generate_series(0, i.indnkeyatts - 1) AS k), ' '), "
                    "(i.indimmediate AND i.indpred IS NULL)::text, i.indimmediate::text FROM r JOIN pg_index i ON "
                    "i.indrelid = r.oid WHERE i.indisunique AND i.indisvalid "
                    "ORDER BY i.indisprimary DESC, i.indexrelid";
  // Whatever may refuse a change of values that fit their columns: a CHECK
  // rule of the table or of a column's domain, a trigger, a rule, a row
  // security policy. Then whether it has rules, which COPY passes by.
  commands[2].sql = relation +
                    "SELECT (c.relrowsecurity "
                    "OR EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conrelid = r.oid AND k.contype = 'c') "
                    "OR EXISTS (SELECT 1 FROM pg_trigger g WHERE g.tgrelid = r.oid AND NOT g.tgisinternal) "
                    "OR EXISTS (SELECT 1 FROM pg_rewrite w WHERE w.ev_class = r.oid AND w.rulename <> '_RETURN') "
                    "OR EXISTS (SELECT 1 FROM pg_attribute a JOIN pg_constraint d ON d.contypid = a.atttypid "
                    "WHERE a.attrelid = r.oid AND a.attnum > 0 AND NOT a.attisdropped AND d.contype = 'c'))::text, "
                    "EXISTS (SELECT 1 FROM pg_rewrite w WHERE w.ev_class = r.oid AND w.rulename <> '_RETURN')::text, "
                    "EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conrelid = r.oid AND k.contype = 'x')::text, "
                    "coalesce(s.n_mod_since_analyze, 0), coalesce(s.n_live_tup, 0) "
                    "FROM r JOIN pg_class c ON c.oid = r.oid LEFT JOIN pg_stat_user_tables s ON s.relid = r.oid";
  auto t = std::make_unique<ServerTable>();
  std::map<long, int> position_of_attnum;
  commands[0].params = commands[1].params = commands[2].params = {std::string(name)};
  commands[2].on_result = [&](const PGresult& result) {
    const bool found = pq().PQntuples(&result) > 0;
    t->table.refuses_changes = !found || std::string_view(pq().PQgetvalue(&result, 0, 0)) != "false";
    t->has_rules = found && std::string_view(pq().PQgetvalue(&result, 0, 1)) == "true";
    t->excludes = found && std::string_view(pq().PQgetvalue(&result, 0, 2)) == "true";
    if (found) {
      t->unanalyzed = std::atol(pq().PQgetvalue(&result, 0, 3));
      t->live = std::atol(pq().PQgetvalue(&result, 0, 4));
    }
  };
  if (ask_scratch) {
    commands[3].sql = "SELECT has_database_privilege(current_database(), 'TEMP')::text";
    commands[3].on_result = [&](const PGresult& result) {
      can_make_scratch = std::string_view(pq().PQgetvalue(&result, 0, 0)) == "true";
    };
  }
  commands[0].on_result = [&](const PGresult& result) {
    for (int i = 0; i < pq().PQntuples(&result); ++i) {
      auto text = [&](int column) { return std::string(pq().PQgetvalue(&result, i, column)); };
      if (i == 0) {
        t->name = quoted(text(0));
        t->table.name = upper(text(0));
      }
      position_of_attnum[std::stol(text(1))] = i;
      ColumnInfo column;
      column.name = upper(text(2));
      std::string domain = text(3), type = text(4);
      column.kind = kind_of_server_type(type, domain);
      int typmod = std::stoi(text(5));
      if (column.kind == ColumnKind::Text && (type == "varchar" || type == "bpchar") && typmod >= 4)
        column.text_size = typmod - 4;
      if (column.kind == ColumnKind::Currency && type == "numeric" && typmod >= 4) column.decimals = (typmod - 4) & 0xffff;
      column.required = text(6) == "t";
      column.default_value = default_of(text(7), column.kind);
      ServerColumn server{quoted(text(2)), column.kind == ColumnKind::Text ? "text" : text(9), text(7),
                          column.kind == ColumnKind::Bit && type == "bool", KeyForm::Exact};
      if (column.kind == ColumnKind::Text && text(8) == "false") server.form = KeyForm::Coarse;
      column.nocase = server.form != KeyForm::Exact;
      // The scratch table's own columns must not meet the table's.
      while (lower(text(2)).starts_with(t->helper)) t->helper += '_';
      t->columns.push_back(std::move(server));
      t->table.columns.push_back(std::move(column));
    }
  };
  // Read after the columns: the pipeline keeps the order.
  commands[1].on_result = [&](const PGresult& result) {
    for (int i = 0; i < pq().PQntuples(&result); ++i) {
      std::vector<int> key;
      std::vector<int> folds;
      std::string_view numbers = pq().PQgetvalue(&result, i, 0);
      while (!numbers.empty()) {
        long attnum = 0;
        auto [end, ec] = std::from_chars(numbers.data(), numbers.data() + numbers.size(), attnum);
        auto it = position_of_attnum.find(attnum < 0 ? -attnum : attnum);
        // A system column (attnum 0 or less) or another expression is no
        // key kavelo can find rows by.
        if (ec != std::errc() || it == position_of_attnum.end()) {
          key.clear();
          break;
        }
        key.push_back(it->second);
        if (attnum < 0) folds.push_back(it->second);
        numbers.remove_prefix(static_cast<std::size_t>(end - numbers.data()));
        if (!numbers.empty()) numbers.remove_prefix(1);
      }
      std::vector<int> set = key;
      if (key.empty()) set.push_back(-1);
      std::sort(set.begin(), set.end());
      t->unique_sets.push_back(std::move(set));
      if (std::string_view(pq().PQgetvalue(&result, i, 2)) != "true") t->defers_unique = true;
      // A partial index, or one checked only at the end of the transaction,
      // finds no row by itself.
      if (key.empty() || std::string_view(pq().PQgetvalue(&result, i, 1)) != "true") continue;
      for (int column : folds) {
        auto c = static_cast<std::size_t>(column);
        if (t->table.columns[c].kind != ColumnKind::Text) continue;
        if (t->columns[c].form == KeyForm::Exact) t->columns[c].form = KeyForm::Folded;
        t->table.columns[c].nocase = true;
      }
      t->table.unique_keys.push_back(std::move(key));
    }
  };
  run_or_throw(std::move(commands));
  if (t->table.columns.empty()) throw failure(ErrorCode::TableNotFound, upper(name));
  t->scratch = quoted("kavelo_" + lower(t->table.name));
  ServerTable* raw = t.get();
  tables[upper(name)] = std::move(t);
  by_table[&raw->table] = raw;
  return raw->table;
}

Row PgStore::Impl::row_of(const ServerTable& t, const PGresult& result, int row, int first) {
  Row values;
  values.reserve(t.columns.size());
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const int column = first + static_cast<int>(i);
    if (pq().PQgetisnull(&result, row, column)) {
      values.emplace_back();
    } else {
      values.push_back(value_of(std::string_view(pq().PQgetvalue(&result, row, column),
                                                 static_cast<std::size_t>(pq().PQgetlength(&result, row, column))),
                                t.table.columns[i].kind, t.columns[i].boolean));
    }
  }
  return values;
}

PgStore::PgStore(const std::string& connection_string, const RegionalSettings& regional)
    : impl_(std::make_unique<Impl>(connection_string, regional)) {}

PgStore::~PgStore() = default;

const Table& PgStore::table(std::string_view name) {
  auto it = impl_->tables.find(upper(name));
  if (it != impl_->tables.end()) return it->second->table;
  return impl_->load(name);
}

bool PgStore::has_table(std::string_view name) {
  if (impl_->tables.contains(upper(name))) return true;
  try {
    table(name);
    return true;
  } catch (const Failure& f) {
    if (f.number() != static_cast<int>(ErrorCode::TableNotFound)) throw;
    return false;
  }
}

void PgStore::begin(std::chrono::milliseconds) {
  if (impl_->in_transaction) return;
  impl_->prelude.clear();
  // A constraint the table defers is checked at each statement all the same:
  // a row it refuses is then the refusal of the record that wrote it.
  impl_->guarded([&] { impl_->connection.execute("BEGIN; SET CONSTRAINTS ALL IMMEDIATE"); });
  impl_->in_transaction = true;
  impl_->wrote = false;
  impl_->lost = false;
  impl_->forget_held();
}

void PgStore::lock(const std::vector<std::string>& tables, std::chrono::milliseconds wait) {
  if (!impl_->in_transaction) begin(wait);
  // The wait is this call's own, for reading a table's definition too (which
  // waits for a lock that keeps readers out): the session's bound for every
  // other statement of the transaction is put back after it, however it ends.
  const std::string session_wait = fmt::format("SET LOCAL lock_timeout = {}", kWriteBusyWait.count());
  std::vector<Command> own_wait(1);
  own_wait[0].sql = fmt::format("SET LOCAL lock_timeout = {}", std::max<long long>(wait.count(), 1));
  impl_->flush_or_throw(std::move(own_wait));
  auto undo = [&] {
    std::vector<Command> back(3);
    back[0].sql = "ROLLBACK TO SAVEPOINT kavelo_lock";
    back[1].sql = "RELEASE SAVEPOINT kavelo_lock";
    back[2].sql = session_wait;
    impl_->guarded([&] { impl_->connection.run_or_throw(back); });
  };
  std::vector<const ServerTable*> locked;
  for (const std::string& name : tables) {
    if (!impl_->tables.contains(upper(name))) {
      // Read inside a savepoint: a wait that runs out leaves the transaction usable.
      savepoint("kavelo_lock");
      try {
        table(name);
      } catch (const Failure& refused) {
        if (impl_->connection.broken()) throw;
        undo();
        if (refused.number() == static_cast<int>(ErrorCode::DatabaseInUse))
          throw failure(ErrorCode::TableInUse, upper(name));
        throw;
      }
      release("kavelo_lock");
    }
    locked.push_back(&impl_->entry(table(name)));
  }
  // Each lock inside a savepoint: one refused leaves the transaction usable.
  // EXCLUSIVE keeps out every other writer and lets readers on.
  std::vector<Command> commands;
  for (const ServerTable* t : locked) {
    commands.emplace_back().sql = "SAVEPOINT kavelo_lock";
    commands.emplace_back().sql =
        fmt::format("LOCK TABLE {} IN EXCLUSIVE MODE{}", t->name, wait.count() > 0 ? "" : " NOWAIT");
    commands.emplace_back().sql = "RELEASE SAVEPOINT kavelo_lock";
  }
  commands.emplace_back().sql = session_wait;
  auto refusal = impl_->flush(std::move(commands));
  if (!refusal) return;
  if (refusal->index >= 3 * locked.size()) throw impl_->connection.failure(refusal->error);
  undo();
  const std::string& state = refusal->error.sqlstate;
  if (state == "55P03" || state == "40P01")
    throw failure(ErrorCode::TableInUse, locked[refusal->index / 3]->table.name);
  throw impl_->connection.failure(refusal->error);
}

void PgStore::commit() {
  if (!impl_->in_transaction || impl_->holding) {
    impl_->flush_or_throw({});
    return;
  }
  // A transaction the server had already ended by an error commits nothing:
  // COMMIT then answers ROLLBACK.
  bool rolled_back = false;
  std::vector<Command> commands(1);
  commands[0].sql = "COMMIT";
  commands[0].on_result = [&](const PGresult& result) {
    rolled_back = std::string_view(pq().PQcmdStatus(const_cast<PGresult*>(&result))) == "ROLLBACK";
  };
  impl_->flush_or_throw(std::move(commands));
  impl_->in_transaction = false;
  // One that had written nothing loses nothing (a read that met a lock).
  if (rolled_back && impl_->wrote) {
    impl_->forget_scratch();
    throw failure(ErrorCode::EngineFailure,
                  "el servidor ya había deshecho la transacción por un error anterior; no se ha guardado nada");
  }
}

void PgStore::roll_back() {
  impl_->forget_writes();
  impl_->forget_scratch();
  impl_->prelude.clear();
  impl_->forget_held();
  if (!impl_->in_transaction) return;
  impl_->in_transaction = false;
  if (impl_->connection.broken()) return;
  try {
    impl_->connection.execute("ROLLBACK");
  } catch (const Failure&) {
    // A session lost on the way has lost the transaction anyway.
    if (!impl_->connection.broken()) throw;
    impl_->lose();
  }
}

bool PgStore::in_transaction() const { return impl_->in_transaction; }

void PgStore::hold() { impl_->holding = true; }

// While nothing is being written, savepoints wait for what is sent next.
void PgStore::savepoint(const char* name) {
  const std::string sql = "SAVEPOINT " + quoted(name);
  if (impl_->steps.empty()) {
    impl_->prelude.push_back(sql);
  } else {
    std::vector<Command> commands(1);
    commands[0].sql = sql;
    impl_->flush_or_throw(std::move(commands));
  }
  impl_->held_marks.emplace_back(name, impl_->held_changes.size());
}

namespace {

// The last savepoint of that name among those open.
std::vector<std::pair<std::string, std::size_t>>::iterator last_mark(
    std::vector<std::pair<std::string, std::size_t>>& marks, const char* name) {
  for (auto it = marks.end(); it != marks.begin();)
    if ((--it)->first == name) return it;
  return marks.end();
}

}  // namespace

void PgStore::release(const char* name) {
  const std::string begun = "SAVEPOINT " + quoted(name), sql = "RELEASE " + begun;
  if (!impl_->steps.empty()) {
    std::vector<Command> commands(1);
    commands[0].sql = sql;
    impl_->flush_or_throw(std::move(commands));
  } else if (!impl_->prelude.empty() && impl_->prelude.back() == begun) {
    // Begun and released with nothing sent in between: nothing to do.
    impl_->prelude.pop_back();
  } else {
    impl_->prelude.push_back(sql);
  }
  // What it held now belongs to the savepoint around it.
  auto& marks = impl_->held_marks;
  if (auto mark = last_mark(marks, name); mark != marks.end()) marks.erase(mark, marks.end());
}

void PgStore::roll_back_to(const char* name) {
  impl_->forget_writes();
  auto& marks = impl_->held_marks;
  if (auto mark = last_mark(marks, name); mark != marks.end()) {
    impl_->take_back_held(mark->second);
    marks.erase(mark, marks.end());
  }
  std::vector<std::string>& prelude = impl_->prelude;
  const std::string begun = "SAVEPOINT " + quoted(name);
  // A savepoint not sent yet has nothing after it on the server.
  if (auto it = std::find(prelude.rbegin(), prelude.rend(), begun); it != prelude.rend()) {
    prelude.erase(std::prev(it.base()), prelude.end());
    return;
  }
  // Whatever waits was done inside the savepoint, which undoes it anyway; a
  // rollback may take the temporary tables made since with it.
  impl_->forget_scratch();
  prelude.clear();
  prelude.push_back("ROLLBACK TO " + begun);
  prelude.push_back("RELEASE " + begun);
}

bool PgStore::lost() const { return impl_->lost; }

bool PgStore::usable() const { return !impl_->connection.broken(); }

std::optional<Row> PgStore::find(const Table& table, const Key& key, const std::vector<Value>& values) {
  ServerTable& t = impl_->entry(table);
  std::vector<Value> converted;
  std::vector<std::pair<int, const Value*>> conditions;
  converted.reserve(key.columns.size());
  for (std::size_t i = 0; i < key.columns.size() && i < values.size(); ++i)
    converted.push_back(as_kind(table.columns[static_cast<std::size_t>(key.columns[i])], values[i], impl_->regional));
  for (std::size_t i = 0; i < converted.size(); ++i) conditions.emplace_back(key.columns[i], &converted[i]);
  std::vector<Command> commands(1);
  std::string condition = impl_->where(t, conditions, commands[0].params);
  commands[0].sql = fmt::format("SELECT * FROM {} WHERE {}", t.name, condition);
  commands[0].prepared = true;
  std::optional<Row> row;
  commands[0].on_result = [&](const PGresult& result) {
    if (pq().PQntuples(&result) > 0) row = impl_->row_of(t, result, 0);
  };
  impl_->flush_or_throw(std::move(commands));
  return row;
}

namespace {

// The conditions as values of their columns' kinds.
std::vector<std::pair<int, Value>> converted(const Table& table, const Conditions& where,
                                             const RegionalSettings& regional) {
  std::vector<std::pair<int, Value>> values;
  for (const auto& [column, value] : where)
    values.emplace_back(column, as_kind(table.columns.at(static_cast<std::size_t>(column)), value, regional));
  return values;
}

}  // namespace

std::optional<Value> PgStore::largest(const Table& table, int column, const Conditions& where, Unsent unsent) {
  ServerTable& t = impl_->entry(table);
  auto values = converted(table, where, impl_->regional);
  std::vector<std::pair<int, const Value*>> conditions;
  for (const auto& [c, v] : values) conditions.emplace_back(c, &v);
  std::vector<Command> commands(1);
  std::string condition = impl_->where(t, conditions, commands[0].params);
  const auto at = static_cast<std::size_t>(column);
  // The maximum alone, which an index answers at once; whether any row
  // meets the conditions is asked only when it holds no value.
  const std::string where_part = condition.empty() ? "" : " WHERE " + condition;
  commands[0].sql = fmt::format("SELECT max({}) FROM {}{}", t.columns.at(at).name, t.name, where_part);
  commands[0].prepared = true;
  std::optional<Value> result;
  commands[0].on_result = [&](const PGresult& rows) {
    if (!pq().PQgetisnull(&rows, 0, 0))
      result = value_of(pq().PQgetvalue(&rows, 0, 0), table.columns[at].kind, t.columns[at].boolean);
  };
  Params params = commands[0].params;
  impl_->read(std::move(commands), unsent);
  if (result) return result;
  std::vector<Command> any(1);
  any[0].sql = fmt::format("SELECT EXISTS (SELECT 1 FROM {}{})::text", t.name, where_part);
  any[0].params = std::move(params);
  any[0].prepared = true;
  any[0].on_result = [&](const PGresult& rows) {
    if (std::string_view(pq().PQgetvalue(&rows, 0, 0)) == "true") result = Value();
  };
  impl_->read(std::move(any), Unsent::left);
  return result;
}

std::vector<Value> PgStore::distinct(const Table& table, int column, const Conditions& where, Unsent unsent) {
  ServerTable& t = impl_->entry(table);
  auto values = converted(table, where, impl_->regional);
  std::vector<std::pair<int, const Value*>> conditions;
  for (const auto& [c, v] : values) conditions.emplace_back(c, &v);
  std::vector<Command> commands(1);
  std::string condition = impl_->where(t, conditions, commands[0].params);
  const auto at = static_cast<std::size_t>(column);
  commands[0].sql = fmt::format("SELECT DISTINCT {} FROM {}{}{}", t.columns.at(at).name, t.name,
                                condition.empty() ? "" : " WHERE ", condition);
  commands[0].prepared = true;
  std::vector<Value> result;
  commands[0].on_result = [&](const PGresult& rows) {
    for (int i = 0; i < pq().PQntuples(&rows); ++i)
      result.push_back(pq().PQgetisnull(&rows, i, 0)
                           ? Value()
                           : value_of(pq().PQgetvalue(&rows, i, 0), table.columns[at].kind, t.columns[at].boolean));
  };
  impl_->read(std::move(commands), unsent);
  return result;
}

std::vector<Row> PgStore::rows(const Table& table, const std::vector<int>& columns, const Conditions& where,
                               const std::optional<Span>& span, Unsent unsent) {
  ServerTable& t = impl_->entry(table);
  auto values = converted(table, where, impl_->regional);
  std::vector<std::pair<int, const Value*>> conditions;
  for (const auto& [c, v] : values) conditions.emplace_back(c, &v);
  std::vector<Command> commands(1);
  std::string condition = impl_->where(t, conditions, commands[0].params);
  if (span) {
    const ServerColumn& c = t.columns.at(static_cast<std::size_t>(span->column));
    const ColumnInfo& info = table.columns.at(static_cast<std::size_t>(span->column));
    Params& params = commands[0].params;
    params.push_back(server_text(as_kind(info, span->from, impl_->regional), c.boolean));
    params.push_back(server_text(as_kind(info, span->to, impl_->regional), c.boolean));
    condition += fmt::format("{}{} >= ${} AND {} < ${}", condition.empty() ? "" : " AND ", c.name, params.size() - 1,
                             c.name, params.size());
  }
  std::string names;
  for (int column : columns) names += (names.empty() ? "" : ", ") + t.columns.at(static_cast<std::size_t>(column)).name;
  commands[0].sql = fmt::format("SELECT {} FROM {}{}{}", names, t.name, condition.empty() ? "" : " WHERE ", condition);
  commands[0].prepared = true;
  std::vector<Row> found;
  commands[0].on_result = [&](const PGresult& result) {
    for (int r = 0; r < pq().PQntuples(&result); ++r) {
      Row& row = found.emplace_back();
      for (std::size_t i = 0; i < columns.size(); ++i) {
        const auto c = static_cast<std::size_t>(columns[i]);
        const int field = static_cast<int>(i);
        row.push_back(pq().PQgetisnull(&result, r, field)
                          ? Value()
                          : value_of(std::string_view(pq().PQgetvalue(&result, r, field),
                                                      static_cast<std::size_t>(pq().PQgetlength(&result, r, field))),
                                     table.columns[c].kind, t.columns[c].boolean));
      }
    }
  };
  impl_->read(std::move(commands), unsent);
  return found;
}

void PgStore::scan(const Table& table, const std::function<void(const Row&)>& each) {
  ServerTable& t = impl_->entry(table);
  impl_->flush_or_throw({});
  // A cursor read in batches: a million rows never sit in memory at once,
  // and `each` may use the store between batches.
  Connection& connection = impl_->connection;
  const bool own = !impl_->in_transaction;
  const std::string cursor = fmt::format("kavelo_scan_{}", ++impl_->scans);
  std::vector<Command> declare;
  if (own) declare.emplace_back().sql = "BEGIN";
  declare.emplace_back().sql = fmt::format("DECLARE {} NO SCROLL CURSOR FOR SELECT * FROM {}", cursor, t.name);
  impl_->run_or_throw(std::move(declare));
  try {
    for (;;) {
      auto rows = impl_->guarded([&] { return connection.query(fmt::format("FETCH {} FROM {}", kScanBatch, cursor)); });
      const int count = pq().PQntuples(rows.get());
      for (int i = 0; i < count; ++i) each(impl_->row_of(t, *rows, i));
      if (count < kScanBatch) break;
    }
    impl_->guarded([&] {
      connection.execute("CLOSE " + cursor);
      if (own) connection.execute("COMMIT");
    });
  } catch (...) {
    if (!connection.broken()) {
      try {
        connection.execute(own ? std::string("ROLLBACK") : "CLOSE " + cursor);
      } catch (const Failure&) {
        // The first failure is the one to report.
      }
    }
    throw;
  }
}

void PgStore::write(const Table& table, const Key& key, RowValues row, WriteCounts& counts, WriteOutcome* outcome) {
  ServerTable& t = impl_->entry(table);
  impl_->check_writable(t);
  row.resize(t.columns.size());
  std::string key_value = key_text(t, key.columns, [&](std::size_t i) {
    const auto& slot = row[static_cast<std::size_t>(key.columns[i])];
    return slot ? &*slot : nullptr;
  });
  Step& step = impl_->step_for(t, StepKind::Write, key.columns);
  std::vector<int> columns;
  for (std::size_t i = 0; i < row.size(); ++i)
    if (row[i]) columns.push_back(static_cast<int>(i));
  // The latest group of the same columns takes the row, unless it or a later
  // group already has the key: ON CONFLICT touches a row once per statement,
  // and the key's writes must happen in order.
  auto signature = std::make_pair(std::move(columns), &counts);
  auto same = step.last_group_of_columns.find(signature);
  auto before = step.last_group_of_key.find(key_value);
  int group;
  if (same != step.last_group_of_columns.end() &&
      (before == step.last_group_of_key.end() || before->second < same->second)) {
    group = same->second;
  } else {
    group = static_cast<int>(step.groups.size());
    step.groups.push_back({signature.first, &counts, 0, 0});
    step.last_group_of_columns[std::move(signature)] = group;
  }
  step.last_group_of_key[std::move(key_value)] = group;
  ++step.groups[static_cast<std::size_t>(group)].rows;
  step.rows.emplace_back(group, std::move(row));
  step.outcomes.push_back(outcome);
  if (outcome) *outcome = {};
  impl_->gathered();
}

void PgStore::change(const Table& table, const Key& key, RowValues row) {
  ServerTable& t = impl_->entry(table);
  row.resize(t.columns.size());
  impl_->step_for(t, StepKind::Change, key.columns).changes.push_back(std::move(row));
  impl_->gathered();
}

void PgStore::add(const Table& table, const Key& key, std::vector<Addition> additions) {
  ServerTable& t = impl_->entry(table);
  for (Addition& addition : additions) {
    addition.key.resize(key.columns.size());
    if (!summable(table, addition)) {
      // One by one, in order.
      impl_->step_for(t, StepKind::AddEach, key.columns).additions.push_back(std::move(addition));
      impl_->gathered();
      continue;
    }
    // Exact sums per key, added on the server in one go; the additions are
    // kept for the sync that must add them in order after all.
    Step& step = impl_->step_for(t, StepKind::AddSum, key.columns);
    step.additions.push_back(addition);
    std::string key_value = key_text(t, key.columns, [&](std::size_t i) { return &addition.key[i]; });
    auto [at, fresh] = step.sum_of_key.try_emplace(std::move(key_value), step.sums.size());
    if (fresh) step.sums.push_back({std::move(addition.key), {}});
    SumRow& row = step.sums[at->second];
    for (const auto& [column, amount] : addition.amounts) {
      WideAmount& sum = row.of(column);
      sum += amount_of(table.columns[static_cast<std::size_t>(column)], amount, impl_->regional);
      step.peak = std::max(step.peak, sum < 0 ? -sum : sum);
      step.sum_columns.insert(column);
    }
    impl_->gathered();
  }
}

void PgStore::Impl::hold_sums(Step& step) {
  ServerTable& t = *step.table;
  // AddEach too when it holds exact amounts only (such as sums that grew too
  // large for one go).
  if (step.kind != StepKind::AddSum &&
      (step.kind != StepKind::AddEach ||
       !std::all_of(step.additions.begin(), step.additions.end(), [&](const auto& a) { return summable(t.table, a); })))
    return;
  auto total_of = [&](const std::vector<Value>& key) -> std::pair<const std::string, SumRow>& {
    std::string text = key_text(t, step.key, [&](std::size_t i) { return &key[i]; });
    auto [at, fresh] = t.held.try_emplace(std::move(text));
    if (fresh) at->second.key = key;
    return *at;
  };
  auto hold = [&](std::pair<const std::string, SumRow>& total, int column, WideAmount amount) {
    total.second.of(column) += amount;
    held_changes.push_back({&t, total.first, column, amount});
  };
  step.held = true;
  if (step.kind == StepKind::AddSum) {
    for (SumRow& row : step.sums) {
      auto& total = total_of(row.key);
      for (const auto& [column, sum] : row.sums) hold(total, column, sum);
      row.sums = total.second.sums;
      for (const auto& [column, sum] : row.sums) step.sum_columns.insert(column);
    }
    return;
  }
  std::set<std::string> seen;
  for (const Addition& addition : step.additions) {
    auto& total = total_of(addition.key);
    if (seen.insert(total.first).second && !total.second.sums.empty()) step.held_before.push_back(total.second);
    for (const auto& [column, amount] : addition.amounts)
      hold(total, column, amount_of(t.table.columns[static_cast<std::size_t>(column)], amount, regional));
  }
}

void PgStore::Impl::take_back_held(std::size_t changes) {
  while (held_changes.size() > changes) {
    const HeldChange& change = held_changes.back();
    change.table->held.at(change.key).of(change.column) -= change.amount;
    held_changes.pop_back();
  }
}

void PgStore::sync() { impl_->flush_or_throw({}); }

Value PgStore::as_stored(const ColumnInfo& column, const Value& value) const {
  // An exact decimal of fewer decimals rounds as the server rounds: half
  // away from zero.
  if (column.kind != ColumnKind::Currency || column.decimals < 0 || column.decimals >= 4) return value;
  auto amount = value.get_if<Currency>();
  if (!amount) return value;
  std::int64_t unit = 1;
  for (int i = column.decimals; i < 4; ++i) unit *= 10;
  const std::int64_t n = amount->ten_thousandths;
  const std::int64_t rest = n % unit;
  std::int64_t rounded = n - rest;
  if (2 * (rest < 0 ? -rest : rest) >= unit) rounded += rest < 0 ? -unit : unit;
  return Value(Currency{rounded});
}

}  // namespace kavelo::db::pg

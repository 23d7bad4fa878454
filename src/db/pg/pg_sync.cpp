// The writes a PgStore gathers, sent at a sync: rows by COPY into a temporary
// table of the session (or straight into their table) and merged by key, or
// by a statement for each when they are few; then the statements that change
// rows and add amounts, all in one pipeline.
#include "db/pg/pg_store_impl.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <map>
#include <set>
#include <unordered_map>

#include <fmt/format.h>

#include "db/pg/pg_connection.h"
#include "db/pg/pg_values.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::db::pg {
namespace {

// The rows a statement wrote, as its command tag counts them.
long rows_of(const PGresult& result) {
  long n = 0;
  const char* text = pq().PQcmdTuples(const_cast<PGresult*>(&result));
  std::from_chars(text, text + std::char_traits<char>::length(text), n);
  return n;
}

// "$3::numeric".
std::string parameter(std::size_t number, const ServerColumn& column) {
  return fmt::format("${}::{}", number, column.cast);
}

// Whether a text column: those compare exactly in the check for a change.
bool is_text(const ServerTable& t, int column) {
  return t.table.columns[static_cast<std::size_t>(column)].kind == ColumnKind::Text;
}

// "d.c IS DISTINCT FROM s.c", exactly: 'abc' and 'ABC' differ even in a
// column without case.
std::string differs(const ServerTable& t, int column, const std::string& left, const std::string& right) {
  const char* collate = is_text(t, column) ? " COLLATE \"C\"" : "";
  return fmt::format("{}{} IS DISTINCT FROM {}{}", left, collate, right, collate);
}

bool nocase_key(const ServerTable& t, const std::vector<int>& key) {
  return std::any_of(key.begin(), key.end(),
                     [&](int c) { return t.columns[static_cast<std::size_t>(c)].form != KeyForm::Exact; });
}

}  // namespace

std::string PgStore::Impl::where(const ServerTable& t, const std::vector<std::pair<int, const Value*>>& conditions,
                                 Params& params) {
  std::string sql;
  for (const auto& [column, value] : conditions) {
    if (!sql.empty()) sql += " AND ";
    const ServerColumn& c = t.columns[static_cast<std::size_t>(column)];
    if (!value || value->is_null()) {
      sql += c.name + " IS NULL";
      continue;
    }
    params.push_back(server_text(*value, c.boolean));
    const std::string number = fmt::format("${}", params.size());
    sql += key_match(t, {column}, "", [&](std::size_t) { return number; });
  }
  return sql;
}

std::string PgStore::Impl::insert_new(const ServerTable& t, const std::vector<int>& key, const std::string& columns,
                                      const std::string& values, const std::string& from, const std::string& condition,
                                      const std::function<std::string(std::size_t)>& key_value) {
  return fmt::format("INSERT INTO {} ({}) SELECT {}{} WHERE {}NOT EXISTS (SELECT 1 FROM {} AS d WHERE {})", t.name,
                     columns, values, from, condition.empty() ? "" : condition + " AND ", t.name,
                     key_match(t, key, "d", key_value));
}

void PgStore::Impl::copy_rows(ServerTable& t, std::vector<Step*>& steps_of_table, std::string before) {
  // Every column some row of the sync writes, then the group and the order.
  std::set<int> written;
  int groups = 0;
  const Step* keyed_write = nullptr;
  for (Step* step : steps_of_table) {
    if (step->kind == StepKind::Write) {
      for (WriteGroup& group : step->groups) {
        group.number = ++groups;
        written.insert(group.columns.begin(), group.columns.end());
      }
      if (nocase_key(t, step->key)) keyed_write = step;
    } else {
      step->group = ++groups;
      written.insert(step->key.begin(), step->key.end());
      written.insert(step->sum_columns.begin(), step->sum_columns.end());
    }
  }
  const std::string group_column = t.helper + "group", order_column = t.helper + "n", row_column = t.helper + "row";
  std::string sql = std::move(before);
  if (!t.scratch_ready)
    sql += fmt::format("CREATE TEMP TABLE IF NOT EXISTS {} AS SELECT *, 0 AS {}, 0 AS {}, 0 AS {} FROM {} WITH NO DATA; ",
                       t.scratch, group_column, order_column, row_column, t.name);
  // Keys this side folds only in ASCII may be one key to the server: a group
  // that holds two rows of one key is refused, and written again row by row,
  // rather than merged in an order nobody chose.
  if (keyed_write && !t.scratch_key_ready) {
    std::string forms;
    for (int column : keyed_write->key) {
      const ServerColumn& c = t.columns[static_cast<std::size_t>(column)];
      forms += ", " + (c.form == KeyForm::Exact ? c.name : folded_key(c.name));
    }
    sql += fmt::format("CREATE UNIQUE INDEX IF NOT EXISTS {} ON pg_temp.{} ({}{}) WHERE {} IS NULL; ",
                       quoted(lower(t.table.name) + "_" + t.helper + "key"), t.scratch, group_column, forms,
                       order_column);
  }
  sql += "COPY pg_temp." + t.scratch + " (";
  for (int column : written) sql += t.columns[static_cast<std::size_t>(column)].name + ", ";
  sql += group_column + ", " + order_column + ", " + row_column + ") FROM STDIN";

  std::string data;
  for (Step* step : steps_of_table) {
    if (step->kind == StepKind::Write) {
      int n = 0;
      for (const auto& [group, row] : step->rows) {
        for (int column : written) {
          const auto& value = row[static_cast<std::size_t>(column)];
          if (value)
            append_copy_field(data, *value, t.columns[static_cast<std::size_t>(column)].boolean);
          else
            data += "\\N";
          data += '\t';
        }
        append_padded(data, step->groups[static_cast<std::size_t>(group)].number, 1);
        data += "\t\\N\t";
        append_padded(data, n++, 1);
        data += '\n';
      }
    } else {
      int n = 0;
      for (const SumRow& row : step->sums) {
        for (int column : written) {
          auto key_at = std::find(step->key.begin(), step->key.end(), column);
          auto sum_at = std::find_if(row.sums.begin(), row.sums.end(), [&](const auto& s) { return s.first == column; });
          if (key_at != step->key.end())
            append_copy_field(data, row.key[static_cast<std::size_t>(key_at - step->key.begin())],
                              t.columns[static_cast<std::size_t>(column)].boolean);
          else if (sum_at != row.sums.end())
            append_amount(data, sum_at->second);
          else
            data += "\\N";
          data += '\t';
        }
        append_padded(data, step->group, 1);
        data += '\t';
        append_padded(data, ++n, 1);
        data += "\t\\N\n";
      }
    }
  }
  connection.copy_in(sql, data);
  t.scratch_ready = true;
  t.scratch_key_ready = t.scratch_key_ready || keyed_write != nullptr;
}

void PgStore::Impl::write_statements(Step& step, std::vector<Command>& commands, std::map<WriteGroup*, Tally>& tallies) {
  const ServerTable& t = *step.table;
  auto name = [&](int column) -> const std::string& { return t.columns[static_cast<std::size_t>(column)].name; };
  const std::string in_group = fmt::format("{}group", t.helper);
  for (WriteGroup& group : step.groups) {
    std::string names, set, changed;
    for (int column : group.columns) {
      names += (names.empty() ? "" : ", ") + name(column);
      // A key column that its key matches holds the same bytes unless it
      // is text: a text key takes the record's spelling.
      if (!is_text(t, column) && std::find(step.key.begin(), step.key.end(), column) != step.key.end()) continue;
      set += fmt::format("{}{} = s.{}", set.empty() ? "" : ", ", name(column), name(column));
      changed += (changed.empty() ? "" : " OR ") + differs(t, column, "d." + name(column), "s." + name(column));
    }
    auto from_scratch = [&](std::size_t i) { return "s." + name(step.key[i]); };
    const std::string from = " FROM pg_temp." + t.scratch + " AS s";
    const std::string in_this = fmt::format("s.{} = {}", in_group, group.number);
    // What the rows replace, for a caller that asked, as it is before them.
    const auto numbered = static_cast<int>(&group - step.groups.data());
    bool asked = false;
    for (std::size_t i = 0; i < step.rows.size() && !asked; ++i)
      asked = step.rows[i].first == numbered && step.outcomes[i];
    if (asked) {
      Command& before = commands.emplace_back();
      before.sql = fmt::format("SELECT s.{}row, d.*{} JOIN {} AS d ON {} WHERE {}", t.helper, from, t.name,
                               key_match(t, step.key, "d", from_scratch), in_this);
      before.on_result = [this, &step, &t](const PGresult& result) {
        for (int r = 0; r < pq().PQntuples(&result); ++r) {
          const auto at = std::strtoul(pq().PQgetvalue(&result, r, 0), nullptr, 10);
          if (at < step.outcomes.size() && step.outcomes[at]) step.outcomes[at]->replaced = row_of(t, result, r, 1);
        }
      };
    }
    // The rows the table holds first, then the new ones: each row meets the
    // rules and triggers of what happens to it, as when written alone.
    if (!set.empty())
      commands.emplace_back().sql = fmt::format("UPDATE {} AS d SET {}{} WHERE {} AND {} AND ({})", t.name, set, from,
                                                in_this, key_match(t, step.key, "d", from_scratch), changed);
    Command& insert = commands.emplace_back();
    if (!t.has_rules) {
      insert.sql = insert_new(t, step.key, names, names, from, in_this, from_scratch);
    } else {
      // A rule's action runs after the INSERT and reads its rows again: the
      // new rows are marked first, so that it reads them, not the rows that
      // are no longer missing.
      Command mark;
      mark.sql = fmt::format("UPDATE pg_temp.{} AS s SET {}n = -1 WHERE {} AND NOT EXISTS (SELECT 1 FROM {} AS d WHERE {})",
                             t.scratch, t.helper, in_this, t.name, key_match(t, step.key, "d", from_scratch));
      insert.sql = fmt::format("INSERT INTO {} ({}) SELECT {}{} WHERE {} AND s.{}n = -1", t.name, names, names, from,
                               in_this, t.helper);
      commands.insert(commands.end() - 1, std::move(mark));
    }
    Command& inserted = commands.back();
    inserted.on_result = [&tallies, &group](const PGresult& result) { tallies[&group].added += rows_of(result); };
  }
}

void PgStore::Impl::row_statements(Step& step, std::vector<Command>& commands, std::map<WriteGroup*, Tally>& tallies,
                                   bool skip_duplicates) {
  const ServerTable& t = *step.table;
  const bool asked = std::any_of(step.outcomes.begin(), step.outcomes.end(), [](auto* o) { return o != nullptr; });
  // One statement a row: the row found under the key as it was, its change
  // when it is there and differs, its addition when it is not; the same text
  // for every row of a group of the same columns, made once.
  std::vector<std::string> made(step.groups.size());
  auto statement_of = [&](std::size_t number) -> const std::string& {
    std::string& sql = made[number];
    if (!sql.empty()) return sql;
    std::map<int, std::size_t> parameter_of;  // column, its parameter's number
    std::string names, values, set, changed;
    for (int column : step.groups[number].columns) {
      const ServerColumn& c = t.columns[static_cast<std::size_t>(column)];
      parameter_of[column] = parameter_of.size() + 1;
      const std::string value = parameter(parameter_of[column], c);
      names += (names.empty() ? "" : ", ") + c.name;
      values += (values.empty() ? "" : ", ") + value;
      if (!is_text(t, column) && std::find(step.key.begin(), step.key.end(), column) != step.key.end()) continue;
      set += fmt::format("{}{} = {}", set.empty() ? "" : ", ", c.name, value);
      changed += (changed.empty() ? "" : " OR ") + differs(t, column, "d." + c.name, value);
    }
    auto key_value = [&](std::size_t i) {
      const int column = step.key[i];
      return parameter(parameter_of.at(column), t.columns[static_cast<std::size_t>(column)]);
    };
    const std::string match = key_match(t, step.key, "d", key_value);
    sql = fmt::format("WITH found AS (SELECT {} FROM {} AS d WHERE {}), ", asked ? "*" : "1 AS one", t.name, match);
    if (!set.empty())
      sql += fmt::format("changed AS (UPDATE {} AS d SET {} WHERE {} AND ({}) RETURNING 1), ", t.name, set, match,
                         changed);
    sql += fmt::format("added AS (INSERT INTO {} ({}) SELECT {} WHERE NOT EXISTS (SELECT 1 FROM found){} RETURNING 1) "
                       "SELECT (SELECT count(*) FROM added), (SELECT count(*) FROM found), found.* "
                       "FROM (SELECT 1) AS row LEFT JOIN found ON true",
                       t.name, names, values, skip_duplicates ? " ON CONFLICT DO NOTHING" : "");
    return sql;
  };
  for (std::size_t at = 0; at < step.rows.size(); ++at) {
    auto& [number, row] = step.rows[at];
    WriteGroup& group = step.groups[static_cast<std::size_t>(number)];
    Command& command = commands.emplace_back();
    command.sql = statement_of(static_cast<std::size_t>(number));
    for (int column : group.columns)
      command.params.push_back(
          server_text(*row[static_cast<std::size_t>(column)], t.columns[static_cast<std::size_t>(column)].boolean));
    command.prepared = true;
    WriteOutcome* outcome = step.outcomes[at];
    command.on_result = [this, &tallies, &group, &t, outcome](const PGresult& result) {
      const long added = std::strtol(pq().PQgetvalue(&result, 0, 0), nullptr, 10);
      const bool found = std::string_view(pq().PQgetvalue(&result, 0, 1)) != "0";
      tallies[&group].added += added;
      if (outcome && found) outcome->replaced = row_of(t, result, 0, 2);
      if (added > 0 || found) return;
      // Neither there nor added: passed over as a duplicate.
      ++tallies[&group].passed_over;
      if (outcome) outcome->passed_over = true;
    };
  }
}

void PgStore::Impl::change_statements(Step& step, std::vector<Command>& commands) {
  const ServerTable& t = *step.table;
  for (const RowValues& row : step.changes) {
    Command& update = commands.emplace_back();
    std::string set;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (!row[i]) continue;
      update.params.push_back(server_text(*row[i], t.columns[i].boolean));
      set += fmt::format("{}{} = ${}", set.empty() ? "" : ", ", t.columns[i].name, update.params.size());
    }
    std::vector<std::pair<int, const Value*>> key;
    for (int column : step.key) {
      const auto& slot = row[static_cast<std::size_t>(column)];
      key.emplace_back(column, slot ? &*slot : nullptr);
    }
    std::string condition = where(t, key, update.params);
    if (set.empty()) {
      commands.pop_back();
      continue;
    }
    update.sql = fmt::format("UPDATE {} SET {} WHERE {}", t.name, set, condition);
    update.prepared = true;
  }
}

void PgStore::Impl::sum_statements(Step& step, std::vector<Command>& commands) {
  const ServerTable& t = *step.table;
  auto name = [&](int column) -> const std::string& { return t.columns[static_cast<std::size_t>(column)].name; };
  // The batch's sums per key, grouped by the key as the table compares it:
  // two codes it takes for one are one row, added to under the first
  // spelling.
  std::string grouped = "(SELECT ", keys, by;
  for (std::size_t i = 0; i < step.key.size(); ++i) {
    const ServerColumn& c = t.columns[static_cast<std::size_t>(step.key[i])];
    grouped += fmt::format("(array_agg({0} ORDER BY {1}n))[1] AS {0}, ", c.name, t.helper);
    keys += (keys.empty() ? "" : ", ") + c.name;
    by += (by.empty() ? "" : ", ") + (c.form == KeyForm::Exact ? c.name : folded_key(c.name));
  }
  for (int column : step.sum_columns) grouped += fmt::format("sum({0}) AS {0}, ", name(column));
  grouped += fmt::format("0 AS {}none FROM pg_temp.{} WHERE {}group = {} GROUP BY {}) AS s", t.helper, t.scratch,
                         t.helper, step.group, by);
  auto from_sums = [&](std::size_t i) { return "s." + name(step.key[i]); };

  if (!step.sum_columns.empty()) {
    std::string set;
    for (int column : step.sum_columns)
      set += fmt::format("{0}{1} = CASE WHEN s.{1} IS NULL THEN d.{1} ELSE coalesce(d.{1}, 0) + s.{1} END",
                         set.empty() ? "" : ", ", name(column));
    commands.emplace_back().sql = fmt::format("UPDATE {} AS d SET {} FROM {} WHERE {}", t.name, set, grouped,
                                              key_match(t, step.key, "d", from_sums));
  }
  // New rows: each column the default plus its sum, or the default alone.
  std::string columns = keys, values;
  for (std::size_t i = 0; i < step.key.size(); ++i) values += (i ? ", s." : "s.") + name(step.key[i]);
  for (int column : step.sum_columns) {
    const std::string& sql_default = t.columns[static_cast<std::size_t>(column)].default_sql;
    columns += ", " + name(column);
    if (sql_default.empty())
      values += fmt::format(", s.{}", name(column));
    else
      values += fmt::format(", CASE WHEN s.{0} IS NULL THEN {1} ELSE coalesce({1}, 0) + s.{0} END", name(column),
                            sql_default);
  }
  commands.emplace_back().sql = insert_new(t, step.key, columns, values, " FROM " + grouped, "", from_sums);
}

void PgStore::Impl::sum_row_statements(const ServerTable& t, const std::vector<int>& key,
                                        const std::vector<SumRow>& sums, std::vector<Command>& commands) {
  for (const SumRow& row : sums) {
    Params params;
    std::string keys, key_values;
    for (std::size_t i = 0; i < key.size(); ++i) {
      const ServerColumn& c = t.columns[static_cast<std::size_t>(key[i])];
      params.push_back(server_text(row.key[i], c.boolean));
      if (i) keys += ", ", key_values += ", ";
      keys += c.name;
      key_values += parameter(params.size(), c);
    }
    auto key_value = [&](std::size_t i) {
      return parameter(i + 1, t.columns[static_cast<std::size_t>(key[i])]);
    };
    std::string set, columns = keys, values = key_values;
    for (const auto& [column, sum] : row.sums) {
      const ServerColumn& c = t.columns[static_cast<std::size_t>(column)];
      std::string amount;
      append_amount(amount, sum);
      params.push_back(std::move(amount));
      const std::string value = fmt::format("${}::numeric", params.size());
      set += fmt::format("{0}{1} = coalesce({1}, 0) + {2}", set.empty() ? "" : ", ", c.name, value);
      columns += ", " + c.name;
      values += c.default_sql.empty() ? ", " + value : fmt::format(", coalesce({}, 0) + {}", c.default_sql, value);
    }
    if (!set.empty()) {
      Command& update = commands.emplace_back();
      update.sql = fmt::format("UPDATE {} AS d SET {} WHERE {}", t.name, set, key_match(t, key, "d", key_value));
      update.params = params;
      update.prepared = true;
    }
    Command& insert = commands.emplace_back();
    insert.sql = insert_new(t, key, columns, values, "", "", key_value);
    insert.params = std::move(params);
    insert.prepared = true;
  }
}

void PgStore::Impl::each_statements(Step& step, std::vector<Command>& commands) {
  const ServerTable& t = *step.table;
  std::string keys, key_values;
  for (std::size_t i = 0; i < step.key.size(); ++i) {
    const ServerColumn& c = t.columns[static_cast<std::size_t>(step.key[i])];
    keys += (i ? ", " : "") + c.name;
    key_values += (i ? ", " : "") + parameter(i + 1, c);
  }
  auto key_value = [&](std::size_t i) { return parameter(i + 1, t.columns[static_cast<std::size_t>(step.key[i])]); };
  const std::string insert_sql = insert_new(t, step.key, keys, key_values, "", "", key_value);
  for (const Addition& addition : step.additions) {
    Params key_params;
    for (std::size_t i = 0; i < step.key.size(); ++i)
      key_params.push_back(server_text(addition.key[i], t.columns[static_cast<std::size_t>(step.key[i])].boolean));
    Command& insert = commands.emplace_back();
    insert.sql = insert_sql;
    insert.params = key_params;
    insert.prepared = true;
    // One statement per run of amounts to different columns: a column twice
    // is added to twice, in order.
    std::size_t at = 0;
    while (at < addition.amounts.size()) {
      Command& update = commands.emplace_back();
      std::vector<std::pair<int, const Value*>> key;
      for (std::size_t i = 0; i < step.key.size(); ++i) key.emplace_back(step.key[i], &addition.key[i]);
      std::string condition = where(t, key, update.params);
      std::set<int> seen;
      std::string set;
      for (; at < addition.amounts.size() && seen.insert(addition.amounts[at].first).second; ++at) {
        const auto& [column, amount] = addition.amounts[at];
        const ColumnInfo& info = t.table.columns[static_cast<std::size_t>(column)];
        std::string text = "0";
        const char* type = "float8";
        if (info.kind == ColumnKind::Currency) {
          text.clear();
          append_amount(text, amount_of(info, amount, regional));
          type = "numeric";
        } else if (!amount.is_null()) {
          text.clear();
          append_server_text(text, Value(to_double(amount, regional)));
        }
        update.params.push_back(std::move(text));
        set += fmt::format("{0}{1} = coalesce({1}, 0) + ${2}::{3}", set.empty() ? "" : ", ",
                           t.columns[static_cast<std::size_t>(column)].name, update.params.size(), type);
      }
      update.sql = fmt::format("UPDATE {} SET {} WHERE {}", t.name, set, condition);
      update.prepared = true;
    }
  }
}

std::optional<Refusal> PgStore::Impl::flush(std::vector<Command> tail) {
  // Savepoints alone wait for what comes next.
  if (steps.empty() && tail.empty()) return std::nullopt;
  std::vector<Step> sending = std::move(steps);
  forget_writes();
  for (Step& step : sending)
    if (step.kind == StepKind::AddSum && step.peak >= kLargeSum) {
      step.kind = StepKind::AddEach;
      step.sums.clear();
      step.sum_columns.clear();
    }
  const std::size_t held_from = held_changes.size();
  if (holding && in_transaction)
    for (Step& step : sending) hold_sums(step);
  // Inside a transaction the writes of a sync go in a savepoint of their own:
  // a refusal undoes them all and leaves the transaction usable, so that the
  // caller may write the same records again one by one. The undo goes ahead
  // of whatever is sent next.
  const bool atomic = in_transaction && !sending.empty();
  wrote = wrote || !sending.empty();
  bool savepoint_sent = false;
  auto undo_sync = [&] {
    forget_scratch();
    if (!savepoint_sent || connection.broken()) return;
    prelude.push_back("ROLLBACK TO SAVEPOINT kavelo_sync");
    prelude.push_back("RELEASE SAVEPOINT kavelo_sync");
    savepoint_sent = false;
  };
  // How each table's rows go: by a statement each when they are few (or the
  // session may make no scratch table); otherwise by COPY, straight into the
  // table while they come new and it has no rule that COPY would pass by,
  // and else into the scratch table, merged from there.
  std::map<ServerTable*, long> rows_for;
  std::map<ServerTable*, std::vector<int>> keys_of;
  std::set<ServerTable*> added_to;
  for (Step& step : sending) {
    if (step.kind == StepKind::Write) {
      rows_for[step.table] += static_cast<long>(step.rows.size());
      keys_of[step.table] = step.key;
    }
    if (step.kind == StepKind::AddSum) {
      rows_for[step.table] += static_cast<long>(step.sums.size());
      added_to.insert(step.table);
    }
  }
  std::set<ServerTable*> by_row, straight;
  for (auto& [t, rows] : rows_for) {
    // A table with rules is written through the scratch table whatever the
    // rows (see write_statements); one with other unique rules row by row, in
    // their order, as they meet those rules.
    const bool ordered = keys_of.contains(t) && t->unique_beyond(keys_of[t]) && !t->has_rules;
    if ((rows <= kFewRows && !t->has_rules) || ordered || !can_make_scratch.value_or(true)) {
      by_row.insert(t);
    } else if (t->rows_new && !t->has_rules && !added_to.contains(t)) {
      straight.insert(t);
    }
  }
  auto attempt = [&]() -> std::optional<Refusal> {
    for (Step& step : sending)
      for (WriteOutcome* outcome : step.outcomes)
        if (outcome) *outcome = {};
    std::vector<ServerTable*> copied;
    std::unordered_map<ServerTable*, std::vector<Step*>> rows_of_table;
    for (Step& step : sending) {
      if ((step.kind != StepKind::Write && step.kind != StepKind::AddSum) || by_row.contains(step.table)) continue;
      auto& list = rows_of_table[step.table];
      if (list.empty()) copied.push_back(step.table);
      list.push_back(&step);
    }
    std::map<WriteGroup*, Tally> tallies;
    for (ServerTable* t : copied) {
      std::string first;
      for (std::string& sql : prelude) first += sql + "; ";
      prelude.clear();
      if (atomic && !savepoint_sent) first += "SAVEPOINT kavelo_sync; ";
      const bool opens = atomic && !savepoint_sent;
      try {
        if (straight.contains(t)) {
          copy_straight(*t, rows_of_table[t], first, tallies);
        } else {
          copy_rows(*t, rows_of_table[t], first);
        }
        savepoint_sent = savepoint_sent || opens;
      } catch (const Failure&) {
        savepoint_sent = savepoint_sent || opens;
        undo_sync();
        if (!straight.contains(t) || connection.broken()) throw;
        // Not all new after all: the sync again, this table's rows merged.
        t->rows_new = false;
        straight.erase(t);
        return Refusal{SIZE_MAX, {}};
      }
    }
    std::vector<Command> commands;
    for (std::string& sql : prelude) commands.emplace_back().sql = std::move(sql);
    prelude.clear();
    const std::size_t first_of_writes = commands.size();
    if (atomic && !savepoint_sent) {
      commands.emplace_back().sql = "SAVEPOINT kavelo_sync";
      savepoint_sent = true;
    }
    // Statistics for the tables whose rows are looked up by key, where they
    // are out of date (a user who may not analyze a table only gets a notice).
    std::set<ServerTable*> analyzed;
    for (Step& step : sending)
      if (!straight.contains(step.table) && step.table->needs_analysis() && analyzed.insert(step.table).second)
        commands.emplace_back().sql = "ANALYZE " + step.table->name;
    for (Step& step : sending) {
      const bool one_each = by_row.contains(step.table);
      if (step.held) commands.emplace_back().sql = "SAVEPOINT kavelo_held";
      switch (step.kind) {
        case StepKind::Write:
          if (one_each)
            row_statements(step, commands, tallies,
                           step.table->unique_beyond(step.key) && !step.table->has_rules && !step.table->defers_unique);
          else if (!straight.contains(step.table))
            write_statements(step, commands, tallies);
          break;
        case StepKind::Change: change_statements(step, commands); break;
        case StepKind::AddSum:
          if (one_each)
            sum_row_statements(*step.table, step.key, step.sums, commands);
          else
            sum_statements(step, commands);
          break;
        case StepKind::AddEach:
          sum_row_statements(*step.table, step.key, step.held_before, commands);
          each_statements(step, commands);
          break;
      }
      if (step.held) {
        commands.emplace_back().sql = "ROLLBACK TO SAVEPOINT kavelo_held";
        commands.emplace_back().sql = "RELEASE SAVEPOINT kavelo_held";
      }
    }
    // Emptied at once: the server never vacuums temporary tables.
    std::string names;
    for (ServerTable* t : copied)
      if (!straight.contains(t)) names += (names.empty() ? "pg_temp." : ", pg_temp.") + t->scratch;
    if (!names.empty()) commands.emplace_back().sql = "TRUNCATE " + names;
    if (atomic) commands.emplace_back().sql = "RELEASE SAVEPOINT kavelo_sync";
    const std::size_t first_of_tail = commands.size();
    for (Command& command : tail) commands.push_back(std::move(command));
    auto refusal = connection.run(commands);
    if (refusal && refusal->index < first_of_writes) throw connection.failure(refusal->error);
    if (refusal && refusal->index < first_of_tail) {
      undo_sync();
      throw connection.failure(refusal->error);
    }
    if (refusal) {
      refusal->index -= first_of_tail;
      return refusal;
    }
    // Tallied once the whole sync is in: a refusal sends the records again.
    std::map<ServerTable*, bool> all_new;
    for (Step& step : sending) {
      if (step.kind != StepKind::Write) continue;
      for (WriteOutcome* outcome : step.outcomes)
        if (outcome) outcome->known = true;
      bool fresh = true;
      for (WriteGroup& group : step.groups) {
        const Tally tally = straight.contains(step.table) ? Tally{group.rows, 0} : tallies[&group];
        group.counts->added += tally.added;
        group.counts->duplicates += tally.passed_over;
        group.counts->changed += group.rows - tally.added - tally.passed_over;
        fresh = fresh && tally.added == group.rows;
      }
      auto [it, first] = all_new.emplace(step.table, fresh);
      if (!first) it->second = it->second && fresh;
    }
    // A few rows written by themselves say little of the next sync's.
    for (auto& [t, fresh] : all_new)
      if (!by_row.contains(t)) t->rows_new = fresh;
    for (ServerTable* t : analyzed) t->analyzed = true;
    for (Step& step : sending)
      step.table->unanalyzed += static_cast<long>(step.rows.size() + step.sums.size() + step.changes.size());
    return std::nullopt;
  };
  try {
    return guarded([&]() -> std::optional<Refusal> {
      auto refusal = attempt();
      // A straight COPY that failed: the sync once more, merged.
      if (refusal && refusal->index == SIZE_MAX) refusal = attempt();
      return refusal;
    });
  } catch (const Failure&) {
    take_back_held(std::min(held_from, held_changes.size()));
    throw;
  }
}

void PgStore::Impl::copy_straight(ServerTable& t, std::vector<Step*>& steps_of_table, std::string before,
                                  std::map<WriteGroup*, Tally>&) {
  for (Step* step : steps_of_table) {
    for (std::size_t g = 0; g < step->groups.size(); ++g) {
      WriteGroup& group = step->groups[g];
      std::string sql = std::move(before);
      before.clear();
      sql += "COPY " + t.name + " (";
      for (std::size_t i = 0; i < group.columns.size(); ++i)
        sql += (i ? ", " : "") + t.columns[static_cast<std::size_t>(group.columns[i])].name;
      sql += ") FROM STDIN";
      std::string data;
      for (const auto& [number, row] : step->rows) {
        if (static_cast<std::size_t>(number) != g) continue;
        for (std::size_t i = 0; i < group.columns.size(); ++i) {
          const auto column = static_cast<std::size_t>(group.columns[i]);
          if (i) data += '\t';
          append_copy_field(data, *row[column], t.columns[column].boolean);
        }
        data += '\n';
      }
      connection.copy_in(sql, data);
    }
  }
}

}  // namespace kavelo::db::pg

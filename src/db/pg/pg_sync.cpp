// The writes a PgStore gathers, sent at a sync: rows by COPY into a temporary
// table of the session or straight into their table, then the statements that
// merge them, change rows and add amounts, all in one pipeline.
#include "db/pg/pg_store_impl.h"

#include <algorithm>
#include <charconv>
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

long number_of(const PGresult& result) {
  long n = 0;
  const char* text = pq().PQgetvalue(&result, 0, 0);
  std::from_chars(text, text + pq().PQgetlength(&result, 0, 0), n);
  return n;
}

}  // namespace

std::string PgStore::Impl::where(const ServerTable& t, const std::vector<std::pair<int, const Value*>>& conditions,
                                 Params& params) {
  std::string sql;
  for (const auto& [column, value] : conditions) {
    if (!sql.empty()) sql += " AND ";
    const ServerColumn& c = t.columns[static_cast<std::size_t>(column)];
    sql += c.name;
    if (!value || value->is_null()) {
      sql += " IS NULL";
    } else {
      params.push_back(server_text(*value, c.boolean));
      sql += fmt::format(" = ${}", params.size());
    }
  }
  return sql;
}

void PgStore::Impl::copy_rows(ServerTable& t, std::vector<Step*>& steps_of_table, std::string before) {
  // Every column some row of the sync writes, then the group and the order.
  std::set<int> written;
  int groups = 0;
  for (Step* step : steps_of_table) {
    if (step->kind == StepKind::Write) {
      for (WriteGroup& group : step->groups) {
        group.number = ++groups;
        written.insert(group.columns.begin(), group.columns.end());
      }
    } else {
      step->group = ++groups;
      written.insert(step->key.begin(), step->key.end());
      written.insert(step->sum_columns.begin(), step->sum_columns.end());
    }
  }
  std::string sql = std::move(before);
  if (!t.scratch_ready)
    sql += fmt::format("CREATE TEMP TABLE IF NOT EXISTS {} AS SELECT *, 0 AS kavelo_group, 0 AS kavelo_n FROM {} "
                      "WITH NO DATA; ",
                      t.scratch, t.name);
  sql += "COPY pg_temp." + t.scratch + " (";
  for (int column : written) sql += t.columns[static_cast<std::size_t>(column)].name + ", ";
  sql += "kavelo_group, kavelo_n) FROM STDIN";

  std::string data;
  for (Step* step : steps_of_table) {
    if (step->kind == StepKind::Write) {
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
        data += "\t\\N\n";
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
        data += '\n';
      }
    }
  }
  connection.copy_in(sql, data);
  t.scratch_ready = true;
}

void PgStore::Impl::write_statements(Step& step, std::vector<Command>& commands,
                                     std::vector<std::pair<WriteGroup*, long>>& added) {
  const ServerTable& t = *step.table;
  std::string key;
  for (int column : step.key) key += (key.empty() ? "" : ", ") + t.columns[static_cast<std::size_t>(column)].name;
  for (WriteGroup& group : step.groups) {
    std::string names, set, changed;
    for (int column : group.columns) {
      const std::string& name = t.columns[static_cast<std::size_t>(column)].name;
      names += (names.empty() ? "" : ", ") + name;
      const bool text = t.table.columns[static_cast<std::size_t>(column)].kind == ColumnKind::Text;
      // A key column equal under its collation holds the same bytes unless
      // it is text.
      if (!text && std::find(step.key.begin(), step.key.end(), column) != step.key.end()) continue;
      set += fmt::format("{}{} = EXCLUDED.{}", set.empty() ? "" : ", ", name, name);
      // Compared exactly: 'abc' and 'ABC' differ even in a column without case.
      const char* collate = text ? " COLLATE \"C\"" : "";
      changed += fmt::format("{}d.{}{} IS DISTINCT FROM EXCLUDED.{}{}", changed.empty() ? "" : " OR ", name, collate,
                             name, collate);
    }
    Command& merge = commands.emplace_back();
    merge.sql = fmt::format(
        "WITH m AS (INSERT INTO {} AS d ({}) SELECT {} FROM pg_temp.{} WHERE kavelo_group = {} ON CONFLICT ({}) DO {} "
        "RETURNING (d.xmax = 0) AS added) SELECT count(*) FILTER (WHERE added) FROM m",
        t.name, names, names, t.scratch, group.number, key,
        set.empty() ? std::string("NOTHING") : "UPDATE SET " + set + " WHERE " + changed);
    merge.on_result = [&added, &group](const PGresult& result) { added.emplace_back(&group, number_of(result)); };
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
  // two codes the collation takes for one are one row, added to the first.
  std::string grouped = "(SELECT ", keys, joined;
  for (std::size_t i = 0; i < step.key.size(); ++i) {
    const std::string& k = name(step.key[i]);
    grouped += fmt::format("{}, (array_agg({} ORDER BY kavelo_n))[1] AS kavelo_first_{}, ", k, k, i);
    keys += (keys.empty() ? "" : ", ") + k;
    joined += fmt::format("{}d.{} = s.{}", joined.empty() ? "" : " AND ", k, k);
  }
  for (int column : step.sum_columns) grouped += fmt::format("sum({0}) AS {0}, ", name(column));
  grouped += fmt::format("0 AS kavelo_none FROM pg_temp.{} WHERE kavelo_group = {} GROUP BY {}) AS s", t.scratch,
                         step.group, keys);

  if (!step.sum_columns.empty()) {
    std::string set;
    for (int column : step.sum_columns)
      set += fmt::format("{0}{1} = CASE WHEN s.{1} IS NULL THEN d.{1} ELSE coalesce(d.{1}, 0) + s.{1} END",
                         set.empty() ? "" : ", ", name(column));
    commands.emplace_back().sql = fmt::format("UPDATE {} AS d SET {} FROM {} WHERE {}", t.name, set, grouped, joined);
  }
  // New rows: each column the default plus its sum, or the default alone.
  std::string columns = keys, values;
  for (std::size_t i = 0; i < step.key.size(); ++i) values += fmt::format("{}s.kavelo_first_{}", i ? ", " : "", i);
  for (int column : step.sum_columns) {
    const std::string& sql_default = t.columns[static_cast<std::size_t>(column)].default_sql;
    columns += ", " + name(column);
    if (sql_default.empty())
      values += fmt::format(", s.{}", name(column));
    else
      values += fmt::format(", CASE WHEN s.{0} IS NULL THEN {1} ELSE coalesce({1}, 0) + s.{0} END", name(column),
                            sql_default);
  }
  commands.emplace_back().sql =
      fmt::format("INSERT INTO {} ({}) SELECT {} FROM {} WHERE NOT EXISTS (SELECT 1 FROM {} AS d WHERE {})", t.name,
                  columns, values, grouped, t.name, joined);
}

void PgStore::Impl::each_statements(Step& step, std::vector<Command>& commands) {
  const ServerTable& t = *step.table;
  std::string keys, placeholders;
  for (std::size_t i = 0; i < step.key.size(); ++i) {
    keys += (i ? ", " : "") + t.columns[static_cast<std::size_t>(step.key[i])].name;
    placeholders += fmt::format("{}${}", i ? ", " : "", i + 1);
  }
  for (const Addition& addition : step.additions) {
    Params key_params;
    for (std::size_t i = 0; i < step.key.size(); ++i)
      key_params.push_back(server_text(addition.key[i], t.columns[static_cast<std::size_t>(step.key[i])].boolean));
    Command& insert = commands.emplace_back();
    insert.sql = fmt::format("INSERT INTO {} ({}) VALUES ({}) ON CONFLICT ({}) DO NOTHING", t.name, keys,
                             placeholders, keys);
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
  if (steps.empty() && tail.empty()) return std::nullopt;
  std::vector<Step> sending = std::move(steps);
  forget_writes();
  // Inside a transaction the writes of a sync go in a savepoint of their own:
  // a refusal undoes them all and leaves the transaction usable, so that the
  // caller may write the same records again one by one.
  const bool atomic = in_transaction && !sending.empty();
  bool savepoint_sent = false;
  auto undo_sync = [&] {
    forget_scratch();
    if (!savepoint_sent || connection.broken()) return;
    std::vector<Command> undo(2);
    undo[0].sql = "ROLLBACK TO SAVEPOINT kavelo_sync";
    undo[1].sql = "RELEASE SAVEPOINT kavelo_sync";
    connection.run_or_throw(undo);
  };
  // The tables whose rows of this sync are all written rows, and go straight
  // in while their rows come new.
  std::set<ServerTable*> straight;
  {
    std::set<ServerTable*> added_to;
    for (Step& step : sending) {
      if (step.kind == StepKind::Write && step.table->rows_new) straight.insert(step.table);
      if (step.kind == StepKind::AddSum) added_to.insert(step.table);
    }
    for (ServerTable* t : added_to) straight.erase(t);
  }
  auto attempt = [&]() -> std::optional<Refusal> {
    // The rows of each table go by one COPY into its temporary table, or
    // straight into the table.
    std::vector<ServerTable*> copied;
    std::unordered_map<ServerTable*, std::vector<Step*>> rows_of;
    for (Step& step : sending) {
      if (step.kind != StepKind::Write && step.kind != StepKind::AddSum) continue;
      auto& list = rows_of[step.table];
      if (list.empty()) copied.push_back(step.table);
      list.push_back(&step);
    }
    std::vector<Command> commands;
    std::vector<std::pair<WriteGroup*, long>> added;
    for (ServerTable* t : copied) {
      const char* first = atomic && !savepoint_sent ? "SAVEPOINT kavelo_sync; " : "";
      try {
        if (straight.contains(t)) {
          copy_straight(*t, rows_of[t], first, added);
        } else {
          copy_rows(*t, rows_of[t], first);
        }
        savepoint_sent = savepoint_sent || *first;
      } catch (const Failure&) {
        savepoint_sent = savepoint_sent || *first;
        undo_sync();
        if (!straight.contains(t) || connection.broken()) throw;
        // Not all new after all: the sync again, this table's rows merged.
        t->rows_new = false;
        straight.erase(t);
        savepoint_sent = false;
        return Refusal{SIZE_MAX, {}};
      }
    }
    if (atomic && !savepoint_sent) {
      commands.emplace_back().sql = "SAVEPOINT kavelo_sync";
      savepoint_sent = true;
    }

    for (Step& step : sending) {
      switch (step.kind) {
        case StepKind::Write:
          if (!straight.contains(step.table)) write_statements(step, commands, added);
          break;
        case StepKind::Change: change_statements(step, commands); break;
        case StepKind::AddSum: sum_statements(step, commands); break;
        case StepKind::AddEach: each_statements(step, commands); break;
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
    for (Step& step : sending)
      if (step.kind == StepKind::Write) all_new.emplace(step.table, true);
    for (auto& [group, count] : added) {
      group->counts->added += count;
      group->counts->changed += group->rows - count;
      if (count < group->rows)
        for (Step& step : sending)
          if (step.kind == StepKind::Write && !step.groups.empty() && group >= &step.groups.front() &&
              group <= &step.groups.back())
            all_new[step.table] = false;
    }
    for (auto& [t, fresh] : all_new) t->rows_new = fresh;
    return std::nullopt;
  };
  return guarded([&]() -> std::optional<Refusal> {
    auto refusal = attempt();
    // A straight COPY that failed: the sync once more, merged.
    if (refusal && refusal->index == SIZE_MAX) refusal = attempt();
    return refusal;
  });
}

void PgStore::Impl::copy_straight(ServerTable& t, std::vector<Step*>& steps_of_table, std::string before,
                                  std::vector<std::pair<WriteGroup*, long>>& added) {
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
      added.emplace_back(&group, group.rows);
    }
  }
}

}  // namespace kavelo::db::pg

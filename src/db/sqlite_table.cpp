// Reading a table's description from the SQLite file: its name as the schema
// writes it, its columns, its unique keys, and whether a CHECK rule or a
// trigger may refuse a change.
#include "db/sqlite_store.h"

#include <cctype>
#include <memory>

#include "db/sqlite_table_state.h"
#include "platform/text.h"

namespace kavelo::db {
namespace {

// Whether a CREATE TABLE text holds the word CHECK outside its quoted names,
// literals and comments.
bool has_check_rule(std::string_view sql) {
  for (std::size_t i = 0; i < sql.size();) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      auto end = sql.find(c == '[' ? ']' : c, i + 1);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (sql.substr(i, 2) == "--") {
      auto end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (sql.substr(i, 2) == "/*") {
      auto end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t start = i;
      while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_')) ++i;
      if (i - start == 5 && sqlite3_strnicmp(sql.data() + start, "CHECK", 5) == 0) return true;
    } else {
      ++i;
    }
  }
  return false;
}

std::string quoted(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

const char* text_of(sqlite3_stmt* statement, int column) {
  const unsigned char* text = sqlite3_column_text(statement, column);
  return text ? reinterpret_cast<const char*>(text) : "";
}

}  // namespace

const Table& SqliteStore::table(std::string_view name) {
  const std::string wanted = upper(name);
  if (auto it = tables_.find(wanted); it != tables_.end()) return *it->second;
  auto table = std::make_unique<Table>();
  auto state = std::make_unique<TableState>();
  table->name = std::string(name);
  read_table(*table, *state);
  states_.emplace(table.get(), std::move(state));
  return *tables_.emplace(wanted, std::move(table)).first->second;
}

bool SqliteStore::has_table(std::string_view name) {
  if (tables_.contains(upper(name))) return true;
  // Without a column, SQLite only looks for the table in the schema it has
  // read: SQLITE_ERROR is no such table.
  const std::string table_name(name);
  int rc = sqlite3_table_column_metadata(db_, nullptr, table_name.c_str(), nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr);
  if (rc == SQLITE_OK) return true;
  if (rc == SQLITE_ERROR) return false;
  throw failure_of(rc);
}

SqliteStore::TableState& SqliteStore::state_of(const Table& table) { return *states_.at(&table); }

void SqliteStore::read_table(Table& table, TableState& state) {
  const std::string& name = table.name;
  // One-off reads of the schema: prepared each time, not kept.
  auto query = [&](const char* sql, const std::string& argument) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) != SQLITE_OK) throw failure_of(sqlite3_errcode(db_));
    sqlite3_bind_text(s, 1, argument.c_str(), -1, SQLITE_TRANSIENT);
    return std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>(s, sqlite3_finalize);
  };
  auto rows = [&](sqlite3_stmt* s, auto&& each) {
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) each(s);
    if (rc != SQLITE_DONE) throw failure_of(rc);
  };

  // The table's own name, as the schema writes it.
  auto listed = query(
      "SELECT l.name, l.wr, m.sql FROM pragma_table_list AS l JOIN sqlite_schema AS m ON m.name = l.name "
      "WHERE l.name = ?1 COLLATE NOCASE AND l.type = 'table' AND l.schema = 'main'",
      name);
  bool found = false;
  bool check_rule = false;
  rows(listed.get(), [&](sqlite3_stmt* s) {
    table.name = text_of(s, 0);
    state.rowid = sqlite3_column_int(s, 1) == 0;
    check_rule = has_check_rule(text_of(s, 2));
    found = true;
  });
  if (!found) throw failure(ErrorCode::TableNotFound, name);
  state.name = quoted(table.name);

  std::vector<int> primary;
  auto info = query("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?1)", table.name);
  rows(info.get(), [&](sqlite3_stmt* s) {
    ColumnInfo column;
    column.name = text_of(s, 0);
    column.kind = column_kind(text_of(s, 1), &column.text_size);
    column.required = sqlite3_column_int(s, 2) != 0;
    column.default_value = default_from_sql(text_of(s, 3), column.kind);
    if (sqlite3_column_int(s, 4) > 0) primary.push_back(static_cast<int>(table.columns.size()));
    const char* collation = nullptr;
    if (column.kind == ColumnKind::Text &&
        sqlite3_table_column_metadata(db_, nullptr, table.name.c_str(), column.name.c_str(), nullptr, &collation,
                                      nullptr, nullptr, nullptr) == SQLITE_OK &&
        collation)
      column.nocase = sqlite3_stricmp(collation, "NOCASE") == 0;
    state.columns.push_back(quoted(column.name));
    table.columns.push_back(std::move(column));
  });

  auto triggers = query("SELECT 1 FROM sqlite_master WHERE type = 'trigger' AND tbl_name = ?1 COLLATE NOCASE",
                        table.name);
  const bool has_triggers = sqlite3_step(triggers.get()) == SQLITE_ROW;
  // Values that fit their columns are refused only by a CHECK rule or a trigger.
  table.refuses_changes = has_triggers || check_rule;

  // Every unique index that is not partial, over columns (no expression):
  // its columns and, for an index of one column, its collation.
  bool primary_indexed = false;
  auto indexes = query("SELECT name, origin FROM pragma_index_list(?1) WHERE \"unique\" AND NOT partial", table.name);
  rows(indexes.get(), [&](sqlite3_stmt* s) {
    const std::string index = text_of(s, 0);
    if (std::string_view(text_of(s, 1)) == "pk") primary_indexed = true;
    std::vector<int> columns;
    std::string collation;
    bool plain = true;
    auto parts = query("SELECT cid, coll FROM pragma_index_xinfo(?1) WHERE key", index);
    rows(parts.get(), [&](sqlite3_stmt* p) {
      int cid = sqlite3_column_int(p, 0);
      if (cid < 0) plain = false;
      columns.push_back(cid);
      collation = text_of(p, 1);
    });
    if (!plain || columns.empty()) return;
    table.unique_keys.push_back(columns);
    if (columns.size() != 1 || has_triggers || !state.rowid) return;
    const ColumnInfo& column = table.columns[static_cast<std::size_t>(columns.front())];
    // An index that compares otherwise than the column would refuse what a
    // look-up by the column does not find, or the other way round.
    const bool column_nocase = column.nocase;
    const bool index_nocase = sqlite3_stricmp(collation.c_str(), "NOCASE") == 0;
    const bool index_binary = sqlite3_stricmp(collation.c_str(), "BINARY") == 0;
    if (column_nocase ? index_nocase : index_binary) state.offered.push_back(columns.front());
  });
  // An INTEGER PRIMARY KEY is the rowid itself, with no index of its own.
  if (!primary.empty() && !primary_indexed) table.unique_keys.push_back(primary);
}

}  // namespace kavelo::db

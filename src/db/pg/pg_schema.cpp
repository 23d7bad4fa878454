#include "db/pg/pg_schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <stdexcept>

#include <fmt/format.h>

#include "db/column_type.h"
#include "db/pg/pg_connection.h"
#include "platform/date_time.h"
#include "platform/text.h"

namespace kavelo::db::pg {
namespace {

// The kinds that share a server type: a byte (0 to 255) and a yes/no (-1 or
// 0) are both smallint.
constexpr const char* kByteDomain = "jet_byte";
constexpr const char* kBitDomain = "jet_bit";

// Names on the server are lower case, the server's own convention, so that
// hand-written SQL needs no quotes but for names such as "347ivr".
std::string server_name(std::string_view name) { return quoted(lower(name)); }

struct Column {
  std::string name;
  std::string declared_type;
  bool required = false;
  bool nocase = false;
  std::optional<std::string> default_literal;  // as SQLite keeps it
};

struct Index {
  std::string name;
  bool unique = false;
  std::string origin;  // "pk", "u" (a UNIQUE constraint) or "c" (CREATE INDEX)
  std::vector<std::string> columns;
};

struct Table {
  std::string name;
  std::vector<Column> columns;
  std::vector<std::string> primary_key;
  std::vector<Index> indexes;
  std::vector<std::string> checks;  // each "(expression)" as SQLite has it
};

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The CHECK (...) clauses of a CREATE TABLE text, each with its parentheses.
std::vector<std::string> checks_of(std::string_view sql) {
  std::vector<std::string> checks;
  const std::string up = upper(sql);
  char quote = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    char c = sql[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"' || c == '[' || c == '`') {
      quote = c == '[' ? ']' : c;
      continue;
    }
    if ((i > 0 && word_char(sql[i - 1])) || up.compare(i, 5, "CHECK") != 0) continue;
    std::size_t open = sql.find_first_not_of(" \t\r\n", i + 5);
    if (open == std::string_view::npos || sql[open] != '(') continue;
    int depth = 0;
    char inner = 0;
    for (std::size_t j = open; j < sql.size(); ++j) {
      char d = sql[j];
      if (inner) {
        if (d == inner) inner = 0;
        continue;
      }
      if (d == '\'' || d == '"') inner = d;
      if (d == '(') ++depth;
      if (d == ')' && --depth == 0) {
        checks.emplace_back(sql.substr(open, j - open + 1));
        i = j;
        break;
      }
    }
  }
  return checks;
}

std::string name_list(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + server_name(name);
  return text;
}

// The schema script run on an in-memory SQLite database, read back table by table.
class SchemaReader {
 public:
  explicit SchemaReader(std::string_view script) {
    if (sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      sqlite3_close(db_);
      throw std::runtime_error("No se puede abrir una base de datos SQLite en memoria.");
    }
    std::string text(script);
    if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
      std::string reason = sqlite3_errmsg(db_);
      sqlite3_close(db_);
      throw std::runtime_error("El esquema de referencia no se puede crear en SQLite: " + reason);
    }
  }
  SchemaReader(const SchemaReader&) = delete;
  SchemaReader& operator=(const SchemaReader&) = delete;
  ~SchemaReader() { sqlite3_close(db_); }

  std::vector<Table> tables() {
    std::vector<Table> result;
    query("SELECT name, sql FROM sqlite_schema WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' "
          "ORDER BY rowid",
          {}, [&](sqlite3_stmt* row) { result.push_back({text(row, 0), {}, {}, {}, checks_of(text(row, 1))}); });
    for (Table& table : result) read_table(table);
    return result;
  }

 private:
  template <class F>
  void query(const char* sql, const std::vector<std::string>& parameters, F&& each) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr) != SQLITE_OK) fail();
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    for (std::size_t i = 0; i < parameters.size(); ++i)
      sqlite3_bind_text(raw, static_cast<int>(i + 1), parameters[i].c_str(), -1, SQLITE_TRANSIENT);
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) each(raw);
    if (rc != SQLITE_DONE) fail();
  }

  [[noreturn]] void fail() {
    throw std::runtime_error(fmt::format("No se puede leer el esquema de referencia: {}", sqlite3_errmsg(db_)));
  }

  static std::string text(sqlite3_stmt* row, int column) {
    const unsigned char* value = sqlite3_column_text(row, column);
    return value ? reinterpret_cast<const char*>(value) : "";
  }

  void read_table(Table& table) {
    std::vector<std::pair<int, std::string>> key;
    query("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?)", {table.name},
          [&](sqlite3_stmt* row) {
            Column column{text(row, 0), text(row, 1), sqlite3_column_int(row, 2) != 0, false, std::nullopt};
            if (sqlite3_column_type(row, 3) != SQLITE_NULL) column.default_literal = text(row, 3);
            if (int position = sqlite3_column_int(row, 4); position > 0) key.emplace_back(position, column.name);
            table.columns.push_back(std::move(column));
          });
    for (Column& column : table.columns) {
      const char* collation = nullptr;
      if (sqlite3_table_column_metadata(db_, nullptr, table.name.c_str(), column.name.c_str(), nullptr, &collation,
                                        nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
      column.nocase = collation && sqlite3_stricmp(collation, "NOCASE") == 0;
    }
    std::sort(key.begin(), key.end());
    for (auto& [position, name] : key) table.primary_key.push_back(name);

    query("SELECT name, \"unique\", origin, partial FROM pragma_index_list(?) ORDER BY seq DESC", {table.name},
          [&](sqlite3_stmt* row) {
            if (sqlite3_column_int(row, 3) != 0)
              throw std::runtime_error(
                  fmt::format("El índice parcial {} de {} no se traduce.", text(row, 0), table.name));
            table.indexes.push_back({text(row, 0), sqlite3_column_int(row, 1) != 0, text(row, 2), {}});
          });
    for (Index& index : table.indexes) {
      query("SELECT cid, name FROM pragma_index_info(?) ORDER BY seqno", {index.name}, [&](sqlite3_stmt* row) {
        if (sqlite3_column_int(row, 0) < 0)
          throw std::runtime_error(
              fmt::format("El índice {} de {} es de expresiones y no se traduce.", index.name, table.name));
        index.columns.push_back(text(row, 1));
      });
    }
  }

  sqlite3* db_ = nullptr;
};

bool is_number(std::string_view s) {
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
  bool digits = false, point = false;
  while (!s.empty() && (std::isdigit(static_cast<unsigned char>(s.front())) || (s.front() == '.' && !point))) {
    if (s.front() == '.')
      point = true;
    else
      digits = true;
    s.remove_prefix(1);
  }
  if (digits && !s.empty() && (s.front() == 'e' || s.front() == 'E')) {
    s.remove_prefix(1);
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
    if (s.empty()) return false;
    while (!s.empty() && std::isdigit(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  }
  return digits && s.empty();
}

bool is_text_literal(std::string_view s) {
  if (s.size() < 2 || s.front() != '\'' || s.back() != '\'') return false;
  s = s.substr(1, s.size() - 2);
  for (std::size_t i = 0; i < s.size(); ++i)
    if (s[i] == '\'' && (++i >= s.size() || s[i] != '\'')) return false;
  return true;
}

// A column default in the server's SQL; nullopt for none. Only literals are
// translated: an expression could mean something else on the server.
std::optional<std::string> server_default(const Table& table, const Column& column, ColumnKind kind) {
  if (!column.default_literal) return std::nullopt;
  std::string literal = *column.default_literal;
  while (literal.size() >= 2 && literal.front() == '(' && literal.back() == ')')
    literal = literal.substr(1, literal.size() - 2);
  if (upper(literal) == "NULL") return std::nullopt;
  switch (kind) {
    case ColumnKind::Byte:
    case ColumnKind::Short:
    case ColumnKind::Long:
    case ColumnKind::Double:
    case ColumnKind::Currency:
      if (is_number(literal)) return literal;
      break;
    case ColumnKind::Bit:
      // Stored as -1 and 0, as a yes/no always was.
      if (is_number(literal)) return std::stod(literal) != 0 ? "-1" : "0";
      if (upper(literal) == "TRUE" || upper(literal) == "FALSE") return upper(literal) == "TRUE" ? "-1" : "0";
      break;
    case ColumnKind::Text:
      if (is_text_literal(literal)) return literal;
      if (is_number(literal)) return "'" + literal + "'";
      break;
    case ColumnKind::DateTime:
      if (is_text_literal(literal) && from_iso(std::string_view(literal).substr(1, literal.size() - 2)))
        return literal;
      break;
    case ColumnKind::Untyped: break;
  }
  throw std::runtime_error(fmt::format("El valor por defecto {} de {}.{} no se traduce.", *column.default_literal,
                                       table.name, column.name));
}

std::string server_type(const Table& table, const Column& column, ColumnKind kind, int text_size) {
  std::string type = server_type_name(kind, text_size);
  if (type.empty())
    throw std::runtime_error(
        fmt::format("El tipo '{}' de {}.{} no se traduce.", column.declared_type, table.name, column.name));
  return type;
}

// Whether the column compares text without case.
bool nocase_text(const Table& table, const std::string& name) {
  for (const Column& column : table.columns)
    if (sqlite3_stricmp(column.name.c_str(), name.c_str()) == 0)
      return column.nocase && column_kind(column.declared_type) == ColumnKind::Text;
  return false;
}

bool has_nocase_text(const Table& table, const std::vector<std::string>& columns) {
  return std::any_of(columns.begin(), columns.end(), [&](const std::string& c) { return nocase_text(table, c); });
}

// A key with a column that compares without case keeps it unique by an index
// of its folded form: two codes are one key when only their case differs,
// and every other difference (a soft hyphen, a compatibility form) makes two.
std::string folded_index(const Table& table, const std::string& name, const std::vector<std::string>& columns) {
  std::string forms;
  for (const std::string& column : columns)
    forms += (forms.empty() ? "" : ", ") +
             (nocase_text(table, column) ? folded_key(server_name(column)) : server_name(column));
  return fmt::format("CREATE UNIQUE INDEX {} ON {} ({})", server_name(name), server_name(table.name), forms);
}

std::string create_table(const Table& table) {
  std::vector<std::string> lines;
  for (const Column& column : table.columns) {
    int text_size = 0;
    ColumnKind kind = column_kind(column.declared_type, &text_size);
    std::string line = "  " + server_name(column.name) + " " + server_type(table, column, kind, text_size);
    if (auto value = server_default(table, column, kind)) line += " DEFAULT " + *value;
    if (column.required) line += " NOT NULL";
    lines.push_back(std::move(line));
  }
  // The primary key stays as the application knows it, beside the index that
  // makes it a key without case; a unique rule is that index alone.
  if (!table.primary_key.empty()) lines.push_back("  PRIMARY KEY (" + name_list(table.primary_key) + ")");
  for (const Index& index : table.indexes)
    if (index.origin == "u" && !has_nocase_text(table, index.columns))
      lines.push_back("  UNIQUE (" + name_list(index.columns) + ")");
  // Rules keep their text: the server reads unquoted names in lower case,
  // as it names the columns.
  for (const std::string& check : table.checks) lines.push_back("  CHECK " + check);
  std::string sql = "CREATE TABLE " + server_name(table.name) + " (\n";
  for (std::size_t i = 0; i < lines.size(); ++i) sql += lines[i] + (i + 1 < lines.size() ? ",\n" : "\n");
  return sql + ")";
}

}  // namespace

std::string folded_key(std::string_view value) {
  return fmt::format("lower(({})::text COLLATE \"und-x-icu\")", value);
}

std::string server_type_name(ColumnKind kind, int text_size) {
  switch (kind) {
    case ColumnKind::Text: return text_size > 0 ? fmt::format("varchar({})", text_size) : "text";
    case ColumnKind::Byte: return kByteDomain;
    case ColumnKind::Short: return "smallint";
    case ColumnKind::Long: return "integer";
    case ColumnKind::Double: return "double precision";
    case ColumnKind::Currency: return "numeric(19,4)";
    case ColumnKind::DateTime: return "timestamp";
    case ColumnKind::Bit: return kBitDomain;
    case ColumnKind::Untyped: break;
  }
  return {};
}

std::vector<std::string> server_schema_statements(std::string_view sqlite_schema_sql) {
  std::vector<Table> tables = SchemaReader(sqlite_schema_sql).tables();
  std::vector<std::string> statements;
  statements.push_back(fmt::format("CREATE DOMAIN {} AS smallint CHECK (VALUE BETWEEN 0 AND 255)", kByteDomain));
  statements.push_back(fmt::format("CREATE DOMAIN {} AS smallint", kBitDomain));
  for (const Table& table : tables) statements.push_back(create_table(table));
  for (const Table& table : tables) {
    auto named = [&](const std::vector<std::string>& columns, const char* end) {
      std::string name = table.name;
      for (const std::string& column : columns) name += "_" + column;
      return name + end;
    };
    if (has_nocase_text(table, table.primary_key))
      statements.push_back(folded_index(table, named(table.primary_key, "_nocase"), table.primary_key));
    for (const Index& index : table.indexes) {
      if (index.unique && index.origin != "pk" && has_nocase_text(table, index.columns))
        statements.push_back(
            folded_index(table, index.origin == "c" ? index.name : named(index.columns, "_key"), index.columns));
      else if (index.origin == "c")
        statements.push_back(fmt::format("CREATE {}INDEX {} ON {} ({})", index.unique ? "UNIQUE " : "",
                                         server_name(index.name), server_name(table.name), name_list(index.columns)));
    }
  }
  return statements;
}

std::vector<std::string> script_statements(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;
  auto finish = [&] {
    auto start = current.find_first_not_of(" \t\r\n");
    auto end = current.find_last_not_of(" \t\r\n");
    if (start != std::string::npos) statements.push_back(current.substr(start, end - start + 1));
    current.clear();
  };
  std::size_t i = 0;
  // Copies up to and including the next `end`, or to the end of the script.
  auto copy_through = [&](std::string_view end) {
    auto at = script.find(end, i);
    std::size_t stop = at == std::string_view::npos ? script.size() : at + end.size();
    current.append(script.substr(i, stop - i));
    i = stop;
  };
  while (i < script.size()) {
    char c = script[i];
    if (c == '\'' && i > 0 && (script[i - 1] == 'E' || script[i - 1] == 'e') &&
        (i == 1 || !word_char(script[i - 2]))) {
      // E'...' takes backslash escapes: \' is a quote inside the text.
      current += c;
      ++i;
      while (i < script.size()) {
        const char d = script[i];
        const bool pair = (d == '\\' || (d == '\'' && script.substr(i, 2) == "''")) && i + 1 < script.size();
        current.append(script.substr(i, pair ? 2 : 1));
        i += pair ? 2 : 1;
        if (d == '\'' && !pair) break;
      }
    } else if (c == '\'' || c == '"') {
      // A doubled quote inside closes and opens again: the same text.
      current += c;
      ++i;
      copy_through(std::string_view(&script[i - 1], 1));
    } else if (c == '-' && script.substr(i, 2) == "--") {
      // A comment runs to the end of its line and is left out.
      auto end = script.find('\n', i);
      i = end == std::string_view::npos ? script.size() : end;
    } else if (c == '/' && script.substr(i, 2) == "/*") {
      // Block comments nest; left out as a blank.
      int depth = 0;
      do {
        if (script.substr(i, 2) == "/*") {
          ++depth;
          i += 2;
        } else if (script.substr(i, 2) == "*/") {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      } while (depth > 0 && i < script.size());
      current += ' ';
    } else if (c == '$' && (i == 0 || !word_char(script[i - 1]))) {
      // $$ or $tag$ opens a body that the same tag closes; $1 is a parameter.
      std::size_t end = i + 1;
      const bool digit_first = end < script.size() && std::isdigit(static_cast<unsigned char>(script[end]));
      while (!digit_first && end < script.size() && word_char(script[end])) ++end;
      if (end < script.size() && script[end] == '$') {
        std::string tag(script.substr(i, end - i + 1));
        current += tag;
        i = end + 1;
        copy_through(tag);
      } else {
        current += c;
        ++i;
      }
    } else if (c == ';') {
      finish();
      ++i;
    } else {
      current += c;
      ++i;
    }
  }
  finish();
  return statements;
}

}  // namespace kavelo::db::pg

#include "server_sql.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <map>
#include <optional>
#include <stdexcept>

#include "db/pg/pg_connection.h"
#include "db/pg/test_server.h"
#include "test_support.h"
#include "platform/date_time.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::test {
namespace {

namespace pg = db::pg;

bool word_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// One past the quote that closes the quoted text opening at `at`; a doubled
// quote stands for itself. The end of the text when it is never closed.
std::size_t quoted_end(std::string_view sql, std::size_t at) {
  const char quote = sql[at];
  for (std::size_t i = at + 1; i < sql.size(); ++i) {
    if (sql[i] != quote) continue;
    if (i + 1 < sql.size() && sql[i + 1] == quote) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return sql.size();
}

// One past a $tag$ ... $tag$ body opening at `at`; nullopt when no tag opens there.
std::optional<std::size_t> dollar_end(std::string_view sql, std::size_t at) {
  std::size_t i = at + 1;
  if (i < sql.size() && word_start(sql[i]))
    while (i < sql.size() && word_char(sql[i])) ++i;
  if (i >= sql.size() || sql[i] != '$') return std::nullopt;
  const std::string_view tag = sql.substr(at, i + 1 - at);
  const std::size_t close = sql.find(tag, i + 1);
  return close == std::string_view::npos ? sql.size() : close + tag.size();
}

// One past the text that no SQL word may be read in: a 'literal', a $$ body,
// a -- comment; nullopt when none opens at `at`.
std::optional<std::size_t> opaque_end(std::string_view sql, std::size_t at) {
  if (sql[at] == '\'') return quoted_end(sql, at);
  if (sql[at] == '$') return dollar_end(sql, at);
  if (sql.substr(at, 2) == "--") {
    const std::size_t line_end = sql.find('\n', at);
    return line_end == std::string_view::npos ? sql.size() : line_end;
  }
  return std::nullopt;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// The engine's column type names and the server's types for them.
const std::map<std::string, std::string, std::less<>> kServerTypes = {
    {"LONGTEXT", "text"},       {"BYTE", "jet_byte"},         {"SHORT", "smallint"},
    {"LONG", "integer"},        {"DOUBLE", "double precision"}, {"CURRENCY", "numeric(19,4)"},
    {"DATETIME", "timestamp"},  {"BIT", "jet_bit"},
};

// The words of a statement, upper-cased, up to `count` of them.
std::vector<std::string> leading_words(std::string_view sql, std::size_t count) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (words.size() < count) {
    while (i < sql.size() && !word_start(sql[i])) ++i;
    if (i >= sql.size()) break;
    const std::size_t start = i;
    while (i < sql.size() && word_char(sql[i])) ++i;
    words.push_back(upper(sql.substr(start, i - start)));
  }
  return words;
}

// The link file's connection string.
std::string connection_string_of(const std::string& link_path) {
  std::string text = read_bytes(link_path);
  text = text.substr(0, text.find_first_of("\r\n"));
  if (upper(text.substr(0, 5)) != "ODBC;") throw std::runtime_error(link_path + " is not a link file");
  return text.substr(5);
}

void write_link_file(const std::string& path, const std::string& connection_string) {
  const std::string bytes = "ODBC;" + connection_string + "\r\n";
  // The connection string may hold a password one day: only the owner reads it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + path);
  const bool written = ::fchmod(fd, 0600) == 0 &&
                       ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (::close(fd) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

// The databases this process made on the test server, by the link file that
// leads to each. A database whose link path gets a new one is dropped then;
// the others when the process ends.
class ServerDatabases {
 public:
  ServerDatabases() = default;
  ServerDatabases(const ServerDatabases&) = delete;
  ServerDatabases& operator=(const ServerDatabases&) = delete;
  ~ServerDatabases() {
    for (const auto& [link, name] : by_link_) drop(name);
  }

  // A new empty database for `link_path` (from `template_name` when given);
  // its connection string.
  std::string make(const std::string& link_path, const std::string& template_name = "") {
    forget(link_path);
    const std::string name = "kavelo_e2e_" + std::to_string(::getpid()) + "_" + std::to_string(++made_);
    admin().execute("CREATE DATABASE " + name + (template_name.empty() ? "" : " TEMPLATE " + template_name));
    by_link_[link_path] = name;
    return pg::testing::with_database(pg::testing::admin_connection_string(), name);
  }

  const std::string& name_of(const std::string& link_path) const {
    auto found = by_link_.find(link_path);
    if (found == by_link_.end()) throw std::runtime_error(link_path + " leads to no database of this test");
    return found->second;
  }

 private:
  void forget(const std::string& link_path) {
    auto found = by_link_.find(link_path);
    if (found == by_link_.end()) return;
    drop(found->second);
    by_link_.erase(found);
  }

  void drop(const std::string& name) {
    try {
      admin().execute("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    } catch (const std::exception&) {
      // What is left goes with the cluster when the fixture stops it.
    }
  }

  pg::Connection& admin() {
    if (!admin_) admin_.emplace(pg::testing::admin_connection_string());
    return *admin_;
  }

  std::optional<pg::Connection> admin_;
  std::map<std::string, std::string> by_link_;
  int made_ = 0;
};

ServerDatabases& server_databases() {
  static ServerDatabases databases;
  return databases;
}

// A double as SQLite writes a REAL: 12.0, 1180.5, 1e+20.
std::string real_text(double value) {
  char* text = sqlite3_mprintf("%!.15g", value);
  std::string result = text;
  sqlite3_free(text);
  return result;
}

// The column's value as SQLite quotes what the SQLite backend stores: whole
// numbers as digits, doubles as REALs, amounts as REALs unless whole (their
// columns have numeric affinity there), dates as their storage text.
std::string quoted_value(const PGresult& result, int row, int column) {
  if (PQgetisnull(&result, row, column)) return "NULL";
  const std::string text = PQgetvalue(&result, row, column);
  switch (PQftype(&result, column)) {
    case 16:  // bool
      return text == "t" ? "-1" : "0";
    case 20:  // int8
    case 21:  // int2
    case 23:  // int4
      return text;
    case 700:  // float4
    case 701:  // float8
      return real_text(std::stod(text));
    case 1700: {  // numeric
      double number = std::stod(text);
      if (std::trunc(number) == number && std::fabs(number) < 9.0e15)
        return std::to_string(static_cast<std::int64_t>(number));
      return real_text(number);
    }
    case 1082:    // date
    case 1114: {  // timestamp
      // "2011-03-15" or "2011-03-15 10:30:00"; a fraction of a second is never stored.
      auto date = from_iso(std::string_view(text).substr(0, text.size() > 10 ? 19 : 10));
      if (!date) throw std::runtime_error("unexpected date from the server: " + text);
      return "'" + to_iso(*date) + "'";
    }
    default: return "'" + text + "'";
  }
}

}  // namespace

std::string server_sql(std::string_view sqlite_sql) {
  const std::vector<std::string> head = leading_words(sqlite_sql, 2);
  const bool ddl = !head.empty() && (head[0] == "CREATE" || head[0] == "ALTER");
  std::string out;
  std::string previous;  // the last word, upper-cased
  for (std::size_t i = 0; i < sqlite_sql.size();) {
    if (auto opaque = opaque_end(sqlite_sql, i)) {
      out += sqlite_sql.substr(i, *opaque - i);
      i = *opaque;
    } else if (sqlite_sql[i] == '"') {
      const std::size_t name_end = quoted_end(sqlite_sql, i);
      out += lower(sqlite_sql.substr(i, name_end - i));
      i = name_end;
    } else if (word_char(sqlite_sql[i])) {
      std::size_t end = i;
      while (end < sqlite_sql.size() && word_char(sqlite_sql[end])) ++end;
      const std::string_view word = sqlite_sql.substr(i, end - i);
      const std::string key = upper(word);
      std::size_t next = end;
      while (next < sqlite_sql.size() && std::isspace(static_cast<unsigned char>(sqlite_sql[next]))) ++next;
      auto type = kServerTypes.find(key);
      if (!word_start(word.front())) {
        out += word;  // a number such as 1.5E2
      } else if (key == "ROWID") {
        throw std::runtime_error("rows on the server have no rowid: " + std::string(sqlite_sql));
      } else if (key == "NOCASE" && previous == "COLLATE") {
        out += "kavelo_nocase";
      } else if (ddl && key == "TEXT" && next < sqlite_sql.size() && sqlite_sql[next] == '(') {
        out += "varchar";
      } else if (ddl && type != kServerTypes.end()) {
        out += type->second;
      } else {
        out += word;
      }
      previous = key;
      i = end;
    } else {
      out += sqlite_sql[i++];
    }
  }
  return out;
}

std::vector<std::string> split_statements(std::string_view script) {
  std::vector<std::string> statements;
  auto add = [&](std::string_view piece) {
    if (!trimmed(piece).empty()) statements.emplace_back(trimmed(piece));
  };
  std::size_t start = 0;
  for (std::size_t i = 0; i < script.size();) {
    if (auto end = opaque_end(script, i)) {
      i = *end;
    } else if (script[i] == '"') {
      i = quoted_end(script, i);
    } else if (script[i] == ';') {
      add(script.substr(start, i - start));
      start = ++i;
    } else {
      ++i;
    }
  }
  add(script.substr(start));
  return statements;
}

void make_server_company(const std::string& link_path, const std::string& extra_sql) {
  // As creating a company file refuses an existing file.
  if (exists(link_path)) throw std::runtime_error(link_path + " already exists");
  const std::string connection_string = server_databases().make(link_path);
  const RunResult created = kavelo_db({"create", "ODBC;" + connection_string});
  if (created.exit_status != 0)
    throw std::runtime_error("kavelo-db create on the server failed (" + std::to_string(created.exit_status) +
                             "): " + created.err);
  if (!extra_sql.empty()) {
    pg::Connection connection(connection_string);
    connection.execute("BEGIN");
    for (const std::string& statement : split_statements(extra_sql)) {
      const std::string sql = server_sql(statement);
      try {
        connection.execute(sql);
      } catch (const std::exception& e) {
        throw std::runtime_error(sql + ": " + e.what());
      }
    }
    connection.execute("COMMIT");
  }
  write_link_file(link_path, connection_string);
}

void copy_server_company(const std::string& link_path, const std::string& copy_path) {
  ServerDatabases& databases = server_databases();
  // A copy, not a name: the source may be dropped for the next case.
  const std::string source = databases.name_of(link_path);
  write_link_file(copy_path, databases.make(copy_path, source));
}

std::vector<std::vector<std::pair<std::string, std::string>>> query_server_rows(const std::string& link_path,
                                                                                 const std::string& sql) {
  pg::Connection connection(connection_string_of(link_path));
  const std::string server = server_sql(sql);
  std::vector<std::vector<std::pair<std::string, std::string>>> rows;
  try {
    auto result = connection.query(server);
    std::vector<std::string> names;
    for (int i = 0; i < PQnfields(result.get()); ++i) names.push_back(upper(PQfname(result.get(), i)));
    for (int r = 0; r < PQntuples(result.get()); ++r) {
      std::vector<std::pair<std::string, std::string>> row;
      for (int i = 0; i < static_cast<int>(names.size()); ++i)
        row.emplace_back(names[i], quoted_value(*result, r, i));
      rows.push_back(std::move(row));
    }
  } catch (const Failure& f) {
    throw std::runtime_error(server + ": " + f.what());
  }
  return rows;
}

}  // namespace kavelo::test

#include "server_sql.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>

#include "db/column_type.h"
#include "db/pg/pg_connection.h"
#include "db/pg/pg_schema.h"
#include "db/pg/test_server.h"
#include "db/store_location.h"
#include "platform/date_time.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "test_support.h"

namespace kavelo::test {
namespace {

namespace pg = db::pg;

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// One past the 'literal', "name" or $tag$ body that opens at `at` (a doubled
// quote stands for itself); `at` when none opens there.
std::size_t opaque_end(std::string_view sql, std::size_t at) {
  const char c = sql[at];
  std::size_t i = at + 1;
  if (c == '\'' || c == '"') {
    while (i < sql.size()) {
      if (sql[i++] != c) continue;
      if (i >= sql.size() || sql[i] != c) return i;
      ++i;
    }
    return sql.size();
  }
  if (c != '$') return at;
  while (i < sql.size() && word_char(sql[i])) ++i;
  if (i >= sql.size() || sql[i] != '$') return at;
  const std::size_t close = sql.find(sql.substr(at, i + 1 - at), i + 1);
  return close == std::string_view::npos ? sql.size() : close + (i + 1 - at);
}

// One statement written for SQLite as the server's schema names things: the
// engine's type names in CREATE and ALTER are the server's types, COLLATE
// NOCASE is kavelo_nocase, a "quoted" name is lower case. Literals and
// unquoted names are left as they are; rowid, which rows on the server do not
// have, fails.
std::string server_sql(std::string_view sql) {
  const std::size_t first = sql.find_first_not_of(" \t\r\n");
  const std::string head = upper(sql.substr(first == std::string_view::npos ? sql.size() : first, 6));
  const bool ddl = head.starts_with("CREATE") || head.starts_with("ALTER");
  std::string out, previous;
  for (std::size_t i = 0; i < sql.size();) {
    std::size_t end = opaque_end(sql, i);
    if (end != i) {
      out += sql[i] == '"' ? lower(sql.substr(i, end - i)) : std::string(sql.substr(i, end - i));
    } else if (!word_char(sql[i])) {
      out += sql[end++];
    } else {
      while (end < sql.size() && word_char(sql[end])) ++end;
      const std::string_view word = sql.substr(i, end - i);
      const std::string key = upper(word);
      const std::size_t next = sql.find_first_not_of(" \t\r\n", end);
      const db::ColumnKind kind = ddl ? db::column_kind(key) : db::ColumnKind::Untyped;
      if (key == "ROWID") throw std::runtime_error("rows on the server have no rowid: " + std::string(sql));
      if (key == "NOCASE" && previous == "COLLATE") {
        out += "kavelo_nocase";
      } else if (ddl && key == "TEXT" && next != std::string_view::npos && sql[next] == '(') {
        out += "varchar";  // its (n) follows
      } else if (kind != db::ColumnKind::Untyped) {
        out += pg::server_type_name(kind);
      } else {
        out += word;  // a name, a number such as 1.5E2
      }
      previous = key;
    }
    i = end;
  }
  return out;
}

void write_link_file(const std::string& path, const std::string& connection_string) {
  const std::string bytes = "ODBC;" + connection_string + "\r\n";
  // The connection string may hold a password one day: only the owner reads it.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const bool written = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (fd < 0 || ::close(fd) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

// The databases this process made on the test server, by the link file that
// leads to each (the last one made for it); all dropped when the process ends.
class ServerDatabases {
 public:
  // A new database for `link_path` (a copy of `template_name` when given);
  // its connection string.
  std::string make(const std::string& link_path, const std::string& template_name = "") {
    const auto& made = made_.emplace_back(std::make_unique<pg::testing::ScratchDatabase>(template_name));
    by_link_[link_path] = made->name();
    return made->connection_string();
  }

  const std::string& name_of(const std::string& link_path) const {
    auto found = by_link_.find(link_path);
    if (found == by_link_.end()) throw std::runtime_error(link_path + " leads to no database of this test");
    return found->second;
  }

 private:
  std::map<std::string, std::string> by_link_;
  std::vector<std::unique_ptr<pg::testing::ScratchDatabase>> made_;
};

ServerDatabases& server_databases() {
  static ServerDatabases databases;
  return databases;
}

// The column's value as SQLite quotes what the SQLite backend stores: whole
// numbers as digits, doubles as REALs, amounts as REALs unless whole (their
// columns have numeric affinity there), dates as their storage text.
std::string quoted_value(const PGresult& result, int row, int column) {
  if (PQgetisnull(&result, row, column)) return "NULL";
  const std::string text = PQgetvalue(&result, row, column);
  switch (PQftype(&result, column)) {
    case 16: return text == "t" ? "-1" : "0";  // bool
    case 20: case 21: case 23: return text;      // int8, int2, int4
    case 700: case 701: return real_text(std::stod(text));  // float4, float8
    case 1700: {  // numeric
      const double number = std::stod(text);
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

void make_server_company(const std::string& link_path, const std::string& extra_sql) {
  // As creating a company file refuses an existing file.
  if (exists(link_path)) throw std::runtime_error(link_path + " already exists");
  const std::string connection_string = server_databases().make(link_path);
  const RunResult created = kavelo_db({"create", "ODBC;" + connection_string});
  if (created.exit_status != 0)
    throw std::runtime_error("kavelo-db create on the server failed (" + std::to_string(created.exit_status) +
                             "): " + created.err);
  pg::Connection connection(connection_string);
  connection.execute("BEGIN");
  // A table a scenario makes with COLLATE NOCASE gets the collation that
  // kavelo-db create gave such keys before: a key that takes more than case
  // for one, which kavelo must still serve.
  if (upper(extra_sql).find("NOCASE") != std::string::npos)
    connection.execute("CREATE COLLATION IF NOT EXISTS kavelo_nocase (provider = icu, locale = 'und-u-ks-level2', "
                       "deterministic = false)");
  for (const std::string& statement : pg::script_statements(extra_sql)) {
    const std::string sql = server_sql(statement);
    try {
      connection.execute(sql);
    } catch (const std::exception& e) {
      throw std::runtime_error(sql + ": " + e.what());
    }
  }
  connection.execute("COMMIT");
  write_link_file(link_path, connection_string);
}

void copy_server_company(const std::string& link_path, const std::string& copy_path) {
  ServerDatabases& databases = server_databases();
  // A copy, not a name: the source may change in the next case.
  const std::string source = databases.name_of(link_path);
  write_link_file(copy_path, databases.make(copy_path, source));
}

std::vector<std::vector<std::pair<std::string, std::string>>> query_server_rows(const std::string& link_path,
                                                                                 const std::string& sql) {
  pg::Connection connection(db::locate_store(link_path).connection_string);
  const std::string server = server_sql(sql);
  std::vector<std::vector<std::pair<std::string, std::string>>> rows;
  try {
    auto result = connection.query(server);
    for (int r = 0; r < PQntuples(result.get()); ++r) {
      auto& row = rows.emplace_back();
      for (int i = 0; i < PQnfields(result.get()); ++i)
        row.emplace_back(upper(PQfname(result.get(), i)), quoted_value(*result, r, i));
    }
  } catch (const Failure& f) {
    throw std::runtime_error(server + ": " + f.what());
  }
  return rows;
}

}  // namespace kavelo::test

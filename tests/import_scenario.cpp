#include "import_scenario.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "server_sql.h"

namespace kavelo::test {
namespace {

std::string quoted(sqlite3_stmt* s, int i) {
  switch (sqlite3_column_type(s, i)) {
    case SQLITE_NULL: return "NULL";
    case SQLITE_INTEGER: return std::to_string(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT: {
      char* text = sqlite3_mprintf("%!.15g", sqlite3_column_double(s, i));
      std::string result = text;
      sqlite3_free(text);
      return result;
    }
    default: return "'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i))) + "'";
  }
}

}  // namespace

std::vector<QueriedRow> query_rows(const std::string& database, const std::string& sql) {
  if (on_server()) return query_server_rows(database, sql);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + database);
  }
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(sql + ": " + message);
  }
  std::vector<QueriedRow> rows;
  while (sqlite3_step(s) == SQLITE_ROW) {
    QueriedRow row;
    for (int i = 0; i < sqlite3_column_count(s); ++i) row.emplace_back(sqlite3_column_name(s, i), quoted(s, i));
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

std::string unquoted(const std::string& quoted) {
  return quoted.size() >= 2 && quoted.front() == '\'' ? quoted.substr(1, quoted.size() - 2) : quoted;
}

std::string error_line(const std::string& label, int record, const std::string& field_code,
                       const std::string& description) {
  return cp1252(label + std::to_string(record) + "/" + field_code + ") " + description + "\r\n");
}

std::string record(const std::string& identifier, int fields, const std::map<int, std::string>& set,
                   const std::set<int>& empty, const std::string& separator) {
  std::string line = identifier;
  for (int position = 2; position <= fields; ++position) {
    auto found = set.find(position);
    line += separator + (found != set.end() ? found->second : empty.contains(position) ? "" : "0");
  }
  return line;
}

std::vector<std::string> ImportScenario::rows(const std::string& sql) const {
  std::vector<std::string> rows;
  for (const QueriedRow& row : query_rows(database, sql)) {
    std::string joined;
    for (const auto& [name, value] : row) joined += (joined.empty() ? "" : "|") + value;
    rows.push_back(joined);
  }
  return rows;
}

ImportScenario::ImportScenario() {
  // Amounts and dates in these scenarios are written by the conventions that
  // apply without a locale (decimal ",", grouping ".", dd/mm/yyyy).
  setenv("LC_ALL", "C", 1);
  make_dir(inter);
  make_dir(data);
  write_connection_file(conn, connection_lines(inter, data, "EMP", "01"));
  empty_files();
}

void ImportScenario::SetUp() { KAVELO_REQUIRE_BACKEND(); }

void ImportScenario::empty_files() {
  for (const char* name : kInterchangeFiles) write_bytes(inter + "/" + name, "");
}

void ImportScenario::start_again() {
  std::filesystem::remove(database);
  empty_files();
}

void ImportScenario::file(const std::string& name, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += cp1252(line) + "\r\n";
  write_bytes(inter + "/" + name, bytes);
}

std::string ImportScenario::import(const std::string& extra_sql) {
  database = make_company(data, "EMP", "01", kCompanySql + extra_sql);
  RunResult result = last_run = run_program({bin_path("kavelo"), conn});
  EXPECT_EQ(read_bytes(inter + "/FINAL.TXT"), expected_final_txt());
  if (!exists(inter + "/ERRORES.TXT")) {
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return "";
  }
  EXPECT_EQ(result.exit_status, 1) << result.err;
  const std::string bytes = read_bytes(inter + "/ERRORES.TXT");
  // The report ends with the line end that follows the error text.
  EXPECT_TRUE(bytes.ends_with("\r\n\r\n")) << bytes;
  return bytes.substr(0, bytes.size() - 2);
}

}  // namespace kavelo::test

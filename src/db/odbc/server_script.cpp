#include "db/odbc/server_script.h"

#include <fmt/format.h>

#include "db/jet_sql.h"
#include "db/odbc/odbc_connection.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::db::odbc {

std::vector<std::string> script_statements(std::string_view script) {
  std::vector<std::string> statements;
  std::string current;
  auto finish = [&] {
    auto start = current.find_first_not_of(" \t\r\n");
    auto end = current.find_last_not_of(" \t\r\n");
    if (start != std::string::npos) statements.push_back(current.substr(start, end - start + 1));
    current.clear();
  };
  char quote = 0;
  for (std::size_t i = 0; i < script.size(); ++i) {
    char c = script[i];
    if (quote) {
      current += c;
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '-' && i + 1 < script.size() && script[i + 1] == '-') {
      // A comment runs to the end of its line and is left out.
      while (i < script.size() && script[i] != '\n') ++i;
      current += '\n';
      continue;
    }
    if (c == ';') {
      finish();
      continue;
    }
    if (c == '\'' || c == '"') quote = c;
    current += c;
  }
  finish();
  return statements;
}

void run_statements(Connection& connection, const std::vector<std::string>& statements) {
  for (std::size_t i = 0; i < statements.size(); ++i) {
    try {
      connection.execute(statements[i]);
    } catch (const Failure& f) {
      std::string start = statements[i].substr(0, statements[i].find('\n'));
      throw Failure(f.number(), fmt::format("{} (sentencia {}: {})", f.description(), i + 1, start));
    }
  }
}

void run_server_sql_script(const std::string& connection_string, const std::string& sql) {
  std::vector<std::string> statements = script_statements(sql);
  Connection connection(connection_string);
  Transaction transaction(connection);
  run_statements(connection, statements);
  transaction.commit();
}

std::vector<std::pair<std::string, std::int64_t>> count_server_rows(const std::string& connection_string) {
  Connection connection(connection_string);
  std::vector<std::string> tables;
  {
    Statement statement(connection);
    statement.execute_direct(
        "SELECT relname FROM pg_class WHERE relkind = 'r' AND relnamespace = current_schema()::regnamespace "
        "ORDER BY oid");
    while (statement.fetch()) tables.push_back(statement.text(0).value_or(""));
  }
  std::vector<std::pair<std::string, std::int64_t>> counts;
  for (const std::string& table : tables) {
    Statement statement(connection);
    statement.execute_direct("SELECT count(*) FROM " + quote_identifier(table));
    statement.fetch();
    counts.emplace_back(upper(table), statement.whole(0).value_or(0));
    statement.close();
  }
  return counts;
}

}  // namespace kavelo::db::odbc

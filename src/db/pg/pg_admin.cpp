#include "db/pg/pg_admin.h"

#include <stdexcept>

#include <fmt/format.h>

#include "db/company_database.h"
#include "db/pg/pg_connection.h"
#include "db/pg/pg_schema.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::db::pg {
namespace {

// Runs the statements one after another; a failure names the statement.
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

}  // namespace

void create_server_company(const std::string& connection_string) {
  std::vector<std::string> statements = server_schema_statements(company_schema_sql());
  Connection connection(connection_string);
  connection.execute("BEGIN");
  auto found = connection.query("SELECT to_regclass('f_emp') IS NOT NULL");
  if (found && pq().PQntuples(found.get()) == 1 && std::string_view(pq().PQgetvalue(found.get(), 0, 0)) == "t")
    throw std::runtime_error(fmt::format("La base de datos del servidor {} ya tiene la tabla F_EMP: ya es una base "
                                         "de datos de empresa y no se crea de nuevo.",
                                         connection.server()));
  run_statements(connection, statements);
  connection.execute("COMMIT");
}

void run_server_script(const std::string& connection_string, const std::string& sql) {
  std::vector<std::string> statements = script_statements(sql);
  Connection connection(connection_string);
  connection.execute("BEGIN");
  run_statements(connection, statements);
  connection.execute("COMMIT");
}

std::vector<std::pair<std::string, std::int64_t>> count_server_rows(const std::string& connection_string) {
  Connection connection(connection_string);
  auto tables = connection.query(
      "SELECT relname FROM pg_class WHERE relkind IN ('r', 'p') AND relnamespace = current_schema()::regnamespace "
      "ORDER BY oid");
  std::vector<Command> counts;
  std::vector<std::pair<std::string, std::int64_t>> result;
  for (int i = 0; i < pq().PQntuples(tables.get()); ++i) {
    std::string name = pq().PQgetvalue(tables.get(), i, 0);
    result.emplace_back(upper(name), 0);
    Command& count = counts.emplace_back();
    count.sql = "SELECT count(*) FROM " + quoted(name);
    count.on_result = [&result, i](const PGresult& rows) {
      result[static_cast<std::size_t>(i)].second = std::stoll(pq().PQgetvalue(&rows, 0, 0));
    };
  }
  connection.run_or_throw(counts);
  return result;
}

}  // namespace kavelo::db::pg

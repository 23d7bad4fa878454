#pragma once
// SQL scripts and row counts on a company database on a server, for
// kavelo-db: the same verbs as for a database file.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavelo::db::odbc {

// The statements of a script, without their ";" and surrounding blanks. A ";"
// inside a 'text', a "name" or a -- comment ends nothing.
std::vector<std::string> script_statements(std::string_view script);

class Connection;

// Runs the statements one after another on `connection`; a failure names the
// statement by its number and its first line.
void run_statements(Connection& connection, const std::vector<std::string>& statements);

// Runs every statement of the script in one transaction: either all take
// effect or none does.
void run_server_sql_script(const std::string& connection_string, const std::string& sql);

// Every table of the database in the order it was made, named as the
// company's schema writes it, with its number of rows.
std::vector<std::pair<std::string, std::int64_t>> count_server_rows(const std::string& connection_string);

}  // namespace kavelo::db::odbc

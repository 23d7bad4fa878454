#pragma once
// kavelo-db's verbs on a company database on a server: making it with the
// reference schema, running an SQL script on it, counting its rows.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kavelo::db::pg {

// Creates the reference company schema in the (empty) database a connection
// string names, in one transaction. Refuses a database that already has
// F_EMP, as creating a company file refuses an existing file.
void create_server_company(const std::string& connection_string);

// Runs every statement of the script in one transaction: either all take
// effect or none does. A failure names the statement by its number and its
// first line.
void run_server_script(const std::string& connection_string, const std::string& sql);

// Every table of the database in the order it was made, named as kavelo
// names it (upper case), with its number of rows.
std::vector<std::pair<std::string, std::int64_t>> count_server_rows(const std::string& connection_string);

}  // namespace kavelo::db::pg

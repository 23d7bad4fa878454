#pragma once
// Company databases made from the reference schema, for kavelo-db, the demo
// and the tests: creating one, running SQL scripts on it, counting its rows.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kavelo::db {

// The SQL text of schema/company.sql, built into the program.
const char* company_schema_sql();

// Creates a new SQLite database at `path` and runs `schema_sql` on it in one
// transaction. Refuses a path where a file already exists; leaves no file
// behind when it fails. Throws std::runtime_error with a message for a person.
void create_database(const std::string& path, const std::string& schema_sql);

// create_database with the reference company schema.
void create_company_database(const std::string& path);

// Runs a script of SQL statements on the existing database at `path` in one
// transaction: either every statement takes effect or none does. The script
// must not open or end transactions of its own.
void run_sql_script(const std::string& path, const std::string& sql);

// Every table of the database at `path` in the order it was created, with its
// number of rows.
std::vector<std::pair<std::string, std::int64_t>> count_rows(const std::string& path);

}  // namespace kavelo::db

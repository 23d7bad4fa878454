#pragma once
// The reference company schema on a database server (PostgreSQL): the same
// tables, columns, keys and defaults as the SQLite reference schema, read
// back from an SQLite database made with it and written as the server's DDL.
#include <string>
#include <string_view>
#include <vector>

namespace kavelo::db::odbc {

// Every table on the server ends with this column: a number that grows with
// each row added, by which the engine finds a row again (SQLite's rowid).
inline constexpr const char* kRowIdentity = "kavelo_row";
// Domains for the kinds that share a server type: a byte (0 to 255) and a
// yes/no (-1 or 0) are both smallint.
inline constexpr const char* kByteDomain = "jet_byte";
inline constexpr const char* kBitDomain = "jet_bit";

// The server's statements for the schema an SQLite script makes: a
// case-insensitive collation when a text column compares without case, then
// each table with its primary and unique keys, then the other indexes.
// Throws std::runtime_error for what it cannot translate.
std::vector<std::string> postgres_schema_statements(std::string_view sqlite_schema_sql);

// The statements of the reference company schema as one script.
std::string postgres_company_schema_ddl();

// Creates the reference company schema in the (empty) database a connection
// string names, in one transaction. Refuses a database that already has
// F_EMP, as creating a company file refuses an existing file.
void create_postgres_company_database(const std::string& connection_string);

}  // namespace kavelo::db::odbc

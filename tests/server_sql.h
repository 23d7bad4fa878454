#pragma once
// The scenarios' company on the test database server: the SQL the scenarios
// write for the SQLite company database in the server's words, a database
// per company reached through a link file, and its rows read back as SQLite
// would give them.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kavelo::test {

// One statement written for SQLite, as the server's schema names things: the
// engine's type names in CREATE and ALTER are the server's types, COLLATE
// NOCASE is kavelo_nocase, a "quoted" name is lower case. Literals and
// unquoted names are left as they are; rowid, which rows on the server do not
// have, fails.
std::string server_sql(std::string_view sqlite_sql);

// The statements of a script, without their ";" and surrounding blanks. A
// ";" inside a 'literal', a "name", a $$ body or a -- comment ends nothing.
std::vector<std::string> split_statements(std::string_view script);

// Makes a new database on the test server, creates the reference schema in
// it with `kavelo-db create`, runs `extra_sql` (adapted) in one transaction
// and writes the link file at `link_path`. A database made earlier for the
// same link path is dropped first; the rest go when the process ends. Throws
// std::runtime_error when a step fails.
void make_server_company(const std::string& link_path, const std::string& extra_sql);

// A copy of the server database that `link_path` leads to, as a new database
// with its own link file at `copy_path`.
void copy_server_company(const std::string& link_path, const std::string& copy_path);

// The rows of `sql` (adapted) on the server database behind `link_path`, each
// column's name upper-cased with its value quoted as SQLite quotes what the
// SQLite backend stores.
std::vector<std::vector<std::pair<std::string, std::string>>> query_server_rows(const std::string& link_path,
                                                                                 const std::string& sql);

}  // namespace kavelo::test

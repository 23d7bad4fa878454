#pragma once
// The scenarios' company on the test database server: a database per company
// reached through a link file, filled by SQL written for the SQLite company
// database (put in the server's words), and its rows read back as SQLite
// would give them.
#include <string>
#include <utility>
#include <vector>

namespace kavelo::test {

// Makes a new database on the test server, creates the reference schema in
// it with `kavelo-db create`, runs `extra_sql` in one transaction and writes
// the link file at `link_path`. In the SQL the engine's type names in CREATE
// and ALTER become the server's types, COLLATE NOCASE kavelo_nocase and a
// "quoted" name lower case. The databases go when the process ends. Throws
// std::runtime_error when a step fails.
void make_server_company(const std::string& link_path, const std::string& extra_sql);

// A copy of the server database that `link_path` leads to, as a new database
// with its own link file at `copy_path`.
void copy_server_company(const std::string& link_path, const std::string& copy_path);

// The rows of `sql` (put in the server's words; rowid fails) on the server
// database behind `link_path`, each column's name upper-cased with its value
// quoted as SQLite quotes what the SQLite backend stores.
std::vector<std::vector<std::pair<std::string, std::string>>> query_server_rows(const std::string& link_path,
                                                                                 const std::string& sql);

}  // namespace kavelo::test

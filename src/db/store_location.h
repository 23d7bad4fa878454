#pragma once
// What the file at a company's database path holds: an SQLite database, a
// link to a database on a server (a text file whose first line is "ODBC;"
// and a connection string), or a file of the accounting application's own
// format, which this platform cannot open.
#include <string>

namespace kavelo::db {

struct StoreLocation {
  enum class Kind { Sqlite, Server };
  Kind kind = Kind::Sqlite;
  std::string connection_string;  // for a server: the rest of the first line
};

// Reads the head of the (existing, regular) file at `path`. Fails with a
// clear description for a link file that holds a password but may be read by
// others, and for the application's own database format. Anything else is
// left to SQLite, which says whether it is a database.
StoreLocation locate_store(const std::string& path);

// Whether a connection string holds a password (PWD= or PASSWORD= with a value).
bool holds_password(const std::string& connection_string);

}  // namespace kavelo::db

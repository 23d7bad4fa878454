#pragma once
// Opening the company database at a company's database path: an SQLite file,
// or a link file that names a database on a server.
#include <chrono>
#include <memory>
#include <string>

#include "db/store.h"
#include "platform/regional.h"

namespace kavelo::db {

// Opens the store of `path`, which must be a regular file: an SQLite
// database, or a link file whose first line is "ODBC;" and a connection
// string. An SQLite file that another program holds is waited for `wait`.
std::unique_ptr<Store> open_store(const std::string& path, std::chrono::milliseconds wait,
                                  const RegionalSettings& regional);

}  // namespace kavelo::db

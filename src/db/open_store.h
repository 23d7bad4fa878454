#pragma once
// Opening the company database at a company's database path: an SQLite file,
// or a link file that names a database on a server.
#include <chrono>
#include <memory>
#include <string>

#include "db/store.h"
#include "platform/failure.h"
#include "platform/regional.h"

namespace kavelo::db {

// The database could not be opened for a reason that trying again does not
// mend: a password or user the server refuses, a database that is not there,
// an SSL mode the server refuses or that does not exist, a link file that
// others may read, a file of a format no store reads.
class OpenRefused : public Failure {
 public:
  explicit OpenRefused(const Failure& why) : Failure(why) {}
};

// The server did not answer, or is not ready yet (starting, too many
// sessions): trying again a moment later may mend it. `server` names it for
// a person.
class ServerNotReady : public Failure {
 public:
  ServerNotReady(const Failure& why, std::string server) : Failure(why), server_(std::move(server)) {}
  const std::string& server() const { return server_; }

 private:
  std::string server_;
};

// Opens the store of `path`, which must be a regular file: an SQLite
// database, or a link file whose first line is "ODBC;" and a connection
// string. An SQLite file that another program holds is waited for `wait`.
std::unique_ptr<Store> open_store(const std::string& path, std::chrono::milliseconds wait,
                                  const RegionalSettings& regional);

}  // namespace kavelo::db

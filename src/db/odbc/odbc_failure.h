#pragma once
// What an ODBC driver reports when a call fails, and the Failure of our
// catalogue it means.
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.h"

namespace kavelo::db::odbc {

struct Diagnostic {
  std::string sqlstate;  // five characters, e.g. "23505"
  int native = 0;
  std::string message;
};

// The diagnostic records a handle holds after a failed call.
std::vector<Diagnostic> read_diagnostics(short handle_type, void* handle);

// The failure the first record means: a duplicate key is 3022, a Null in a
// required column and a broken check are the engine's errors for them, a
// connection failure says which server could not be reached; anything else is
// an engine failure with the driver's message.
// A statement the server cannot read is a syntax error naming `query`, and a
// table or column it does not know is named as such.
Failure failure_from(const std::vector<Diagnostic>& diagnostics, std::string_view connection_string,
                     std::string_view query = {});

// The server a connection string names, for a person: "'host' (puerto N)", or
// the data source name.
std::string server_of(std::string_view connection_string);

}  // namespace kavelo::db::odbc

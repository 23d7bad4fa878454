#pragma once
// The database check on a company database on a server (PostgreSQL): the
// same checklist as for a file.
#include <optional>
#include <string>
#include <vector>

#include "schema_check.h"

namespace kavelo::check {

// The checks of the database that `connection_string` names, which is only
// read. Throws std::runtime_error when the server cannot be reached or its
// catalogue cannot be read; anything found wrong after that is a failed check.
std::vector<CheckResult> check_server_database(const std::string& connection_string,
                                               const std::optional<std::string>& company = std::nullopt);

}  // namespace kavelo::check

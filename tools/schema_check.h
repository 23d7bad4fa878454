#pragma once
// Whether a company database is one kavelo can load into, as a checklist a
// person reads in a few seconds: the tables and columns against the reference
// schema, the company's level mask, the numbering settings, the journals, and
// the balance columns for every side of the stored journal lines. One
// checklist for every store: a database on a server is checked by
// check_server_database (schema_check_server.h).
#include <optional>
#include <string>
#include <vector>

namespace kavelo::check {

struct CheckResult {
  bool ok = false;
  std::string text;  // what was checked and, on failure, what is wrong
};

// The checks of the SQLite database at `path`, which is only read. `company`
// is the CODEMP of F_EMP to check; without one, the only company of F_EMP.
// Throws std::runtime_error when the file cannot be opened as a database at
// all; anything found wrong after that is a failed check.
std::vector<CheckResult> check_company_database(const std::string& path,
                                                const std::optional<std::string>& company = std::nullopt);

// "[ok] F_CLI: ..." or "[FALLO] F_CLI: ...".
std::string checklist_line(const CheckResult& result);

}  // namespace kavelo::check

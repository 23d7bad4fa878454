#pragma once
// What the import scenarios share: a company EMP with every interchange file
// present and empty unless a scenario fills it, a run of kavelo that gives the
// run's error text, and the stored rows read back as SQL quotes them.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace kavelo::test {

inline constexpr const char* kInterchangeFiles[] = {"MAE.TXT", "CLI.TXT", "PRO.TXT", "APU.TXT", "IVR.TXT", "IVS.TXT"};

// The company of every scenario, with the numbering settings the journal
// import reads even when its file is empty.
inline constexpr const char* kCompanySql =
    "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('EMP', 'Empresa', '1110000');\n"
    "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);\n";

// The row of a query: each column's name with its value as SQLite quotes it
// ('text', 12.0 for a double, 800 for a whole number, NULL), so that a
// comparison tells the type as well. On the server the SQL is put in the
// server's words and the values quoted as SQLite would give them back.
using QueriedRow = std::vector<std::pair<std::string, std::string>>;
std::vector<QueriedRow> query_rows(const std::string& database, const std::string& sql);
// A quoted value as plain text: 'abc' is abc; numbers and NULL stay as they are.
std::string unquoted(const std::string& quoted);

// "Maestro: (12/04) Desbordamiento" and a line end, in Windows-1252.
std::string error_line(const std::string& label, int record, const std::string& field_code,
                       const std::string& description);

// A record of `fields` fields joined by `separator`: the identifier, then the
// values of `set` at their positions (the identifier's is 1), "" at the
// positions of `empty` and "0" (a valid text, number and amount) elsewhere.
std::string record(const std::string& identifier, int fields, const std::map<int, std::string>& set,
                   const std::set<int>& empty = {}, const std::string& separator = ";");

class ImportScenario : public ::testing::Test {
 protected:
  ImportScenario();
  // Skips when the backend of the scenarios cannot run here.
  void SetUp() override;

  // Every file present and empty unless a scenario fills it: an empty file
  // imports nothing and reports nothing.
  void empty_files();
  // For the next case of a scenario: no company database, every file empty.
  void start_again();
  // Writes the interchange file: each line in Windows-1252, ended by CR LF.
  void file(const std::string& name, const std::vector<std::string>& lines);
  // Makes the company (with `extra_sql` after its own rows), runs kavelo and
  // gives the run's error text (the error report less the line end that
  // follows the text), "" when there is no report.
  std::string import(const std::string& extra_sql = "");
  // The rows of `sql` on the company, each row's quoted values joined by "|".
  std::vector<std::string> rows(const std::string& sql) const;
  // The last run of import(), its summary on the standard error included.
  RunResult last_run;

  TempDir tmp;
  const std::string inter = tmp / "inter";
  const std::string data = tmp / "datos";
  const std::string conn = tmp / "conexion.txt";
  std::string database;
};

}  // namespace kavelo::test

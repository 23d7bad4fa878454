// Codes made to look like SQL: quotes, comments, statement ends, conditions
// that are always true. Each imports as itself and touches no other row.
#include <gtest/gtest.h>

#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

const std::vector<std::string> kCodes = {"O'BRIEN", "'OR'1'='1", "X';DROP--", "--",     "a;b",  "[x]",
                                         "\"q\"",   "#1/1/11#",  "'",         "''",     "%_*?", "1 OR 1=1"};

// A record of `fields` fields: every one "0" (a valid text, number and
// amount), but the identifier, the code and the name at their positions.
std::string record(const std::string& identifier, int fields, const std::string& code, int name_position,
                   const std::string& name) {
  std::vector<std::string> values(static_cast<std::size_t>(fields), "0");
  values[0] = identifier;
  values[1] = code;
  values[static_cast<std::size_t>(name_position - 1)] = name;
  return fmt::format("{}\r\n", fmt::join(values, "|"));
}

// The first two columns of every row, text without its quotes.
std::vector<std::pair<std::string, std::string>> rows_of(const std::string& database, const std::string& sql) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const QueriedRow& row : query_rows(database, sql))
    rows.emplace_back(unquoted(row.at(0).second), unquoted(row.at(1).second));
  return rows;
}

TEST(Injection, HostileCodesImportAsThemselvesAndTouchNoOtherRow) {
  KAVELO_REQUIRE_BACKEND();
  TempDir tmp;
  const std::string inter = tmp / "inter", data = tmp / "datos";
  make_dir(inter);
  make_dir(data);
  std::string database = make_company(data, "INJ", "01",
                                      "INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('INJ', '1101');"
                                      "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 1);"
                                      "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);"
                                      "INSERT INTO F_MAE (CODMAE, NOMMAE) VALUES ('DECOY', 'intacto');"
                                      "INSERT INTO F_CLI (CODCLI, NOMCLI) VALUES ('DECOY', 'intacto');"
                                      "INSERT INTO F_PRO (CODPRO, NOMPRO) VALUES ('DECOY', 'intacto');");
  std::string accounts, customers, suppliers, journal;
  for (std::size_t i = 0; i < kCodes.size(); ++i) {
    accounts += fmt::format("M001|{}|cuenta {}\r\n", kCodes[i], i);
    customers += record("C001", 52, kCodes[i], 4, fmt::format("cliente {}", i));
    suppliers += record("P001", 51, kCodes[i], 3, fmt::format("proveedor {}", i));
    // An entry of two lines, each account with the code inside it.
    journal += fmt::format("A001|1|15/03/2011|0|1|43{}|x|d|D|10,00|10,00\r\n", kCodes[i]);
    journal += fmt::format("A001|1|15/03/2011|0|2|70{}|x|d|H|10,00|10,00\r\n", kCodes[i]);
  }
  write_bytes(inter + "/MAE.TXT", cp1252(accounts));
  write_bytes(inter + "/CLI.TXT", cp1252(customers));
  write_bytes(inter + "/PRO.TXT", cp1252(suppliers));
  write_bytes(inter + "/APU.TXT", cp1252(journal));
  for (const char* name : {"IVR.TXT", "IVS.TXT"}) write_bytes(inter + "/" + name, "");
  const std::string baseline = tmp / "ANTES.MDB";
  copy_company(database, baseline);
  write_connection_file(tmp / "conexion.txt", connection_lines(inter, data, "INJ", "01", "|"));

  RunResult result = run_program({bin_path("kavelo"), tmp / "conexion.txt"});
  EXPECT_EQ(result.exit_status, 0) << (exists(inter + "/ERRORES.TXT") ? read_bytes(inter + "/ERRORES.TXT") : "");

  struct Table {
    const char* sql;
    const char* name;
  };
  for (const Table& t : {Table{"SELECT CODMAE, NOMMAE FROM F_MAE", "cuenta"},
                         Table{"SELECT CODCLI, NOMCLI FROM F_CLI", "cliente"},
                         Table{"SELECT CODPRO, NOMPRO FROM F_PRO", "proveedor"}}) {
    std::vector<std::pair<std::string, std::string>> expected = {{"DECOY", "intacto"}};
    for (std::size_t i = 0; i < kCodes.size(); ++i) expected.emplace_back(kCodes[i], fmt::format("{} {}", t.name, i));
    std::vector<std::pair<std::string, std::string>> stored = rows_of(database, t.sql);
    std::sort(expected.begin(), expected.end());
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, expected) << t.sql;
  }
  // Every line posted to its own account and levels, and only there.
  EXPECT_EQ(rows_of(database, "SELECT count(*), count(DISTINCT CUEAPU) FROM F_APU"),
            (std::vector<std::pair<std::string, std::string>>{
                {std::to_string(2 * kCodes.size()), std::to_string(2 * kCodes.size())}}));
  RunResult check = run_program({bin_path("kavelo-db"), "verify", database, "--baseline", baseline});
  EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
}

}  // namespace
}  // namespace kavelo::test

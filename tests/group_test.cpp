// Records are written in groups of a thousand, sent to a server together; a
// group in which anything fails is written again one record at a time. Either
// way the outcome is that of writing record after record: the records before
// the first failure stored, a duplicate passed over, nothing after.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

constexpr int kRecords = 2500;

// Account `i` (from 1) of MAE.TXT, its NEXMAE unique unless `nex` says.
std::string account(int i, const std::string& name = "", const std::string& nex = "") {
  return fmt::format("M001;{:05};{};{};0;0;0;", i, name.empty() ? fmt::format("Cuenta {}", i) : name,
                     nex.empty() ? fmt::format("N{}", i) : nex);
}

class Groups : public ImportScenario {
 protected:
  // The codes of F_MAE, as numbers.
  std::set<int> stored() {
    std::set<int> codes;
    for (const QueriedRow& row : query_rows(database, "SELECT CODMAE FROM F_MAE")) codes.insert(std::stoi(unquoted(row[0].second)));
    return codes;
  }
  static std::set<int> from_one_to(int last, const std::set<int>& but = {}) {
    std::set<int> codes;
    for (int i = 1; i <= last; ++i)
      if (!but.contains(i)) codes.insert(i);
    return codes;
  }
};

TEST_F(Groups, TheFirstFailingRecordStopsTheFileWhereverItStandsInItsGroup) {
  for (int failing : {1, 1000, 1001, 1500, 2000, 2500}) {
    SCOPED_TRACE(failing);
    start_again();
    std::vector<std::string> lines;
    for (int i = 1; i <= kRecords; ++i) lines.push_back(i == failing ? account(i, std::string(101, 'n')) : account(i));
    file("MAE.TXT", lines);
    EXPECT_EQ(import(), error_line("Maestro: (", failing, "02",
                                   "El campo 'NOMMAE' es demasiado pequeño para aceptar la cantidad de datos que "
                                   "intentó agregar."));
    EXPECT_EQ(stored(), from_one_to(failing - 1));
  }
}

TEST_F(Groups, DuplicatesArePassedOverInAnyGroupAndARecordAfterThemStillStops) {
  const std::set<int> duplicates = {10, 999, 1000, 1001, 1750};
  std::vector<std::string> lines;
  for (int i = 1; i <= kRecords; ++i)
    lines.push_back(duplicates.contains(i) ? account(i, "", "N1") : i == 1800 ? account(i, std::string(101, 'n'))
                                                                               : account(i));
  file("MAE.TXT", lines);
  EXPECT_EQ(import("CREATE UNIQUE INDEX unica ON F_MAE (NEXMAE);"),
            error_line("Maestro: (", 1800, "02",
                       "El campo 'NOMMAE' es demasiado pequeño para aceptar la cantidad de datos que intentó "
                       "agregar."));
  EXPECT_EQ(stored(), from_one_to(1799, duplicates));
  // The summary counts them.
  EXPECT_NE(last_run.err.find(fmt::format("MAE.TXT       1800      {}         0          {}", 1799 - duplicates.size(),
                                          duplicates.size())),
            std::string::npos)
      << last_run.err;
}

TEST_F(Groups, AKeyTwiceInAGroupIsAddedThenChanged) {
  std::vector<std::string> lines;
  for (int i = 1; i <= kRecords; ++i) lines.push_back(account(i));
  lines[599] = account(500, "Otra vez", "N600");
  file("MAE.TXT", lines);
  EXPECT_EQ(import(), "");
  EXPECT_EQ(query_rows(database, "SELECT NOMMAE, NEXMAE FROM F_MAE WHERE CODMAE = '00500'"),
            (std::vector<QueriedRow>{{{"NOMMAE", "'Otra vez'"}, {"NEXMAE", "'N600'"}}}));
  EXPECT_EQ(stored(), from_one_to(kRecords, {600}));
  EXPECT_NE(last_run.err.find("MAE.TXT       2500      2499         1          0"), std::string::npos) << last_run.err;
}

}  // namespace
}  // namespace kavelo::test

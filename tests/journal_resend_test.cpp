// A journal sent again, as an integrator sends it after a failure: with the
// entry numbers kavelo gave, with lines changed, or as it was first sent, with
// and without --match-guid. The books stay right on a file and on a server.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

using Rows = std::vector<std::string>;
using Fields = std::vector<std::string>;

// The lines of a file of Windows-1252 bytes, each cut into its fields.
std::vector<Fields> records_of(const std::string& bytes) {
  std::vector<Fields> records;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) end = bytes.size();
    Fields fields;
    for (std::size_t at = start;;) {
      std::size_t bar = bytes.find('|', at);
      if (bar == std::string::npos || bar > end) bar = end;
      fields.push_back(bytes.substr(at, bar - at));
      if (bar == end) break;
      at = bar + 1;
    }
    records.push_back(std::move(fields));
    start = end + 2;
  }
  return records;
}

std::string bytes_of(const std::vector<Fields>& records) {
  std::string bytes;
  for (const Fields& fields : records) {
    for (std::size_t i = 0; i < fields.size(); ++i) bytes += (i ? "|" : "") + fields[i];
    bytes += "\r\n";
  }
  return bytes;
}

// Positions of the journal record's fields, from 0.
constexpr std::size_t kEntry = 3, kAccount = 5, kEuros = 9, kGuid = 22;

class JournalResend : public ImportScenario {
 protected:
  void SetUp() override {
    ImportScenario::SetUp();
    if (IsSkipped()) return;
    ASSERT_EQ(kavelo_db({"sample", tmp / "muestra", "--records", "3000"}).exit_status, 0);
    write_connection_file(conn, connection_lines(inter, data, "MUESTRA", "01", "|"));
    database = make_company(data, "MUESTRA", "01", read_bytes(tmp / "muestra/company.sql"));
    copy_company(database, baseline);
    first_sent = read_bytes(tmp / "muestra/APU.TXT");
  }

  // Runs kavelo with `options` on APU.TXT made of `bytes`; its error report.
  std::string send(const std::string& bytes, const std::vector<std::string>& options = {}) {
    write_bytes(inter + "/APU.TXT", bytes);
    std::vector<std::string> argv = {bin_path("kavelo")};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(conn);
    last_run = run_program(argv);
    return error_report(inter);
  }
  Rows lines() const { return rows("SELECT * FROM F_APU ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU"); }
  Rows balances() const { return rows("SELECT * FROM F_SAL ORDER BY DIASAL, CUESAL"); }
  // The balances are the company's opening ones plus every line stored.
  void expect_verified() {
    RunResult check = kavelo_db({"verify", database, "--baseline", baseline});
    EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
  }

  std::string first_sent;
  const std::string baseline = tmp / "ANTES.MDB";
};

TEST_F(JournalResend, TheBooksFollowTheLinesHoweverTheFileIsSentAgain) {
  ASSERT_EQ(send(first_sent), "") << last_run.err;
  const Rows stored = lines(), posted = balances();
  expect_verified();

  // As it was first sent, its lines found by their GUIDs: nothing changes.
  ASSERT_EQ(send(first_sent, {"--match-guid"}), "") << last_run.err;
  EXPECT_EQ(lines(), stored);
  EXPECT_EQ(balances(), posted);

  // With the entry numbers kavelo gave: nothing changes.
  std::map<std::string, std::string> entry_of;
  for (const std::string& row : rows("SELECT GUIDAPU, ASIAPU FROM F_APU")) {
    const auto bar = row.find('|');
    entry_of[unquoted(row.substr(0, bar))] = row.substr(bar + 1);
  }
  std::vector<Fields> numbered = records_of(first_sent);
  int renumbered = 0;
  for (Fields& f : numbered)
    if (f[kEntry] == "0") f[kEntry] = entry_of.at(f[kGuid]), ++renumbered;
  ASSERT_GT(renumbered, 1000);
  ASSERT_EQ(send(bytes_of(numbered)), "") << last_run.err;
  EXPECT_EQ(lines(), stored);
  EXPECT_EQ(balances(), posted);

  // With 20 amounts and 20 accounts changed: the balances follow the lines.
  std::vector<Fields> changed = numbered;
  for (int i = 0; i < 20; ++i) {
    changed[100 + i][kEuros] = "123,45";
    changed[200 + i][kAccount] = "5550001";
  }
  ASSERT_EQ(send(bytes_of(changed)), "") << last_run.err;
  expect_verified();
  EXPECT_EQ(rows("SELECT count(*) FROM F_APU WHERE IMEAPU = 123.45"), Rows{"20"});
  EXPECT_EQ(rows("SELECT count(*) FROM F_APU WHERE CUEAPU = '5550001'"), Rows{"20"});
  EXPECT_NE(balances(), posted);

  // As it was first sent, with the option: every line as the first run
  // stored it, and the balances with them: the rows the changed accounts
  // took stay, emptied, as verify sees.
  ASSERT_EQ(send(first_sent, {"--match-guid"}), "") << last_run.err;
  EXPECT_EQ(lines(), stored);
  expect_verified();
  EXPECT_NE(rows("SELECT count(*) FROM F_SAL WHERE CUESAL = '5550001'"), Rows{"0"});

  // Without the option its entries are numbered anew, and stored beside.
  ASSERT_EQ(send(first_sent), "") << last_run.err;
  EXPECT_EQ(rows("SELECT count(*) FROM F_APU"), Rows{std::to_string(stored.size() + renumbered)});
  expect_verified();
}

}  // namespace
}  // namespace kavelo::test

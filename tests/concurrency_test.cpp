// kavelo beside other writers of the same company database: a second run of
// kavelo, and sessions of the accounting application. On a file, SQLite's
// write lock puts their transactions one after the other; on a server, kavelo
// locks the tables it writes for each of its transactions. Either way nothing
// is lost, no entry number is handed out twice, and a lock held too long ends
// the file with its error line instead of half storing it.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "db/pg/pg_connection.h"
#include "db/pg/test_server.h"
#include "test_support.h"
#include "import_scenario.h"

namespace kavelo::test {
namespace {

using namespace std::chrono_literals;

// `lines` journal lines, in entries of two, every one numbered by kavelo, over
// the days of March and a few accounts, so that both runs number entries of
// the same journal and dates and post to the same balance rows. `batch` goes
// into the concept, to tell the runs' lines apart.
std::string journal(const std::string& batch, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    const int entry = i / 2;
    const bool debit = i % 2 == 0;
    text += fmt::format("A001|1|{:02}/03/2011|0|{}|{}|Lote {}|F{}|{}|{},{:02}|{},00|||||||||||\r\n",
                        1 + entry % 28, 1 + i % 2, debit ? fmt::format("4300{:03}", entry % 7) : "7000001", batch,
                        entry, debit ? "D" : "H", 10 + entry % 50, entry % 100, 100 + entry % 500);
  }
  return text;
}

// The one value of a query's first row.
std::string single(const std::string& database, const std::string& sql);

// The journal lines stored so far; 0 while a run holds the file too long to read it.
long lines_stored(const std::string& database) {
  try {
    return std::stol(single(database, "SELECT count(*) FROM F_APU"));
  } catch (const std::exception&) {
    return 0;
  }
}

// The interchange folder of one run, with its connection file.
struct Batch {
  Batch(const TempDir& tmp, const std::string& name, const std::string& data, const std::string& apu)
      : inter(tmp / ("inter" + name)), conn(tmp / ("conexion" + name + ".txt")) {
    make_dir(inter);
    for (const char* file : kInterchangeFiles) write_bytes(inter + "/" + file, "");
    write_bytes(inter + "/APU.TXT", apu);
    write_connection_file(conn, connection_lines(inter + "/", data + "/", "EMP", "01", "|"));
  }
  RunResult run() const { return run_program({bin_path("kavelo"), conn}); }
  std::string errors() const { return exists(inter + "/ERRORES.TXT") ? read_bytes(inter + "/ERRORES.TXT") : ""; }

  std::string inter, conn;
};

std::string company_sql(const std::string& naaaut, const std::string& namaut) {
  return "INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('EMP', '1110000');\n"
         "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, " +
         naaaut + ", " + namaut + ");\n" + "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);\n";
}

std::string single(const std::string& database, const std::string& sql) {
  auto rows = query_rows(database, sql);
  return rows.empty() || rows[0].empty() ? "" : unquoted(rows[0][0].second);
}

struct Numbering {
  const char* name;
  const char* naaaut;
  const char* namaut;
};
void PrintTo(const Numbering& n, std::ostream* out) { *out << n.name; }

class TwoRuns : public ::testing::TestWithParam<Numbering> {
 protected:
  void SetUp() override { KAVELO_REQUIRE_BACKEND(); }
  TempDir tmp;
};

TEST_P(TwoRuns, StartedTogetherStoreEveryLineOfBothWithoutSharingAnEntry) {
  // Enough lines for several transactions of each run, which then take turns.
  constexpr int kLines = 30000;
  const std::string data = tmp / "datos";
  make_dir(data);
  const std::string database = make_company(data, "EMP", "01", company_sql(GetParam().naaaut, GetParam().namaut));
  const std::string baseline = tmp / "ANTES.MDB";
  copy_company(database, baseline);
  Batch a(tmp, "A", data, journal("A", kLines)), b(tmp, "B", data, journal("B", kLines));

  // The second starts once the first has committed some of its lines, so
  // that each has to wait for the other in mid-run.
  RunResult first, second;
  std::atomic<bool> done = false;
  std::thread other([&] {
    first = a.run();
    done = true;
  });
  while (!done && lines_stored(database) == 0) std::this_thread::sleep_for(10ms);
  second = b.run();
  other.join();

  EXPECT_EQ(first.exit_status, 0) << a.errors() << first.err;
  EXPECT_EQ(second.exit_status, 0) << b.errors() << second.err;
  EXPECT_EQ(single(database, "SELECT count(*) FROM F_APU"), std::to_string(2 * kLines));
  // Every entry holds the two lines of one run.
  EXPECT_EQ(single(database,
                   "SELECT count(*) FROM (SELECT DIAAPU FROM F_APU GROUP BY DIAAPU, FECAPU, ASIAPU "
                   "HAVING count(*) <> 2 OR count(DISTINCT CONAPU) <> 1) AS mixed"),
            "0");
  RunResult verify = kavelo_db({"verify", database, "--baseline", baseline});
  EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
}

INSTANTIATE_TEST_SUITE_P(Numbering, TwoRuns,
                         ::testing::Values(Numbering{"counter", "1", "0"}, Numbering{"date", "1", "1"},
                                           Numbering{"journal", "0", "0"}),
                         [](const auto& test) { return std::string(test.param.name); });

// Sessions of another program on the server company while kavelo runs.
class ServerWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!on_server()) GTEST_SKIP() << "about other sessions of a database server";
    KAVELO_REQUIRE_PG_SERVER();
    make_dir(data);
    // The balance row of group 4 is there before the run.
    database = make_company(data, "EMP", "01",
                            company_sql("1", "1") + "INSERT INTO F_SAL (CUESAL, DIASAL) VALUES ('4', 1);\n");
    const std::string link = read_bytes(database);
    connection_string = link.substr(5, link.find('\r') - 5);
  }

  // Runs `session` beside the run of `batch`, from when the journal has stored
  // more than 200 lines; gives the run's result.
  template <class Session>
  RunResult beside(const Batch& batch, Session session) {
    RunResult result;
    std::atomic<bool> done = false;
    std::thread run([&] {
      result = batch.run();
      done = true;
    });
    while (!done && lines_stored(database) <= 200) std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(done) << "the run ended before its journal reached 200 lines";
    session(done);
    run.join();
    return result;
  }

  TempDir tmp;
  const std::string data = tmp / "datos";
  std::string database;
  std::string connection_string;
};

// Enough lines for several of kavelo's transactions, each half a second.
constexpr int kManyLines = 100000;

TEST_F(ServerWriters, ASessionAddingToABalanceRowWhileTheRunPostsToItLosesNothing) {
  constexpr int kLines = kManyLines;
  Batch batch(tmp, "A", data, journal("A", kLines));
  long added = 0;
  RunResult result = beside(batch, [&](const std::atomic<bool>& done) {
    db::pg::Connection session(connection_string);
    // Every month column of the row, one committed change after the other.
    std::string columns;
    for (int month = 1; month <= 12; ++month)
      columns += fmt::format("{}pd{}sal = pd{}sal + 1", month > 1 ? ", " : "", month, month);
    while (!done) {
      session.execute("UPDATE f_sal SET " + columns + " WHERE diasal = 1 AND cuesal = '4'");
      ++added;
    }
  });
  EXPECT_EQ(result.exit_status, 0) << batch.errors() << result.err;
  EXPECT_GT(added, 0);
  // The debits of the lines, in pesetas: every line on account 4300xxx.
  long posted = 0;
  for (int entry = 0; entry < kLines / 2; ++entry) posted += 100 + entry % 500;
  EXPECT_EQ(single(database, "SELECT PD1SAL FROM F_SAL WHERE DIASAL = 1 AND CUESAL = '4'"), std::to_string(added));
  EXPECT_EQ(single(database, "SELECT PD3SAL FROM F_SAL WHERE DIASAL = 1 AND CUESAL = '4'"),
            std::to_string(added + posted));
}

TEST_F(ServerWriters, ALockHeldLongerThanTheWaitEndsTheFileWithItsLineAndTheOthersImport) {
  std::string output_vat = "R001|7";
  for (int position = 3; position <= 65; ++position)
    output_vat += position == 11 || position == 12 || position == 47 ? "|" : "|0";
  Batch batch(tmp, "A", data, journal("A", kManyLines));
  write_bytes(batch.inter + "/IVR.TXT", output_vat + "\r\n");
  const std::string baseline = tmp / "ANTES.MDB";
  copy_company(database, baseline);

  RunResult result = beside(batch, [&](const std::atomic<bool>&) {
    // A user changes a balance and leaves the change open for longer than
    // kavelo waits for a lock (30 s).
    db::pg::Connection session(connection_string);
    session.execute("BEGIN");
    session.execute("UPDATE f_sal SET pd1sal = pd1sal WHERE diasal = 1 AND cuesal = '4'");
    std::this_thread::sleep_for(35s);
    session.execute("ROLLBACK");
  });
  EXPECT_EQ(result.exit_status, 1) << result.err;
  const std::string report = batch.errors();
  std::smatch named;
  ASSERT_TRUE(std::regex_search(report, named, std::regex("^Apuntes: \\((\\d+)/\\) "))) << report;
  EXPECT_NE(report.find("No se pudo bloquear la tabla 'F_SAL'"), std::string::npos) << report;
  // The records before the one named are stored whole, none after it.
  const std::string stored = single(database, "SELECT count(*) FROM F_APU");
  EXPECT_EQ(std::stoll(named[1].str()), std::stoll(stored) + 1) << report;
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << "one error line: " << report;
  RunResult verify = kavelo_db({"verify", database, "--baseline", baseline});
  EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
  EXPECT_EQ(single(database, "SELECT count(*) FROM F_IVR"), "1");
}

}  // namespace
}  // namespace kavelo::test

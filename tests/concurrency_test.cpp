// kavelo beside other writers of the same company database: a second run of
// kavelo, and sessions of the accounting application. On a file, SQLite's
// write lock puts their transactions one after the other (held for a few
// seconds at start or in mid-run the import waits and loses nothing; held for
// good, the run gives up in bounded time and still writes its reports); on a
// server, kavelo locks the tables it writes for each of its transactions.
// Either way nothing is lost, no entry number is handed out twice, and a lock
// held too long ends the file with its error line instead of half storing it.
// A dropped connection to the server loses only what it names.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "db/pg/pg_connection.h"
#include "db/store_location.h"
#include "test_support.h"

namespace kavelo::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string company_sql(const std::string& naaaut, const std::string& namaut) {
  return "INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('EMP', '1110000');\n"
         "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, " +
         naaaut + ", " + namaut + ");\n" + "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);\n";
}

// A company whose journal 1 is numbered as `naaaut` and `namaut` say, copied
// to `baseline` before any run.
class Beside : public ::testing::Test {
 protected:
  void SetUp() override { KAVELO_REQUIRE_BACKEND(); }
  void company(const std::string& naaaut, const std::string& namaut, const std::string& extra_sql = "") {
    make_dir(data);
    database = make_company(data, "EMP", "01", company_sql(naaaut, namaut) + extra_sql);
    copy_company(database, baseline);
  }

  template <class Session>
  RunResult beside(const Batch& batch, Session session) {
    return run_beside(batch, database, 200, session);
  }

  TempDir tmp;
  const std::string data = tmp / "datos";
  const std::string baseline = tmp / "ANTES.MDB";
  std::string database;
};

struct Numbering {
  const char *name, *naaaut, *namaut;
};
void PrintTo(const Numbering& n, std::ostream* out) { *out << n.name; }

class TwoRuns : public Beside, public ::testing::WithParamInterface<Numbering> {};

// The second run starts once the first has committed some of its lines, so
// that each has to wait for the other in mid-run.
TEST_P(TwoRuns, StartedTogetherStoreEveryLineOfBothWithoutSharingAnEntry) {
  // Enough lines for several transactions of each run, which then take turns.
  constexpr int kLines = 30000;
  company(GetParam().naaaut, GetParam().namaut);
  Batch a(tmp, "A", data, numbered_journal("A", kLines)), b(tmp, "B", data, numbered_journal("B", kLines));
  RunResult second;
  const RunResult first = beside(a, [&](const std::atomic<bool>&) { second = b.run(); });
  EXPECT_EQ(first.exit_status, 0) << a.errors() << first.err;
  EXPECT_EQ(second.exit_status, 0) << b.errors() << second.err;
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_APU"), std::to_string(2 * kLines));
  // Every entry holds the two lines of one run.
  EXPECT_EQ(values(database,
                   "SELECT count(*) FROM (SELECT DIAAPU FROM F_APU GROUP BY DIAAPU, FECAPU, ASIAPU "
                   "HAVING count(*) <> 2 OR count(DISTINCT CONAPU) <> 1) AS mixed"),
            "0");
  expect_balanced(database, baseline);
}

INSTANTIATE_TEST_SUITE_P(Numbering, TwoRuns,
                         ::testing::Values(Numbering{"counter", "1", "0"}, Numbering{"date", "1", "1"},
                                           Numbering{"journal", "0", "0"}),
                         [](const auto& test) { return std::string(test.param.name); });

// Sessions of another program on the server company while kavelo runs.
class ServerWriters : public Beside {
 protected:
  void SetUp() override {
    if (!on_server()) GTEST_SKIP() << "about other sessions of a database server";
    Beside::SetUp();
    if (IsSkipped()) return;
    // The balance row of group 4 is there before the run.
    company("1", "1", "INSERT INTO F_SAL (CUESAL, DIASAL) VALUES ('4', 1);\n");
    connection_string = db::locate_store(database).connection_string;
  }
  std::string connection_string;
};

// Enough lines for several of kavelo's transactions, each half a second.
constexpr int kManyLines = 100000;

TEST_F(ServerWriters, ASessionAddingToABalanceRowWhileTheRunPostsToItLosesNothing) {
  Batch batch(tmp, "A", data, numbered_journal("A", kManyLines));
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
  for (int entry = 0; entry < kManyLines / 2; ++entry) posted += 100 + entry % 500;
  EXPECT_EQ(values(database, "SELECT PD1SAL FROM F_SAL WHERE DIASAL = 1 AND CUESAL = '4'"), std::to_string(added));
  EXPECT_EQ(values(database, "SELECT PD3SAL FROM F_SAL WHERE DIASAL = 1 AND CUESAL = '4'"),
            std::to_string(added + posted));
}

TEST_F(ServerWriters, ALockHeldLongerThanTheWaitEndsTheFileWithItsLineAndTheOthersImport) {
  Batch batch(tmp, "A", data, numbered_journal("A", kManyLines));
  write_bytes(batch.inter + "/IVR.TXT", record("R001", 65, {{2, "7"}}, {11, 12, 47}, "|") + "\r\n");

  RunResult result = beside(batch, [&](const std::atomic<bool>&) {
    // A user changes a balance and leaves the change open for longer than
    // kavelo waits for a lock (30 s), with room for a busy machine, but not
    // so long that the server ends the idle transaction (45 s).
    db::pg::Connection session(connection_string);
    session.execute("BEGIN");
    session.execute("UPDATE f_sal SET pd1sal = pd1sal WHERE diasal = 1 AND cuesal = '4'");
    std::this_thread::sleep_for(40s);
    session.execute("ROLLBACK");
  });
  EXPECT_EQ(result.exit_status, 1) << result.err;
  const std::string report = batch.errors();
  std::smatch named;
  ASSERT_TRUE(std::regex_search(report, named, std::regex("^Apuntes: \\((\\d+)/\\) "))) << report;
  EXPECT_NE(report.find("No se pudo bloquear la tabla 'F_SAL'"), std::string::npos) << report;
  // The records before the one named are stored whole, none after it.
  EXPECT_EQ(std::stoll(named[1].str()), lines_stored(database) + 1) << report;
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << "one error line: " << report;
  expect_balanced(database, baseline);
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVR"), "1");
}

// The server drops kavelo's connection in the middle of the journal: the
// error report names the record that failed and the first one lost with the
// uncommitted work, what was committed stays whole (every line posted to its
// balances), and the files after it import on a new connection.
TEST_F(ServerWriters, ADroppedConnectionLosesOnlyWhatItNamesAndTheFilesAfterItImport) {
  constexpr int kRegisterRecords = 2000;
  Batch batch(tmp, "A", data, numbered_journal("A", kManyLines));
  std::string output, input;
  for (int i = 1; i <= kRegisterRecords; ++i) {
    output += record("R001", 65, {{2, std::to_string(i)}}, {11, 12, 47}, "|") + "\r\n";
    input += record("S001", 73, {{2, std::to_string(i)}}, {11, 12, 24, 55}, "|") + "\r\n";
  }
  write_bytes(batch.inter + "/IVR.TXT", output);
  write_bytes(batch.inter + "/IVS.TXT", input);
  const RunResult run = beside(batch, [&](const std::atomic<bool>&) {
    db::pg::Connection session(connection_string);
    session.execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                    "WHERE datname = current_database() AND pid <> pg_backend_pid()");
  });
  EXPECT_EQ(run.exit_status, 1) << run.out << run.err;
  const std::string report = batch.errors();
  EXPECT_NE(report.find("se ha perdido la conexi\xF3n con el servidor de base de datos"), std::string::npos) << report;
  // The journal's lines in the report; the first record they name is the
  // first that is not stored.
  long first_named = -1;
  int lines = 0;
  std::regex line("Apuntes: \\((\\d+)/");
  for (auto it = std::sregex_iterator(report.begin(), report.end(), line); it != std::sregex_iterator(); ++it) {
    const long named = std::stol((*it)[1].str());
    if (first_named < 0 || named < first_named) first_named = named;
    ++lines;
  }
  const long stored = lines_stored(database);
  EXPECT_GT(stored, 0);
  EXPECT_LT(stored, kManyLines);
  // No record goes missing unnamed. Only a drop during the commit itself
  // leaves its outcome unknown: the one line then names the first record of
  // the group, which the server may have stored after all.
  EXPECT_LE(first_named, stored + 1) << report;
  if (lines == 2) {
    EXPECT_EQ(first_named, stored + 1) << report;
  }
  EXPECT_TRUE(lines == 1 || lines == 2) << report;
  RunResult verify = kavelo_db({"verify", database});
  EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
  // The registers after the journal import whole on a new connection.
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVR"), std::to_string(kRegisterRecords));
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVS"), std::to_string(kRegisterRecords));
}

// Holds the write lock of `database` as another program would, from the
// moment `ready()` is true (polled) for `hold`, and runs `sql` meanwhile.
class LockHolder {
 public:
  template <class Ready>
  LockHolder(const std::string& database, std::chrono::milliseconds hold, Ready ready, std::string sql = "")
      : thread_([this, database, hold, ready, sql] {
          sqlite3* db = nullptr;
          sqlite3_open(database.c_str(), &db);
          // Not ready within a minute (the run failed early, say): the lock
          // is never taken, which the test sees, instead of a wait for good.
          const auto give_up = Clock::now() + 60s;
          bool is_ready = false;
          while (!(is_ready = ready()) && Clock::now() < give_up) std::this_thread::sleep_for(5ms);
          // Like an application that retries its write every millisecond.
          while (is_ready && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_BUSY &&
                 Clock::now() < give_up)
            std::this_thread::sleep_for(1ms);
          if (sqlite3_get_autocommit(db) == 0) {
            taken_ = true;
            if (!sql.empty() && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
              written_ = sqlite3_changes(db);
            std::this_thread::sleep_for(hold);
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
          }
          sqlite3_close(db);
        }) {}
  ~LockHolder() { thread_.join(); }
  bool taken() const { return taken_; }
  // The rows `sql` wrote.
  long written() const { return written_; }

 private:
  std::atomic<bool> taken_ = false;
  std::atomic<long> written_ = 0;
  std::thread thread_;
};

// A company file whose journal is numbered per journal and date.
class LockTest : public Beside {
 protected:
  void SetUp() override {
    Beside::SetUp();
    company("1", "1");
    batch.emplace(tmp, "", data, numbered_journal("A", kLines));
  }
  void expect_everything_stored(const RunResult& result) {
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_FALSE(exists(batch->inter + "/ERRORES.TXT"));
    EXPECT_EQ(lines_stored(database), kLines);
    expect_balanced(database, baseline);
  }

  // Enough lines for several commits of kavelo (every half second).
  static constexpr long kLines = 60000;
  std::optional<Batch> batch;
};

TEST_F(LockTest, ALockOfThreeSecondsAtStartIsWaitedFor) {
  RunResult result;
  {
    LockHolder holder(database, 3000ms, [] { return true; });
    std::this_thread::sleep_for(200ms);  // the lock is held before kavelo starts
    result = batch->run();
    EXPECT_TRUE(holder.taken());
  }
  expect_everything_stored(result);
}

TEST_F(LockTest, ALockOfThreeSecondsInMidRunIsWaitedForAndWhatItWroteIsRespected) {
  // Taken as soon as some lines are committed: between two of kavelo's
  // commits. Meanwhile the other program adds a line to each entry numbering
  // begins from, as the next entry of its journal and date: kavelo numbers
  // its next entries after them, whatever it saw before.
  const char* application_lines =
      "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CONAPU) "
      "SELECT DIAAPU, FECAPU, max(ASIAPU) + 1, 1, 'Aplicación' FROM F_APU GROUP BY DIAAPU, FECAPU";
  RunResult result;
  long added = 0;
  {
    LockHolder holder(database, 3000ms, [&] { return lines_stored(database) > 1000; }, application_lines);
    result = batch->run();
    EXPECT_TRUE(holder.taken());
    added = holder.written();
  }
  EXPECT_GT(added, 0);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(lines_stored(database), kLines + added);
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_APU WHERE CONAPU = 'Aplicación'"), std::to_string(added));
  EXPECT_EQ(values(database, "SELECT count(*) FROM (SELECT 1 FROM F_APU GROUP BY DIAAPU, FECAPU, ASIAPU "
                             "HAVING count(DISTINCT CONAPU) > 1)"),
            "0");
  expect_balanced(database, baseline);
}

TEST_F(LockTest, ALockHeldForGoodEndsTheRunInBoundedTimeWithReports) {
  RunResult result;
  double seconds = 0;
  {
    LockHolder holder(database, 15000ms, [] { return true; });
    std::this_thread::sleep_for(200ms);
    auto start = Clock::now();
    result = batch->run();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  // Giving up opening the database takes 200 attempts of about 50 ms each.
  EXPECT_LT(seconds, 14) << "the lock is held for 15 s";
  std::printf("kavelo gave up after %.1f s\n", seconds);
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(read_bytes(batch->inter + "/ERRORES.TXT"), "error en apertura de base de datos\r\n");
  EXPECT_EQ(read_bytes(batch->inter + "/FINAL.TXT"), expected_final_txt());
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_APU"), "0");
}

// Taken in mid-run and held past kavelo's wait for it (30 s): the journal
// ends with the line of a file in use, naming the first record not stored
// (every one before it is), and the files after it import once it is free.
TEST_F(LockTest, ALockHeldPastTheWaitInMidRunEndsThatFileAsInUse) {
  write_bytes(batch->inter + "/IVR.TXT", record("R001", 65, {{2, "7"}}, {11, 12, 47}, "|") + "\r\n");
  RunResult result;
  {
    LockHolder holder(database, 35000ms, [&] { return lines_stored(database) > 1000; });
    result = batch->run();
    EXPECT_TRUE(holder.taken());
  }
  EXPECT_EQ(result.exit_status, 1) << result.err;
  const long stored = lines_stored(database);
  EXPECT_EQ(batch->errors(), error_line("Apuntes: (", static_cast<int>(stored + 1), "",
                                        "No se pudo usar '" + database + "'; el archivo ya está en uso.") +
                                 "\r\n");
  expect_balanced(database, baseline);
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVR"), "1");
}

// Another program that wants to write waits for its turn about as long as
// kavelo's commit beat (half a second) during a long file, on a file and on
// a server: records slowed by a trigger to a few thousand a second would
// take seconds to reach a count of records.
class CommitBeat : public Beside {};

TEST_F(CommitBeat, AnotherWriterGetsItsTurnWithinAboutASecondDuringALongFile) {
  constexpr int kAccounts = 30000;
  // About a fifth of a millisecond of work a row, on this machine.
  company("1", "1",
          on_server() ? "CREATE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$ BEGIN PERFORM count(*) FROM generate_series(1, 2000); RETURN NEW; END $$;\n"
                        "CREATE TRIGGER slow BEFORE INSERT ON F_MAE FOR EACH ROW EXECUTE FUNCTION slow();\n"
                      : "CREATE TRIGGER slow AFTER INSERT ON F_MAE BEGIN "
                        "SELECT length(hex(randomblob(50000))); END;\n");
  Batch batch(tmp, "", data, "");
  std::string accounts;
  for (int i = 0; i < kAccounts; ++i) accounts += fmt::format("M001|{}|Cuenta {}\r\n", 5700000 + i, i);
  write_bytes(batch.inter + "/MAE.TXT", accounts);

  std::atomic<bool> done = false;
  RunResult result;
  std::thread run([&] {
    result = batch.run();
    done = true;
  });
  // Writes of the other program, one after the other, each as soon as it
  // may: the waits for their turn.
  std::vector<double> waits;
  auto waited_since = [](Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  if (on_server()) {
    db::pg::Connection session(db::locate_store(database).connection_string);
    while (!done) {
      const auto start = Clock::now();
      session.execute("UPDATE f_mae SET nommae = nommae WHERE codmae = 'OTRO'");
      waits.push_back(waited_since(start));
      std::this_thread::sleep_for(50ms);
    }
  } else {
    sqlite3* db = nullptr;
    sqlite3_open(database.c_str(), &db);
    while (!done) {
      const auto start = Clock::now();
      while (!done && sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_BUSY)
        std::this_thread::sleep_for(1ms);
      if (sqlite3_get_autocommit(db) == 0) {
        waits.push_back(waited_since(start));
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      }
      std::this_thread::sleep_for(50ms);
    }
    sqlite3_close(db);
  }
  run.join();
  EXPECT_EQ(result.exit_status, 0) << batch.errors() << result.err;
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_MAE"), std::to_string(kAccounts));
  ASSERT_GE(waits.size(), 3u) << "the file took too short a time to tell";
  const double longest = *std::max_element(waits.begin(), waits.end());
  std::printf("%zu writes of another program beside a file of %d accounts; the longest waited %.2f s\n", waits.size(),
              kAccounts, longest);
  // Room for a busy machine: a commit only every 20,000 records would keep
  // it waiting four seconds and more.
  EXPECT_LT(longest, 2.0);
}

}  // namespace
}  // namespace kavelo::test

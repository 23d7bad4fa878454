// Another program holding the company database's write lock: for a few seconds
// at start or in mid-run the import waits and loses nothing; held for good,
// the run gives up in bounded time and still writes its reports.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fmt/format.h>
#include <string>
#include <thread>

#include "test_support.h"

namespace kavelo::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Holds the write lock of `database` as another program would, from the
// moment `ready()` is true (polled) for `hold`, and runs `sql` meanwhile.
class LockHolder {
 public:
  template <class Ready>
  LockHolder(const std::string& database, std::chrono::milliseconds hold, Ready ready, std::string sql = "")
      : thread_([this, database, hold, ready, sql] {
          sqlite3* db = nullptr;
          sqlite3_open(database.c_str(), &db);
          while (!ready()) std::this_thread::sleep_for(5ms);
          // Like an application that retries its write every millisecond.
          auto give_up = Clock::now() + 60s;
          while (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_BUSY &&
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

long count_rows(const std::string& database, const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_busy_timeout(db, 100);
  sqlite3_stmt* s = nullptr;
  long n = -1;
  if (sqlite3_prepare_v2(db, ("SELECT count(*) FROM " + table).c_str(), -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW)
    n = sqlite3_column_int64(s, 0);
  sqlite3_finalize(s);
  sqlite3_close(db);
  return n;
}

class LockTest : public ::testing::Test {
 protected:
  LockTest() {
    make_dir(inter);
    make_dir(data);
    database = make_company(data, "LCK", "01",
                            "INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('LCK', '1101');"
                            "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 1);"
                            "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);");
    std::string accounts, journal;
    for (int i = 0; i < kAccounts; ++i) accounts += fmt::format("M001|4300{:03}|Cliente {}|||||\r\n", i, i);
    // Entries of two lines, numbered by the import per journal and date.
    for (int i = 0; i < kLines / 2; ++i) {
      std::string date = fmt::format("{:02}/{:02}/2011", 1 + i % 28, 1 + i % 12);
      journal += fmt::format("A001|1|{}|0|1|4300{:03}|Venta|F{}|D|{},{:02}|{},{:02}|||||||||||\r\n", date,
                             i % kAccounts, i, 10 + i % 90, i % 100, 10 + i % 90, i % 100);
      journal += fmt::format("A001|1|{}|0|2|7000001|Venta|F{}|H|{},{:02}|{},{:02}|||||||||||\r\n", date, i,
                             10 + i % 90, i % 100, 10 + i % 90, i % 100);
    }
    write_bytes(inter + "/MAE.TXT", accounts);
    write_bytes(inter + "/APU.TXT", journal);
    for (const char* name : {"CLI.TXT", "PRO.TXT", "IVR.TXT", "IVS.TXT"}) write_bytes(inter + "/" + name, "");
    write_connection_file(conn, connection_lines(inter, data, "LCK", "01", "|"));
    std::filesystem::copy_file(database, baseline);
  }

  // Generous: a sanitizer build on a busy machine takes minutes for the
  // journal, and the test is about what is stored, not how fast.
  RunResult kavelo() { return run_program({bin_path("kavelo"), conn}, "", std::nullopt, 500s); }
  void expect_everything_stored(const RunResult& result) {
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_FALSE(exists(inter + "/ERRORES.TXT"));
    EXPECT_EQ(count_rows(database, "F_APU"), kLines);
    RunResult check = run_program({bin_path("kavelo-db"), "verify", database, "--baseline", baseline});
    EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
  }

  static constexpr int kAccounts = 50;
  // Enough lines for several commits of kavelo (every half second).
  static constexpr long kLines = 60000;
  TempDir tmp;
  const std::string inter = tmp / "inter";
  const std::string data = tmp / "datos";
  const std::string conn = tmp / "conexion.txt";
  const std::string baseline = tmp / "ANTES.MDB";
  std::string database;
};

TEST_F(LockTest, ALockOfThreeSecondsAtStartIsWaitedFor) {
  RunResult result;
  {
    LockHolder holder(database, 3000ms, [] { return true; });
    std::this_thread::sleep_for(200ms);  // the lock is held before kavelo starts
    result = kavelo();
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
    LockHolder holder(database, 3000ms, [&] { return count_rows(database, "F_APU") > 1000; }, application_lines);
    result = kavelo();
    EXPECT_TRUE(holder.taken());
    added = holder.written();
  }
  EXPECT_GT(added, 0);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_EQ(count_rows(database, "F_APU"), kLines + added);
  EXPECT_EQ(count_rows(database, "F_APU WHERE CONAPU = 'Aplicación'"), added);
  EXPECT_EQ(count_rows(database, "(SELECT 1 FROM F_APU GROUP BY DIAAPU, FECAPU, ASIAPU HAVING count(DISTINCT CONAPU) > 1)"),
            0);
  RunResult check = run_program({bin_path("kavelo-db"), "verify", database, "--baseline", baseline});
  EXPECT_EQ(check.exit_status, 0) << check.out << check.err;
}

TEST_F(LockTest, ALockHeldForGoodEndsTheRunInBoundedTimeWithReports) {
  RunResult result;
  double seconds = 0;
  {
    LockHolder holder(database, 15000ms, [] { return true; });
    std::this_thread::sleep_for(200ms);
    auto start = Clock::now();
    result = kavelo();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  // Giving up opening the database takes 200 attempts of about 50 ms each.
  EXPECT_LT(seconds, 14) << "the lock is held for 15 s";
  std::printf("kavelo gave up after %.1f s\n", seconds);
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(read_bytes(inter + "/ERRORES.TXT"), "error en apertura de base de datos\r\n");
  EXPECT_EQ(read_bytes(inter + "/FINAL.TXT"), expected_final_txt());
  EXPECT_EQ(count_rows(database, "F_APU"), 0);
}

}  // namespace
}  // namespace kavelo::test

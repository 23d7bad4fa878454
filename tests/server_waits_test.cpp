// A server that stops answering never stops an unattended run: every wait
// for the server is bounded, and the run ends with its reports. A port that
// takes connections and says nothing, a connection frozen in mid-journal, a
// server restarted in mid-run, tables locked by another session in any mode,
// and connections refused for good, each ends as the README says within its
// bound. These scenarios wait for their bounds: they are the slow ones.
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include "db/pg/pg_connection.h"
#include "db/store_location.h"
#include "network_faults.h"
#include "test_support.h"

namespace kavelo::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The link file's connection string with `key`'s value replaced (or added).
std::string with_value(std::string text, const std::string& key, const std::string& value) {
  const std::regex setting("(^|;)" + key + "=[^;]*");
  if (std::regex_search(text, setting)) return std::regex_replace(text, setting, "$1" + key + "=" + value);
  return text + (text.ends_with(";") ? "" : ";") + key + "=" + value + ";";
}

void write_link(const std::string& path, const std::string& connection_string, mode_t mode = 0600) {
  write_bytes(path, "ODBC;" + connection_string + "\r\n");
  ::chmod(path.c_str(), mode);
}

std::string register_line(int code) { return record("R001", 65, {{2, std::to_string(code)}}, {11, 12, 47}, "|"); }

class ServerWaits : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!on_server()) GTEST_SKIP() << "about waits for a database server";
    KAVELO_REQUIRE_BACKEND();
  }

  // The company on the test server, copied to `baseline` first.
  void company() {
    make_dir(data);
    database = make_company(data, "EMP", "01",
                            std::string(kCompanySql) + "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 1);\n");
    copy_company(database, baseline);
    connection_string = db::locate_store(database).connection_string;
  }

  // A folder whose accounts, journal and register hold a few records.
  Batch small_batch(int journal_lines = 2) {
    Batch batch(tmp, "", data, numbered_journal("A", journal_lines));
    write_bytes(batch.inter + "/MAE.TXT", "M001|100|Caja\r\n");
    write_bytes(batch.inter + "/IVR.TXT", register_line(7) + "\r\n");
    return batch;
  }

  // Runs `batch`, giving its result and how long it took.
  RunResult timed(const Batch& batch, double& seconds) {
    const auto start = Clock::now();
    RunResult result = batch.run();
    seconds = seconds_since(start);
    return result;
  }

  TempDir tmp;
  const std::string data = tmp / "datos";
  const std::string baseline = tmp / "ANTES.MDB";
  std::string database;
  std::string connection_string;
};

// Something listens and never answers: every attempt ends at its own bound,
// the attempts at theirs, and the run ends with both reports.
TEST_F(ServerWaits, APortThatTakesConnectionsAndNeverAnswersEndsTheRunWithItsReports) {
  company();
  SilentPort silent;
  write_link(database, with_value(connection_string, "Port", std::to_string(silent.port())));
  const Batch batch = small_batch();
  double seconds = 0;
  const RunResult result = timed(batch, seconds);
  std::printf("the run ended after %.1f s\n", seconds);
  EXPECT_LT(seconds, 60);
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(read_bytes(batch.inter + "/FINAL.TXT"), expected_final_txt());
  const std::string report = batch.errors();
  EXPECT_TRUE(report.starts_with("error en apertura de base de datos: ")) << report;
  EXPECT_NE(report.find(fmt::format("(puerto {}): no contesta en 10 s", silent.port())), std::string::npos) << report;
}

// The relay between kavelo and the server stops carrying kavelo's session in
// mid-journal: after kavelo's bound of silence the journal ends as for a
// dropped connection, the registers import on a new connection, and the
// session kavelo gave up does not keep its locks.
TEST_F(ServerWaits, AConnectionThatFreezesInMidJournalEndsThatFileAndTheRunGoesOn) {
  constexpr int kLines = 60000, kRegisters = 200;
  company();
  FreezingRelay relay(std::stoi(std::regex_replace(connection_string, std::regex(".*Port=([0-9]+).*"), "$1")));
  write_link(database, with_value(connection_string, "Port", std::to_string(relay.port())));
  Batch batch(tmp, "", data, numbered_journal("A", kLines));
  std::string registers;
  for (int i = 1; i <= kRegisters; ++i) registers += register_line(i) + "\r\n";
  write_bytes(batch.inter + "/IVR.TXT", registers);
  Clock::time_point frozen;
  const RunResult result = run_beside(batch, database, 200, [&](const std::atomic<bool>&) {
    relay.freeze();
    frozen = Clock::now();
  });
  const double seconds = seconds_since(frozen);
  std::printf("the run ended %.1f s after the connection froze\n", seconds);
  // The bound of silence, and the registers after it.
  EXPECT_LT(seconds, std::chrono::duration<double>(db::pg::kSilence).count() + 20);
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(read_bytes(batch.inter + "/FINAL.TXT"), expected_final_txt());
  const std::string report = batch.errors();
  EXPECT_NE(report.find("el servidor no ha contestado en 45 s"), std::string::npos) << report;
  // As for a dropped connection: a line for the record where the loss was
  // found and one for the first record lost, the lines before them whole.
  long first_named = -1;
  int named_lines = 0;
  const std::regex line("Apuntes: \\((\\d+)/");
  for (auto it = std::sregex_iterator(report.begin(), report.end(), line); it != std::sregex_iterator(); ++it) {
    const long named = std::stol((*it)[1].str());
    if (first_named < 0 || named < first_named) first_named = named;
    ++named_lines;
  }
  EXPECT_TRUE(named_lines == 1 || named_lines == 2) << report;
  const long stored = lines_stored(database);
  EXPECT_GT(stored, 0);
  EXPECT_LT(stored, kLines);
  EXPECT_LE(first_named, stored + 1) << report;
  expect_balanced(database, baseline);
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVR"), std::to_string(kRegisters));
  // What kavelo left on the server goes: another session gets the balances'
  // lock within its own wait.
  db::pg::Connection session(connection_string);
  session.execute("BEGIN");
  EXPECT_NO_THROW(session.execute("LOCK TABLE f_sal IN EXCLUSIVE MODE"));
  session.execute("ROLLBACK");
}

// A lock another session holds for a while is waited for, whatever its mode.
TEST_F(ServerWaits, ALockHeldForTenSecondsIsWaitedFor) {
  constexpr int kLines = 2000;
  company();
  const Batch batch = small_batch(kLines);
  db::pg::Connection session(connection_string);
  session.execute("BEGIN");
  session.execute("LOCK TABLE f_sal IN ACCESS EXCLUSIVE MODE");
  RunResult result;
  double seconds = 0;
  std::thread run([&] { result = timed(batch, seconds); });
  std::this_thread::sleep_for(10s);
  session.execute("ROLLBACK");
  run.join();
  std::printf("the run took %.1f s\n", seconds);
  EXPECT_EQ(result.exit_status, 0) << batch.errors() << result.err;
  EXPECT_GE(seconds, 10);
  EXPECT_EQ(lines_stored(database), kLines);
  expect_balanced(database, baseline);
}

// What a plain LOCK TABLE takes (so do ALTER TABLE and VACUUM FULL), held on
// a table past kavelo's wait: on the balances the journal ends with the
// table's line, on the numbering settings with the wait's, and on the
// company's row, which start-up reads, the journal cannot post; the other
// files import, all within the wait's bound.
struct HeldTable {
  const char* table;
  const char* report_starts;
  const char* report_holds;
};
void PrintTo(const HeldTable& held, std::ostream* out) { *out << held.table; }

class ExclusiveLock : public ServerWaits, public ::testing::WithParamInterface<HeldTable> {};

TEST_P(ExclusiveLock, HeldPastTheWaitEndsItsFileWithItsLineAndTheOtherFilesImport) {
  company();
  const Batch batch = small_batch();
  // Ten seconds past kavelo's wait, and less than the server keeps an idle
  // transaction (45 s).
  constexpr auto kHeld = 40s;
  db::pg::Connection session(connection_string);
  session.execute("BEGIN");
  session.execute(fmt::format("LOCK TABLE {} IN ACCESS EXCLUSIVE MODE", GetParam().table));
  RunResult result;
  double seconds = 0;
  std::atomic<bool> done = false;
  std::thread run([&] {
    result = timed(batch, seconds);
    done = true;
  });
  for (const auto start = Clock::now(); !done && Clock::now() - start < kHeld;) std::this_thread::sleep_for(100ms);
  session.execute("ROLLBACK");
  run.join();
  std::printf("the run took %.1f s\n", seconds);
  EXPECT_LT(seconds, std::chrono::duration<double>(kHeld).count()) << "the run waited for the lock to go";
  EXPECT_EQ(result.exit_status, 1) << result.err;
  const std::string report = batch.errors();
  EXPECT_TRUE(report.starts_with(cp1252(GetParam().report_starts))) << report;
  EXPECT_NE(report.find(cp1252(GetParam().report_holds)), std::string::npos) << report;
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_APU"), "0");
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_MAE"), "1");
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVR"), "1");
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ExclusiveLock,
    ::testing::Values(
        HeldTable{"f_sal",
                  "Apuntes: (1/) No se pudo bloquear la tabla 'F_SAL' porque otra persona o proceso la está "
                  "utilizando.\r\n\r\n",
                  ""},
        HeldTable{"f_aut", "Apuntes: (0/) No se pudo usar ", "ya está en uso"},
        HeldTable{"f_emp", "Apuntes: (1/) ", "'FRMEMP'"}),
    [](const auto& test) { return std::string(test.param.table); });

// Refusals that trying again does not mend end the run at once, with the
// server's or libpq's reason and never the password.
TEST_F(ServerWaits, ARefusalThatTryingAgainDoesNotMendEndsTheRunAtOnceWithItsReason) {
  company();
  {
    db::pg::Connection admin(connection_string);
    admin.execute(
        "DO $$ BEGIN CREATE ROLE kavelo_clave LOGIN PASSWORD 'buena'; "
        "EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END $$");
  }
  const std::string as_role = with_value(connection_string, "Uid", "kavelo_clave");
  struct Case {
    std::string connection_string;
    mode_t mode;
    std::string reason;
  };
  const Case cases[] = {
      {with_value(as_role, "Pwd", "mala"), 0600, "(28P01)"},
      {with_value(connection_string, "Database", "no_hay_tal"), 0600, "(3D000)"},
      // The test server has no SSL.
      {with_value(connection_string, "SSLmode", "require"), 0600, "SSL"},
      {with_value(connection_string, "SSLmode", "ninguno"), 0600, "\"ninguno\""},
      {with_value(as_role, "Pwd", "buena"), 0644, "(chmod 600)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.connection_string);
    write_link(database, c.connection_string, c.mode);
    const Batch batch = small_batch();
    double seconds = 0;
    const RunResult result = timed(batch, seconds);
    EXPECT_LT(seconds, 10) << "tried again";
    EXPECT_EQ(result.exit_status, 1) << result.err;
    EXPECT_EQ(read_bytes(batch.inter + "/FINAL.TXT"), expected_final_txt());
    const std::string report = batch.errors();
    EXPECT_TRUE(report.starts_with("error en apertura de base de datos: ")) << report;
    EXPECT_NE(report.find(c.reason), std::string::npos) << report;
    for (const char* password : {"mala", "buena"}) {
      EXPECT_EQ(report.find(password), std::string::npos) << report;
      EXPECT_EQ(result.err.find(password), std::string::npos) << result.err;
    }
    std::filesystem::remove_all(batch.inter);
  }
  write_link(database, connection_string);
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_MAE"), "0");
}

// A throwaway server of this test alone (scripts/pg-cluster.sh), so that
// stopping it disturbs no other test.
class OwnServer {
 public:
  explicit OwnServer(const std::string& dir) : dir_(dir) {
    const char* source = std::getenv("KAVELO_SOURCE_DIR");
    if (source == nullptr) throw std::runtime_error("KAVELO_SOURCE_DIR is not set");
    script_ = std::string(source) + "/scripts/pg-cluster.sh";
    const RunResult started = run_program({script_, "start", dir_}, "", std::nullopt, 120s);
    if (started.exit_status != 0) throw std::runtime_error("pg-cluster.sh start: " + started.err);
    connection_string_ = read_bytes(dir_ + "/connection");
    while (connection_string_.ends_with('\n')) connection_string_.pop_back();
  }
  ~OwnServer() { run_program({script_, "stop", dir_}, "", std::nullopt, 120s); }
  OwnServer(const OwnServer&) = delete;
  OwnServer& operator=(const OwnServer&) = delete;

  const std::string& connection_string() const { return connection_string_; }
  // Stops the server, ending its sessions, and starts it again after `pause`.
  RunResult restart(std::chrono::seconds pause) const {
    return run_program({script_, "restart", dir_, std::to_string(pause.count())}, "", std::nullopt, 120s);
  }

 private:
  std::string dir_, script_, connection_string_;
};

// The server stops in mid-journal and is back 3 s later: the journal ends as
// for a dropped connection, and the files after it wait for the server and
// import.
TEST_F(ServerWaits, AServerRestartedInMidRunIsWaitedForByTheFilesAfterIt) {
  constexpr int kLines = 100000, kRegisters = 2000;
  OwnServer server(tmp / "servidor");
  make_dir(data);
  database = data + "/EMP01.MDB";
  const RunResult created = kavelo_db({"create", "ODBC;" + server.connection_string()});
  ASSERT_EQ(created.exit_status, 0) << created.err;
  write_link(database, server.connection_string());
  const RunResult filled =
      kavelo_db({"sql", database, "-"},
                "INSERT INTO f_emp (codemp, nomemp, frmemp) VALUES ('EMP', 'Empresa', '1110000');\n"
                "INSERT INTO f_aut (codaut, naaaut, namaut) VALUES (1, 1, 0);\n"
                "INSERT INTO f_dia (coddia, asidia) VALUES (1, 1);\n");
  ASSERT_EQ(filled.exit_status, 0) << filled.err;
  Batch batch(tmp, "", data, numbered_journal("A", kLines));
  std::string output, input;
  for (int i = 1; i <= kRegisters; ++i) {
    output += register_line(i) + "\r\n";
    input += record("S001", 73, {{2, std::to_string(i)}}, {11, 12, 24, 55}, "|") + "\r\n";
  }
  write_bytes(batch.inter + "/IVR.TXT", output);
  write_bytes(batch.inter + "/IVS.TXT", input);
  const RunResult result = run_beside(batch, database, 1000, [&](const std::atomic<bool>&) {
    const RunResult restarted = server.restart(3s);
    EXPECT_EQ(restarted.exit_status, 0) << restarted.err;
  });
  EXPECT_EQ(result.exit_status, 1) << result.err;
  const std::string report = batch.errors();
  // The record at which the loss is found may be reading its entry number (04).
  EXPECT_TRUE(std::regex_match(report, std::regex("(Apuntes: \\(\\d+/\\d*\\) [^\r]*\r\n){1,2}\r\n"))) << report;
  EXPECT_NE(report.find("se ha perdido la conexi\xF3n"), std::string::npos) << report;
  EXPECT_LT(lines_stored(database), kLines);
  const RunResult verify = kavelo_db({"verify", database});
  EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVR"), std::to_string(kRegisters));
  EXPECT_EQ(values(database, "SELECT count(*) FROM F_IVS"), std::to_string(kRegisters));
}

}  // namespace
}  // namespace kavelo::test

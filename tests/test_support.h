#pragma once
// What every test program shares: temporary folders, files, running the
// build's programs, the company database and connection file of a run, and
// the import scenarios' company, run and stored rows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kavelo::test {

// A fresh folder under TMPDIR (or /tmp), removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }  // without a trailing "/"
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole file as bytes; throws std::runtime_error when it cannot be read.
std::string read_bytes(const std::string& path);
// Creates or replaces the file with exactly these bytes; throws on failure.
void write_bytes(const std::string& path, const std::string& bytes);
// True when something (a file, a folder) exists at `path`.
bool exists(const std::string& path);
// Creates the folder (its parent must exist); throws on failure.
void make_dir(const std::string& path);

struct RunResult {
  // The exit status; 128 + the signal number when a signal ended the process,
  // -1 when it was killed for running past its time limit.
  int exit_status = -1;
  std::string out;
  std::string err;
};

// Runs argv[0] (a path, not searched in PATH) without a shell, in `cwd` (the
// current folder when empty), stdin from `stdin_text` or /dev/null, and gives
// its stdout and stderr. The child gets this environment less DISPLAY and
// WAYLAND_DISPLAY (a run never opens a window); past `time_limit` it is killed.
RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd = "",
                      const std::optional<std::string>& stdin_text = std::nullopt,
                      std::chrono::seconds time_limit = std::chrono::seconds(300));

// A program of the build: $KAVELO_BIN_DIR/name (throws when it is not set).
std::string bin_path(const std::string& name);

// Runs the build's kavelo-db with these arguments (stdin from `input`).
RunResult kavelo_db(const std::vector<std::string>& args, const std::optional<std::string>& input = std::nullopt);

// Where the scenarios keep the company database, by KAVELO_TEST_BACKEND:
// "sqlite" (or not set) a file, "postgres" a database on the test server
// (KAVELO_PG_DIR) that a link file at the database path leads to; any other
// value throws. True for the server.
bool on_server();
// Why the scenarios cannot run on that backend, or nullopt when they can.
std::optional<std::string> backend_missing();

// Creates the company database `dir`/code+suffix+".MDB" with `kavelo-db
// create` and runs `extra_sql` (written for SQLite) on it: with `kavelo-db sql`
// on a file, in the server's words on the server (server_sql.h). Returns its
// path; throws std::runtime_error with the failing step's message.
std::string make_company(const std::string& dir, const std::string& code, const std::string& suffix,
                         const std::string& extra_sql = "");

// A copy of the company database at `copy_path` (replacing one): the file, or a
// new server database and its link.
void copy_company(const std::string& database, const std::string& copy_path);

// The eight lines of a connection file, in the order kavelo reads them.
std::vector<std::string> connection_lines(const std::string& interchange_dir, const std::string& data_dir,
                                          const std::string& code, const std::string& suffix,
                                          const std::string& separator = ";",
                                          const std::string& caption = "Importación de prueba",
                                          const std::string& label1 = "Empresa de prueba",
                                          const std::string& label2 = "Datos de contabilidad");

// Writes `lines` (UTF-8) as a connection file: each line in Windows-1252 and
// followed by `line_end`.
void write_connection_file(const std::string& path, const std::vector<std::string>& lines,
                           const std::string& line_end = "\r\n");

// UTF-8 text as Windows-1252 bytes; throws on a character that it lacks.
std::string cp1252(const std::string& utf8);

// The bytes of every FINAL.TXT of this version, written out here.
std::string expected_final_txt();

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
// A double as SQLite quotes a REAL: 12.0, 1180.5, 1e+20.
std::string real_text(double value);
// A quoted value as plain text: 'abc' is abc; numbers and NULL stay as they are.
std::string unquoted(const std::string& quoted);
// Every value of every row of `sql`, unquoted and joined by blanks.
std::string values(const std::string& database, const std::string& sql);
// The error report ERRORES.TXT in `dir`, "" when there is none.
std::string error_report(const std::string& dir);

// "Maestro: (12/04) Desbordamiento" and a line end, in Windows-1252.
std::string error_line(const std::string& label, int record, const std::string& field_code,
                       const std::string& description);

// A record of `fields` fields joined by `separator`: the identifier, then the
// values of `set` at their positions (the identifier's is 1), "" at the
// positions of `empty` and "0" (a valid text, number and amount) elsewhere.
std::string record(const std::string& identifier, int fields, const std::map<int, std::string>& set,
                   const std::set<int>& empty = {}, const std::string& separator = ";");

// `lines` journal lines, in entries of two, every one numbered by kavelo, over
// the days of March and a few accounts, so that runs beside each other number
// entries of the same journal and dates and post to the same balance rows.
// `batch` goes into the concept, to tell the runs' lines apart.
std::string numbered_journal(const std::string& batch, int lines);

// The journal lines stored so far; 0 while a run holds the file too long to read it.
long lines_stored(const std::string& database);

// `kavelo-db verify` finds every balance equal to `baseline`'s and the lines stored since.
void expect_balanced(const std::string& database, const std::string& baseline);

// The interchange folder of one run, every file empty but the journal, with
// its connection file (separator "|").
struct Batch {
  Batch(const TempDir& tmp, const std::string& name, const std::string& data, const std::string& apu,
        const std::string& code = "EMP");
  // Generous: a sanitizer build on a busy machine takes minutes for the
  // journal, and the tests are about what is stored, not how fast.
  RunResult run() const;
  std::string errors() const { return error_report(inter); }

  std::string inter, conn;
};

// Runs `session` beside the run of `batch`, from when the journal of
// `database` has stored more than `lines` lines, and gives the run's result.
// `session` is told when the run has ended.
RunResult run_beside(const Batch& batch, const std::string& database, long lines,
                     const std::function<void(const std::atomic<bool>& done)>& session);

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
  // Runs kavelo once more on the company the last import() made, the same way.
  std::string import_again();
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

// Skips the scenario when its backend cannot run here, saying why.
#define KAVELO_REQUIRE_BACKEND()                                         \
  do {                                                                   \
    if (auto kavelo_missing = ::kavelo::test::backend_missing())          \
      GTEST_SKIP() << *kavelo_missing;                                   \
  } while (false)

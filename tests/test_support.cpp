#include "test_support.h"

#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include <fmt/format.h>

#include "db/pg/test_server.h"
#include "server_sql.h"

extern char** environ;

namespace kavelo::test {
namespace {

std::runtime_error system_error(const std::string& what, int error) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

std::string join_path(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

// A file in memory that a child writes its output to, or reads its input from.
struct MemoryFile {
  explicit MemoryFile(const std::string& bytes = "") : fd(::memfd_create("kavelo-test", MFD_CLOEXEC)) {
    if (fd < 0) throw system_error("memfd_create", errno);
    if (!bytes.empty() && ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
      throw system_error("write", errno);
    ::lseek(fd, 0, SEEK_SET);
  }
  ~MemoryFile() { ::close(fd); }
  std::string bytes() const {
    std::string text;
    std::array<char, 65536> buffer{};
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;) text.append(buffer.data(), n);
    return text;
  }
  int fd;
};

std::string quoted(sqlite3_stmt* s, int i) {
  switch (sqlite3_column_type(s, i)) {
    case SQLITE_NULL: return "NULL";
    case SQLITE_INTEGER: return std::to_string(sqlite3_column_int64(s, i));
    case SQLITE_FLOAT: return real_text(sqlite3_column_double(s, i));
    default: return "'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i))) + "'";
  }
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = join_path(base != nullptr && *base != '\0' ? base : "/tmp", "kavelo-e2e-XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) throw system_error("mkdtemp " + pattern, errno);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
  if (error) std::cerr << "could not remove " << path_ << ": " << error.message() << "\n";
}

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad()) throw std::runtime_error("cannot read " + path);
  return bytes.str();
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

void make_dir(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) throw system_error("mkdir " + path, errno);
}

RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd,
                      const std::optional<std::string>& stdin_text, std::chrono::seconds time_limit) {
  if (argv.empty()) throw std::invalid_argument("run_program: no program");
  // The child's output goes to files in memory, read once it has ended: no
  // pipe to keep drained, nor one that a grandchild keeps open.
  MemoryFile out, err;
  std::optional<MemoryFile> in;
  if (stdin_text) in.emplace(*stdin_text);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in) {
    posix_spawn_file_actions_adddup2(&actions, in->fd, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out.fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.fd, STDERR_FILENO);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  // This process's environment, less what would let the child reach a display.
  std::vector<std::string> strings = argv;
  const std::size_t args = strings.size();
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    if (!text.starts_with("DISPLAY=") && !text.starts_with("WAYLAND_DISPLAY=")) strings.emplace_back(text);
  }
  std::vector<char*> c_args, c_env;
  for (std::size_t i = 0; i < strings.size(); ++i) (i < args ? c_args : c_env).push_back(strings[i].data());
  c_args.push_back(nullptr);
  c_env.push_back(nullptr);

  pid_t pid = 0;
  const int spawn_error = ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, c_args.data(), c_env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) throw system_error("cannot run " + argv[0], spawn_error);

  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) throw system_error("pidfd_open", errno);
  pollfd ended{pidfd, POLLIN, 0};
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  int ready = 0;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    ready = left.count() > 0 ? ::poll(&ended, 1, static_cast<int>(left.count())) : 0;
    if (ready >= 0 || errno != EINTR) break;
  }
  ::close(pidfd);
  if (ready == 0) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw system_error("waitpid", errno);
  }
  return {ready == 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), out.bytes(), err.bytes()};
}

std::string bin_path(const std::string& name) {
  const char* dir = std::getenv("KAVELO_BIN_DIR");
  if (dir == nullptr || *dir == '\0') throw std::runtime_error("KAVELO_BIN_DIR is not set");
  return join_path(dir, name);
}

RunResult kavelo_db(const std::vector<std::string>& args, const std::optional<std::string>& input) {
  std::vector<std::string> argv = {bin_path("kavelo-db")};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, "", input);
}

bool on_server() {
  const char* name = std::getenv("KAVELO_TEST_BACKEND");
  if (name == nullptr || *name == '\0' || std::string_view(name) == "sqlite") return false;
  if (std::string_view(name) == "postgres") return true;
  // A misspelt name must not quietly test SQLite again.
  throw std::runtime_error("KAVELO_TEST_BACKEND: unknown backend '" + std::string(name) + "' (sqlite, postgres)");
}

std::optional<std::string> backend_missing() {
  if (on_server()) return db::pg::testing::cluster_missing();
  return std::nullopt;
}

std::string make_company(const std::string& dir, const std::string& code, const std::string& suffix,
                         const std::string& extra_sql) {
  const std::string path = join_path(dir, code + suffix + ".MDB");
  if (on_server()) {
    make_server_company(path, extra_sql);
    return path;
  }
  RunResult ran = kavelo_db({"create", path});
  if (ran.exit_status == 0 && !extra_sql.empty()) ran = kavelo_db({"sql", path, "-"}, extra_sql);
  if (ran.exit_status != 0)
    throw std::runtime_error("kavelo-db failed on " + path + " (" + std::to_string(ran.exit_status) + "): " + ran.err);
  return path;
}

void copy_company(const std::string& database, const std::string& copy_path) {
  if (on_server()) return copy_server_company(database, copy_path);
  std::filesystem::copy_file(database, copy_path, std::filesystem::copy_options::overwrite_existing);
}

std::vector<std::string> connection_lines(const std::string& interchange_dir, const std::string& data_dir,
                                          const std::string& code, const std::string& suffix,
                                          const std::string& separator, const std::string& caption,
                                          const std::string& label1, const std::string& label2) {
  return {interchange_dir, data_dir, code, suffix, separator, caption, label1, label2};
}

void write_connection_file(const std::string& path, const std::vector<std::string>& lines,
                           const std::string& line_end) {
  std::string bytes;
  for (const std::string& line : lines) bytes += cp1252(line) + line_end;
  write_bytes(path, bytes);
}

std::string cp1252(const std::string& utf8) {
  // iconv, not the program's own conversion, so that a fault of it is not
  // repeated here.
  iconv_t convert = ::iconv_open("CP1252", "UTF-8");
  if (convert == reinterpret_cast<iconv_t>(-1)) throw system_error("iconv_open", errno);
  std::string in = utf8, out(utf8.size(), '\0');
  char *from = in.data(), *to = out.data();
  std::size_t from_left = in.size(), to_left = out.size();
  const std::size_t converted = ::iconv(convert, &from, &from_left, &to, &to_left);
  ::iconv_close(convert);
  if (converted == static_cast<std::size_t>(-1)) throw std::invalid_argument("cp1252: not Windows-1252: " + utf8);
  out.resize(out.size() - to_left);
  return out;
}

std::string expected_final_txt() {
  return "                        \r\n"
         " -----------------------\r\n"
         "    Proceso terminado   \r\n"
         " -----------------------\r\n"
         "                        \r\n"
         "  Doveduzi Kavelo\r\n"
         "  Versi\xF3n: 1 0\r\n"
         "  15/06/2011\r\n";
}

std::vector<QueriedRow> query_rows(const std::string& database, const std::string& sql) {
  if (on_server()) return query_server_rows(database, sql);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + database);
  }
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db);
    sqlite3_close(db);
    throw std::runtime_error(sql + ": " + message);
  }
  std::vector<QueriedRow> rows;
  while (sqlite3_step(s) == SQLITE_ROW) {
    QueriedRow row;
    for (int i = 0; i < sqlite3_column_count(s); ++i) row.emplace_back(sqlite3_column_name(s, i), quoted(s, i));
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return rows;
}

std::string real_text(double value) {
  char* text = sqlite3_mprintf("%!.15g", value);
  std::string result = text;
  sqlite3_free(text);
  return result;
}

std::string unquoted(const std::string& quoted) {
  return quoted.size() >= 2 && quoted.front() == '\'' ? quoted.substr(1, quoted.size() - 2) : quoted;
}

std::string values(const std::string& database, const std::string& sql) {
  std::string result;
  for (const QueriedRow& row : query_rows(database, sql))
    for (const auto& [name, quoted] : row) result += (result.empty() ? "" : " ") + unquoted(quoted);
  return result;
}

std::string error_report(const std::string& dir) {
  return exists(dir + "/ERRORES.TXT") ? read_bytes(dir + "/ERRORES.TXT") : "";
}

std::string error_line(const std::string& label, int record, const std::string& field_code,
                       const std::string& description) {
  return cp1252(label + std::to_string(record) + "/" + field_code + ") " + description + "\r\n");
}

std::string record(const std::string& identifier, int fields, const std::map<int, std::string>& set,
                   const std::set<int>& empty, const std::string& separator) {
  std::string line = identifier;
  for (int position = 2; position <= fields; ++position) {
    auto found = set.find(position);
    line += separator + (found != set.end() ? found->second : empty.contains(position) ? "" : "0");
  }
  return line;
}

std::vector<std::string> ImportScenario::rows(const std::string& sql) const {
  std::vector<std::string> rows;
  for (const QueriedRow& row : query_rows(database, sql)) {
    std::string joined;
    for (const auto& [name, value] : row) joined += (joined.empty() ? "" : "|") + value;
    rows.push_back(joined);
  }
  return rows;
}

std::string numbered_journal(const std::string& batch, int lines) {
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

long lines_stored(const std::string& database) {
  try {
    return std::stol(values(database, "SELECT count(*) FROM F_APU"));
  } catch (const std::exception&) {
    return 0;
  }
}

void expect_balanced(const std::string& database, const std::string& baseline) {
  RunResult verify = kavelo_db({"verify", database, "--baseline", baseline});
  EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
}

Batch::Batch(const TempDir& tmp, const std::string& name, const std::string& data, const std::string& apu,
             const std::string& code)
    : inter(tmp / ("inter" + name)), conn(tmp / ("conexion" + name + ".txt")) {
  make_dir(inter);
  for (const char* file : kInterchangeFiles) write_bytes(inter + "/" + file, "");
  write_bytes(inter + "/APU.TXT", apu);
  write_connection_file(conn, connection_lines(inter + "/", data + "/", code, "01", "|"));
}

RunResult Batch::run() const {
  return run_program({bin_path("kavelo"), conn}, "", std::nullopt, std::chrono::seconds(500));
}

RunResult run_beside(const Batch& batch, const std::string& database, long lines,
                     const std::function<void(const std::atomic<bool>& done)>& session) {
  RunResult result;
  std::atomic<bool> done = false;
  std::thread run([&] {
    result = batch.run();
    done = true;
  });
  while (!done && lines_stored(database) <= lines) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(done) << "the run ended before its journal reached " << lines << " lines";
  session(done);
  run.join();
  return result;
}

ImportScenario::ImportScenario() {
  // Amounts and dates in these scenarios are written by the conventions that
  // apply without a locale (decimal ",", grouping ".", dd/mm/yyyy).
  setenv("LC_ALL", "C", 1);
  make_dir(inter);
  make_dir(data);
  write_connection_file(conn, connection_lines(inter, data, "EMP", "01"));
  empty_files();
}

void ImportScenario::SetUp() { KAVELO_REQUIRE_BACKEND(); }

void ImportScenario::empty_files() {
  for (const char* name : kInterchangeFiles) write_bytes(inter + "/" + name, "");
}

void ImportScenario::start_again() {
  std::filesystem::remove(database);
  empty_files();
}

void ImportScenario::file(const std::string& name, const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += cp1252(line) + "\r\n";
  write_bytes(inter + "/" + name, bytes);
}

std::string ImportScenario::import(const std::string& extra_sql) {
  database = make_company(data, "EMP", "01", kCompanySql + extra_sql);
  return import_again();
}

std::string ImportScenario::import_again() {
  RunResult result = last_run = run_program({bin_path("kavelo"), conn});
  EXPECT_EQ(read_bytes(inter + "/FINAL.TXT"), expected_final_txt());
  if (!exists(inter + "/ERRORES.TXT")) {
    EXPECT_EQ(result.exit_status, 0) << result.err;
    return "";
  }
  EXPECT_EQ(result.exit_status, 1) << result.err;
  const std::string bytes = read_bytes(inter + "/ERRORES.TXT");
  // The report ends with the line end that follows the error text.
  EXPECT_TRUE(bytes.ends_with("\r\n\r\n")) << bytes;
  return bytes.substr(0, bytes.size() - 2);
}

}  // namespace kavelo::test

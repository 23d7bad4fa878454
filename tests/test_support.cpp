#include "test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "db/pg/test_server.h"
#include "server_sql.h"

extern char** environ;

namespace kavelo::test {
namespace {

std::runtime_error system_error(const std::string& what, int error) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

// A file descriptor that closes itself.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read_end;
  Fd write_end;
};

void open_pipe(Pipe& p) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw system_error("pipe", errno);
  p.read_end = Fd(fds[0]);
  p.write_end = Fd(fds[1]);
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty() || dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

// The child's environment: this process's, less the variables that would let
// it reach a display.
std::vector<std::string> child_environment() {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    if (text.starts_with("DISPLAY=") || text.starts_with("WAYLAND_DISPLAY=")) continue;
    env.emplace_back(text);
  }
  return env;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
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
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) throw std::runtime_error("cannot read " + path);
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

  Pipe out, err, in;
  open_pipe(out);
  open_pipe(err);
  if (stdin_text) open_pipe(in);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  struct Cleanup {
    posix_spawn_file_actions_t* actions;
    posix_spawnattr_t* attributes;
    ~Cleanup() {
      posix_spawn_file_actions_destroy(actions);
      posix_spawnattr_destroy(attributes);
    }
  } cleanup{&actions, &attributes};

  if (stdin_text) {
    posix_spawn_file_actions_adddup2(&actions, in.read_end.get(), STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out.write_end.get(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write_end.get(), STDERR_FILENO);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  // This process ignores SIGPIPE (a child that never reads its stdin must not
  // kill the test); the child gets the default back.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> args = argv;
  std::vector<std::string> env = child_environment();
  std::vector<char*> c_args = c_strings(args);
  std::vector<char*> c_env = c_strings(env);

  pid_t pid = 0;
  int spawn_error = ::posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, c_args.data(), c_env.data());
  if (spawn_error != 0) throw system_error("cannot run " + argv[0], spawn_error);

  out.write_end.reset();
  err.write_end.reset();
  in.read_end.reset();
  if (stdin_text) ::fcntl(in.write_end.get(), F_SETFL, O_NONBLOCK);

  RunResult result;
  std::size_t written = 0;
  if (stdin_text && stdin_text->empty()) in.write_end.reset();
  const auto deadline = std::chrono::steady_clock::now() + time_limit;
  bool timed_out = false;
  std::array<char, 65536> buffer{};

  while (out.read_end.get() >= 0 || err.read_end.get() >= 0 || in.write_end.get() >= 0) {
    std::vector<pollfd> watched;
    if (out.read_end.get() >= 0) watched.push_back({out.read_end.get(), POLLIN, 0});
    if (err.read_end.get() >= 0) watched.push_back({err.read_end.get(), POLLIN, 0});
    if (in.write_end.get() >= 0) watched.push_back({in.write_end.get(), POLLOUT, 0});

    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      timed_out = true;
      break;
    }
    int ready = ::poll(watched.data(), watched.size(), static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      throw system_error("poll", errno);
    }
    for (const pollfd& entry : watched) {
      if (entry.revents == 0) continue;
      if (entry.fd == in.write_end.get()) {
        ssize_t n = ::write(entry.fd, stdin_text->data() + written, stdin_text->size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        // A child that closed its stdin simply gets no more.
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == stdin_text->size()) in.write_end.reset();
        continue;
      }
      ssize_t n = ::read(entry.fd, buffer.data(), buffer.size());
      if (n > 0) {
        (entry.fd == out.read_end.get() ? result.out : result.err).append(buffer.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        (entry.fd == out.read_end.get() ? out.read_end : err.read_end).reset();
      }
    }
  }

  if (timed_out) ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw system_error("waitpid", errno);
  }
  if (timed_out) {
    result.exit_status = -1;
  } else if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exit_status = 128 + WTERMSIG(status);
  }
  return result;
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

Backend test_backend() {
  const char* name = std::getenv("KAVELO_TEST_BACKEND");
  if (name == nullptr || *name == '\0' || std::string_view(name) == "sqlite") return Backend::sqlite;
  if (std::string_view(name) == "postgres") return Backend::postgres;
  // A misspelt name must not quietly test SQLite again.
  throw std::runtime_error("KAVELO_TEST_BACKEND: unknown backend '" + std::string(name) + "' (sqlite, postgres)");
}

std::optional<std::string> backend_missing() {
  if (test_backend() == Backend::postgres) return db::pg::testing::cluster_missing();
  return std::nullopt;
}

std::string make_company(const std::string& dir, const std::string& code, const std::string& suffix,
                         const std::string& extra_sql) {
  const std::string path = join_path(dir, code + suffix + ".MDB");
  if (on_server()) {
    make_server_company(path, extra_sql);
    return path;
  }
  const std::string tool = bin_path("kavelo-db");
  RunResult created = run_program({tool, "create", path});
  if (created.exit_status != 0) {
    throw std::runtime_error("kavelo-db create " + path + " failed (" + std::to_string(created.exit_status) +
                             "): " + created.err);
  }
  if (!extra_sql.empty()) {
    RunResult ran = run_program({tool, "sql", path, "-"}, "", extra_sql);
    if (ran.exit_status != 0) {
      throw std::runtime_error("kavelo-db sql " + path + " failed (" + std::to_string(ran.exit_status) +
                               "): " + ran.err);
    }
  }
  return path;
}

void copy_company(const std::string& database, const std::string& copy_path) {
  if (on_server()) {
    copy_server_company(database, copy_path);
  } else {
    std::filesystem::copy_file(database, copy_path, std::filesystem::copy_options::overwrite_existing);
  }
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
  // Code points of bytes 80-9F; 0 where the code page has no character.
  static constexpr std::array<char32_t, 32> kHigh = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  std::string bytes;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    char32_t code = 0;
    std::size_t length = 1;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1Fu;
      length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0Fu;
      length = 3;
    } else {
      throw std::invalid_argument("cp1252: unexpected UTF-8 in test text");
    }
    if (i + length > utf8.size()) throw std::invalid_argument("cp1252: truncated UTF-8");
    for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3Fu);
    i += length;

    if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
      bytes += static_cast<char>(code);
      continue;
    }
    bool found = false;
    for (std::size_t k = 0; k < kHigh.size(); ++k) {
      if (kHigh[k] != 0 && kHigh[k] == code) {
        bytes += static_cast<char>(0x80 + k);
        found = true;
        break;
      }
    }
    if (!found) throw std::invalid_argument("cp1252: character outside Windows-1252 in test text");
  }
  return bytes;
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

}  // namespace kavelo::test

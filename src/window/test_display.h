#pragma once
// For tests only: a virtual X display (Xvfb) of their own, stopped when the
// object goes away. Nothing here reads DISPLAY.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>

namespace kavelo {

class TestDisplay {
 public:
  // Starts Xvfb with one screen of `width` x `height` pixels; throws
  // std::runtime_error when it does not come up.
  explicit TestDisplay(int width = 800, int height = 300) {
    // Display numbers are drawn at random from a wide range rather than taken
    // lowest free first: a server that another test is just stopping still
    // removes its socket files as it goes, and would take a new server on the
    // same number down with it.
    std::random_device seed;
    std::uniform_int_distribution<int> numbers(100, 30000);
    for (int tries = 0; tries < 10 && name_.empty(); ++tries) start(numbers(seed), width, height);
    if (name_.empty()) throw std::runtime_error("Xvfb did not come up (scripts/install-packages.sh installs it)");
  }

  ~TestDisplay() { stop(); }
  TestDisplay(const TestDisplay&) = delete;
  TestDisplay& operator=(const TestDisplay&) = delete;

  // The display's name, as DISPLAY takes it (":3").
  const std::string& name() const { return name_; }

 private:
  // Sets name_ when Xvfb serves display `number`; a number in use makes it
  // end at once.
  void start(int number, int width, int height) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const std::string display = ":" + std::to_string(number);
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // -noreset: by default the server starts afresh whenever its last client
    // leaves, and a program that connects just then is turned away; the tests'
    // X tools come and go all the time.
    const char* argv[] = {"Xvfb",   display.c_str(), "-displayfd", "3",   "-screen", "0",
                          screen.c_str(), "-nolisten", "tcp", "-noreset", nullptr};
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // The display goes away with the test, even when the test is killed.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      // Xvfb writes the display number on descriptor 3 once it serves it.
      if (ready[1] == 3) ::fcntl(3, F_SETFD, 0);
      else ::dup2(ready[1], 3);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, STDIN_FILENO);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      ::execvp("Xvfb", const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::close(ready[1]);
    std::string written;
    pollfd wait_for{ready[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (written.empty() || written.back() != '\n') {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      char c = 0;
      if (left.count() <= 0 || ::poll(&wait_for, 1, static_cast<int>(left.count())) != 1 || ::read(ready[0], &c, 1) != 1) {
        break;
      }
      written += c;
    }
    ::close(ready[0]);
    if (written == std::to_string(number) + "\n") {
      name_ = display;
    } else {
      stop();
    }
  }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    // Xvfb ends within moments of SIGTERM; one that does not is killed.
    for (int tries = 0; tries < 100; ++tries) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = 0;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

  pid_t pid_ = 0;
  std::string name_;
};

}  // namespace kavelo

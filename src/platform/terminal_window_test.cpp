#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace kavelo {
namespace {

using namespace std::chrono_literals;

// Points a standard descriptor somewhere else while it lives.
class Redirect {
 public:
  Redirect(int fd, int target) : fd_(fd), saved_(dup(fd)) { dup2(target, fd); }
  Redirect(const Redirect&) = delete;
  ~Redirect() {
    dup2(saved_, fd_);
    close(saved_);
  }

 private:
  int fd_, saved_;
};

// A pseudo-terminal of the given width in raw mode, so the output reads back
// byte for byte.
struct Terminal {
  int master = -1, slave = -1;
  explicit Terminal(unsigned short columns) {
    termios mode{};
    cfmakeraw(&mode);
    winsize size{24, columns, 0, 0};
    if (openpty(&master, &slave, nullptr, &mode, &size) != 0) throw std::runtime_error("openpty");
  }
  ~Terminal() {
    close(slave);
    close(master);
  }
  std::string output() const {
    std::string text;
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    for (ssize_t n; poll(&ready, 1, 100) == 1 && (n = read(master, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    return text;
  }
};

// A terminal window whose stderr is a terminal `columns` wide, or a file when
// `columns` is 0, and whose stdin is `input` when it is given.
class Captured {
 public:
  explicit Captured(unsigned short columns, int input = -1) {
    if (columns > 0) screen_.emplace(columns);
    to_.emplace(STDERR_FILENO, screen_ ? screen_->slave : fileno(file_));
    if (input >= 0) from_.emplace(STDIN_FILENO, input);
    window = make_terminal_window();
  }
  ~Captured() { std::fclose(file_); }

  // Ends the window and gives back everything it wrote.
  std::string output() {
    window.reset();
    from_.reset();
    to_.reset();
    std::string text = screen_ ? screen_->output() : "";
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

 private:
  std::FILE* file_ = std::tmpfile();
  std::optional<Terminal> screen_;
  std::optional<Redirect> to_, from_;

 public:
  std::unique_ptr<Window> window;
};

TEST(TerminalWindow, WithoutATerminalOnlyMessagesAndTheSummaryAreWrittenAndNothingWaits) {
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(write(input[1], "x\n", 2), 2);
  Captured file(0, input[0]);
  // Nothing shows a label, so callers need not make their texts.
  EXPECT_FALSE(file.window->shows_labels());
  file.window->set_caption("Importación");
  file.window->set_label(Label::progress, "Importando cuentas...");
  file.window->repaint_label(Label::progress);
  file.window->do_events();
  file.window->repaint();
  file.window->message_box("Hay errores en escribir registro nuevo");
  int calls = 0;
  file.window->run_message_loop(1000ms, [&] { ++calls; });
  EXPECT_EQ(calls, 1) << "a terminal runs the timer's handler at once";
  file.window->finish("Proceso terminado con errores: ERRORES.TXT");
  EXPECT_EQ(file.output(), "Hay errores en escribir registro nuevo\nProceso terminado con errores: ERRORES.TXT\n");
  char unread[2];
  EXPECT_EQ(read(input[0], unread, 2), 2) << "the message box read stdin";
  close(input[0]);
  close(input[1]);
}

TEST(TerminalWindow, MessageBoxWaitsForEnterOnATerminal) {
  Terminal keyboard(80);
  ASSERT_EQ(write(keyboard.master, "\n", 1), 1);
  Captured file(0, keyboard.slave);
  file.window->message_box("No es posible abrir la base de datos");
  EXPECT_EQ(file.output(), "No es posible abrir la base de datos\nPulse Intro para continuar...");
  pollfd pending{keyboard.slave, POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 0), 0) << "the line was not read";
}

TEST(TerminalWindow, ProgressIsOneLineCutToTheTerminalWidth) {
  Captured screen(12);
  Window& window = *screen.window;
  EXPECT_TRUE(window.shows_labels());
  window.set_caption("Importación");
  window.set_label(Label::first_caption, "Empresa");
  window.set_label(Label::progress, "Cuentas:\n100 - Caja");
  window.repaint_label(Label::progress);
  std::this_thread::sleep_for(130ms);
  window.set_label(Label::progress, "Año");
  window.repaint();
  std::this_thread::sleep_for(130ms);
  window.set_label(Label::progress, "Ñandú y pingüino");
  window.repaint_label(Label::progress);
  window.message_box("Fin");
  EXPECT_EQ(screen.output(), "Importación - Empresa\n\rCuentas: 10\rAño        \rÑandú y pin\nFin\n");
}

TEST(TerminalWindow, ProgressShowsTheStepTheCountOfItsRecordsAndTheRecord) {
  Captured screen(80);
  Window& window = *screen.window;
  window.set_caption("Importación");
  // A step as the import run announces it, then its records.
  window.set_label(Label::progress, "Importando cuentas...");
  window.repaint_label(Label::progress);
  window.do_events();
  for (const char* record : {"Convirtiendo cuentas: 100 - Caja", "Convirtiendo cuentas: 572 - Bancos"}) {
    std::this_thread::sleep_for(130ms);
    window.set_label(Label::progress, record);
    window.repaint_label(Label::progress);
  }
  // The next step's own repaint may come due and show it beside the last
  // record's count; the message loop then shows the step alone.
  std::this_thread::sleep_for(130ms);
  window.set_label(Label::progress, "Importando clientes...");
  window.repaint_label(Label::progress);
  window.do_events();
  window.finish("Proceso terminado sin errores");
  const auto output = screen.output();
  // Each line drawn, less the blanks that pad it.
  std::vector<std::string> drawn;
  std::string line;
  for (char c : output + "\n") {
    if (c != '\r' && c != '\n') {
      line += c;
    } else if (!line.empty()) {
      drawn.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
      line.clear();
    }
  }
  EXPECT_EQ(drawn, (std::vector<std::string>{"Importación", "Importando cuentas...",
                                             "Importando cuentas... [1] Convirtiendo cuentas: 100 - Caja",
                                             "Importando cuentas... [2] Convirtiendo cuentas: 572 - Bancos",
                                             "Importando cuentas... [3] Importando clientes...",
                                             "Importando clientes...", "Proceso terminado sin errores"}))
      << output;
  EXPECT_TRUE(output.ends_with("\nProceso terminado sin errores\n")) << output;
}

TEST(TerminalWindow, FastChangesAreDrawnAtMostEightTimesASecond) {
  const auto start = std::chrono::steady_clock::now();
  Captured screen(80);
  for (int record = 1; record <= 20000; ++record) {
    screen.window->set_label(Label::progress, "Convirtiendo apuntes: " + std::to_string(record));
    screen.window->repaint_label(Label::progress);
  }
  const auto output = screen.output();
  const auto draws = std::count(output.begin(), output.end(), '\r');
  EXPECT_GE(draws, 1);
  EXPECT_LE(draws, 1 + (std::chrono::steady_clock::now() - start) / 125ms);
  EXPECT_NE(output.find("\rConvirtiendo apuntes: 1 "), std::string::npos);
}

}  // namespace
}  // namespace kavelo

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/window.h"

namespace kavelo {
namespace {

using namespace std::chrono_literals;

// A pseudo-terminal `columns` wide in raw mode, so that output reads back byte for byte.
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
};

// A terminal window whose stderr is a terminal `columns` wide, or a file when
// `columns` is 0, and whose stdin is `input`.
class Captured {
 public:
  Captured(unsigned short columns, int input) {
    if (columns > 0) screen_ = std::make_unique<Terminal>(columns);
    dup2(screen_ ? screen_->slave : fileno(file_), STDERR_FILENO);
    dup2(input, STDIN_FILENO);
    window = make_terminal_window();
  }
  ~Captured() {
    dup2(saved_err_, STDERR_FILENO);
    dup2(saved_in_, STDIN_FILENO);
    close(saved_err_);
    close(saved_in_);
    std::fclose(file_);
  }

  // Ends the window and gives back everything it wrote.
  std::string output() {
    window.reset();
    std::string text;
    char buffer[4096];
    pollfd ready{screen_ ? screen_->master : -1, POLLIN, 0};
    for (ssize_t n; poll(&ready, 1, 100) == 1 && (n = read(ready.fd, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(n));
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

  std::unique_ptr<Window> window;

 private:
  int saved_err_ = dup(STDERR_FILENO), saved_in_ = dup(STDIN_FILENO);
  std::FILE* file_ = std::tmpfile();
  std::unique_ptr<Terminal> screen_;
};

// A message box waits for Enter only when stdin is a terminal. (That without
// a terminal only messages and the summary are written, the runs of kavelo
// with stderr in a pipe tell.)
TEST(TerminalWindow, AMessageBoxWaitsOnlyOnATerminal) {
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(write(input[1], "x\n", 2), 2);
  {
    Captured file(0, input[0]);
    // Nothing shows a label, so callers need not make their texts.
    EXPECT_FALSE(file.window->shows_labels());
    file.window->message_box("Hay errores en escribir registro nuevo");
    EXPECT_EQ(file.output(), "Hay errores en escribir registro nuevo\n");
  }
  char unread[2];
  EXPECT_EQ(read(input[0], unread, 2), 2) << "the message box read stdin";
  close(input[0]);
  close(input[1]);

  Terminal keyboard(80);
  ASSERT_EQ(write(keyboard.master, "\n", 1), 1);
  Captured file(0, keyboard.slave);
  file.window->message_box("No es posible abrir la base de datos");
  EXPECT_EQ(file.output(), "No es posible abrir la base de datos\nPulse Intro para continuar...");
  pollfd pending{keyboard.slave, POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 0), 0) << "the line was not read";
}

// One line, one column short of the terminal's width, cut by characters with
// control characters blanked: a step as the run announces it, then the count of
// its records and the record; a message ends the line.
TEST(TerminalWindow, ProgressIsTheStepTheCountOfItsRecordsAndTheRecordCutToTheWidth) {
  const int nothing = open("/dev/null", O_RDONLY);
  Captured screen(31, nothing);
  Window& window = *screen.window;
  EXPECT_TRUE(window.shows_labels());
  window.set_caption("Importación");
  window.set_label(Label::first_caption, "Empresa");
  const auto show = [&](const char* text, bool count) {
    std::this_thread::sleep_for(130ms);
    window.set_label(Label::progress, text);
    count ? window.repaint_label(Label::progress) : window.repaint();
  };
  show("Cuentas...", true);
  window.do_events();
  show("100 -\nCaja", true);
  show("572 - Ñandú y pingüino", false);
  // The next step's own repaint may come due and show it beside the last
  // record's count; the message loop then shows the step alone.
  show("Clientes...", true);
  window.do_events();
  window.message_box("Fin");
  window.finish("Proceso terminado sin errores");
  EXPECT_EQ(screen.output(),
            "Importación - Empresa\n"
            "\rCuentas...                    "
            "\rCuentas... [1] 100 - Caja     "
            "\rCuentas... [1] 572 - Ñandú y p"
            "\rCuentas... [2] Clientes...    "
            "\rClientes...                   "
            "\nFin\nProceso terminado sin errores\n");
  close(nothing);
}

TEST(TerminalWindow, FastChangesAreDrawnAtMostEightTimesASecond) {
  const auto start = std::chrono::steady_clock::now();
  const int nothing = open("/dev/null", O_RDONLY);
  Captured screen(80, nothing);
  for (int record = 1; record <= 20000; ++record) {
    screen.window->set_label(Label::progress, "Convirtiendo apuntes: " + std::to_string(record));
    screen.window->repaint_label(Label::progress);
  }
  const auto output = screen.output();
  const auto draws = std::count(output.begin(), output.end(), '\r');
  EXPECT_GE(draws, 1);
  EXPECT_LE(draws, 1 + (std::chrono::steady_clock::now() - start) / 125ms);
  EXPECT_NE(output.find("\rConvirtiendo apuntes: 1 "), std::string::npos);
  close(nothing);
}

}  // namespace
}  // namespace kavelo

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "platform/window.h"

namespace kavelo {
namespace {

// Points a standard descriptor somewhere else for the length of a test.
class Redirect {
 public:
  Redirect(int fd, int target) : fd_(fd), saved_(dup(fd)) { dup2(target, fd); }
  ~Redirect() {
    dup2(saved_, fd_);
    close(saved_);
  }

 private:
  int fd_;
  int saved_;
};

// A pseudo-terminal of the given width in raw mode, so the output reads back
// byte for byte.
struct Terminal {
  int master = -1;
  int slave = -1;

  explicit Terminal(unsigned short columns) {
    termios mode{};
    cfmakeraw(&mode);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = columns;
    if (openpty(&master, &slave, nullptr, &mode, &size) != 0) throw std::runtime_error("openpty");
  }
  ~Terminal() {
    close(slave);
    close(master);
  }

  // Everything written so far.
  std::string output() const {
    std::string text;
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    while (poll(&ready, 1, 100) == 1) {
      const auto n = read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
};

std::string file_text(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(TerminalWindow, MessageBoxPrintsOnStderrAndDoesNotWaitWithoutATerminal) {
  std::FILE* errors = std::tmpfile();
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(write(input[1], "x\n", 2), 2);
  {
    Redirect to_file(STDERR_FILENO, fileno(errors));
    Redirect from_pipe(STDIN_FILENO, input[0]);
    make_terminal_window()->message_box("Hay errores en escribir registro nuevo");
  }
  EXPECT_EQ(file_text(errors), "Hay errores en escribir registro nuevo\n");
  char unread[2];
  EXPECT_EQ(read(input[0], unread, 2), 2) << "the message box read stdin";
  close(input[0]);
  close(input[1]);
  std::fclose(errors);
}

TEST(TerminalWindow, MessageBoxWaitsForEnterOnATerminal) {
  std::FILE* errors = std::tmpfile();
  Terminal keyboard(80);
  ASSERT_EQ(write(keyboard.master, "\n", 1), 1);
  {
    Redirect to_file(STDERR_FILENO, fileno(errors));
    Redirect from_terminal(STDIN_FILENO, keyboard.slave);
    make_terminal_window()->message_box("No es posible abrir la base de datos");
  }
  EXPECT_EQ(file_text(errors), "No es posible abrir la base de datos\nPulse Intro para continuar...");
  pollfd pending{keyboard.slave, POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 0), 0) << "the line was not read";
  std::fclose(errors);
}

TEST(TerminalWindow, NoProgressWithoutATerminal) {
  std::FILE* errors = std::tmpfile();
  {
    Redirect to_file(STDERR_FILENO, fileno(errors));
    auto window = make_terminal_window();
    // Nothing shows a label, so callers need not make their texts.
    EXPECT_FALSE(window->shows_labels());
    window->set_caption("Importación");
    window->set_label(Label::progress, "Convirtiendo cuentas: 100 - Caja");
    window->repaint_label(Label::progress);
    window->repaint();
  }
  EXPECT_EQ(file_text(errors), "");
}

TEST(TerminalWindow, ProgressIsOneLineCutToTheTerminalWidth) {
  Terminal screen(12);
  {
    Redirect to_terminal(STDERR_FILENO, screen.slave);
    auto window = make_terminal_window();
    EXPECT_TRUE(window->shows_labels());
    window->set_caption("Importación");
    window->set_label(Label::first_caption, "Empresa");
    window->set_label(Label::progress, "Cuentas:\n100 - Caja");
    window->repaint_label(Label::progress);
    std::this_thread::sleep_for(std::chrono::milliseconds(130));
    window->set_label(Label::progress, "Año");
    window->repaint();
    std::this_thread::sleep_for(std::chrono::milliseconds(130));
    window->set_label(Label::progress, "Ñandú y pingüino");
    window->repaint_label(Label::progress);
    window->message_box("Fin");
  }
  EXPECT_EQ(screen.output(),
            "Importación - Empresa\n"
            "\rCuentas: 10"
            "\rAño        "
            "\rÑandú y pin\n"
            "Fin\n");
}

TEST(TerminalWindow, ProgressShowsTheStepTheCountOfItsRecordsAndTheRecord) {
  Terminal screen(80);
  {
    Redirect to_terminal(STDERR_FILENO, screen.slave);
    auto window = make_terminal_window();
    window->set_caption("Importación");
    // A step as the import run announces it, then its records.
    window->set_label(Label::progress, "Importando cuentas...");
    window->repaint_label(Label::progress);
    window->do_events();
    for (const char* record : {"Convirtiendo cuentas: 100 - Caja", "Convirtiendo cuentas: 572 - Bancos"}) {
      std::this_thread::sleep_for(std::chrono::milliseconds(130));
      window->set_label(Label::progress, record);
      window->repaint_label(Label::progress);
    }
    // The next step's own repaint may come due and show it beside the last
    // record's count; the message loop then shows the step alone.
    std::this_thread::sleep_for(std::chrono::milliseconds(130));
    window->set_label(Label::progress, "Importando clientes...");
    window->repaint_label(Label::progress);
    window->do_events();
    window->finish("Proceso terminado sin errores");
  }
  const auto output = screen.output();
  const auto lines_of = [](const std::string& text) {
    std::vector<std::string> drawn;
    std::string line;
    for (char c : text) {
      if (c == '\r' || c == '\n') {
        if (!line.empty()) drawn.push_back(line.substr(0, line.find_last_not_of(' ') + 1));
        line.clear();
      } else {
        line += c;
      }
    }
    return drawn;
  };
  EXPECT_EQ(lines_of(output), (std::vector<std::string>{
                                  "Importación",
                                  "Importando cuentas...",
                                  "Importando cuentas... [1] Convirtiendo cuentas: 100 - Caja",
                                  "Importando cuentas... [2] Convirtiendo cuentas: 572 - Bancos",
                                  "Importando cuentas... [3] Importando clientes...",
                                  "Importando clientes...",
                                  "Proceso terminado sin errores",
                              }))
      << output;
  EXPECT_TRUE(output.ends_with("\nProceso terminado sin errores\n")) << output;
}

TEST(TerminalWindow, WithoutATerminalTheSummaryIsTheOnlyLine) {
  std::FILE* errors = std::tmpfile();
  {
    Redirect to_file(STDERR_FILENO, fileno(errors));
    auto window = make_terminal_window();
    window->set_label(Label::progress, "Importando cuentas...");
    window->repaint_label(Label::progress);
    window->do_events();
    int calls = 0;
    window->run_message_loop(std::chrono::milliseconds(1000), [&] { ++calls; });
    EXPECT_EQ(calls, 1) << "a terminal runs the timer's handler at once";
    window->finish("Proceso terminado con errores: ERRORES.TXT");
  }
  EXPECT_EQ(file_text(errors), "Proceso terminado con errores: ERRORES.TXT\n");
  std::fclose(errors);
}

TEST(TerminalWindow, FastChangesAreDrawnAtMostEightTimesASecond) {
  Terminal screen(80);
  const auto start = std::chrono::steady_clock::now();
  {
    Redirect to_terminal(STDERR_FILENO, screen.slave);
    auto window = make_terminal_window();
    for (int record = 1; record <= 20000; ++record) {
      window->set_label(Label::progress, "Convirtiendo apuntes: " + std::to_string(record));
      window->repaint_label(Label::progress);
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const auto output = screen.output();
  const auto draws = std::count(output.begin(), output.end(), '\r');
  EXPECT_GE(draws, 1);
  EXPECT_LE(draws, 1 + elapsed / std::chrono::milliseconds(125));
  EXPECT_NE(output.find("\rConvirtiendo apuntes: 1 "), std::string::npos);
}

}  // namespace
}  // namespace kavelo

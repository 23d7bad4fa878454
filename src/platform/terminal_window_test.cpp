#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/window.h"

namespace kavelo {
namespace {

using namespace std::chrono_literals;

// What a terminal window writes while `body` uses it, with stderr a terminal
// `columns` wide in raw mode (so that output reads back byte for byte), or a
// pipe when `columns` is 0, and stdin `input` (/dev/null when -1). Writing more
// than the terminal holds fails rather than waits.
std::string output(unsigned short columns, int input, const std::function<void(Window&)>& body) {
  int ends[2];  // read, write
  termios raw{};
  cfmakeraw(&raw);
  winsize size{24, columns, 0, 0};
  if ((columns > 0 ? openpty(&ends[0], &ends[1], nullptr, &raw, &size) : pipe(ends)) != 0) return "(no stderr)";
  fcntl(ends[1], F_SETFL, O_NONBLOCK);
  const int saved_err = dup(STDERR_FILENO), saved_in = dup(STDIN_FILENO), null = open("/dev/null", O_RDONLY);
  dup2(ends[1], STDERR_FILENO);
  dup2(input >= 0 ? input : null, STDIN_FILENO);
  body(*make_terminal_window());
  dup2(saved_err, STDERR_FILENO);
  dup2(saved_in, STDIN_FILENO);
  for (int fd : {saved_err, saved_in, null, ends[1]}) close(fd);
  std::string text;
  char buffer[4096];
  pollfd ready{ends[0], POLLIN, 0};
  for (ssize_t n; poll(&ready, 1, 100) == 1 && (n = read(ends[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(ends[0]);
  return text;
}

// A message box waits for Enter only when stdin is a terminal; without a
// terminal on stderr no label is shown.
TEST(TerminalWindow, AMessageBoxWaitsOnlyOnATerminal) {
  int input[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(write(input[1], "x\n", 2), 2);
  close(input[1]);
  EXPECT_EQ(output(0, input[0],
                   [](Window& window) {
                     EXPECT_FALSE(window.shows_labels());
                     window.message_box("Hay errores en escribir registro nuevo");
                   }),
            "Hay errores en escribir registro nuevo\n");
  char unread[2];
  EXPECT_EQ(read(input[0], unread, 2), 2) << "the message box read stdin";

  int keyboard = -1, line = -1;
  ASSERT_EQ(openpty(&keyboard, &line, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(write(keyboard, "\n", 1), 1);
  EXPECT_EQ(output(0, line, [](Window& window) { window.message_box("No es posible abrir la base de datos"); }),
            "No es posible abrir la base de datos\nPulse Intro para continuar...");
  pollfd pending{line, POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 0), 0) << "the line was not read";
  for (int fd : {input[0], keyboard, line}) close(fd);
}

// One line, one column short of the terminal's width, cut by characters with
// control characters blanked: a step as the run announces it, then the count of
// its records and the record; a message ends the line. It is drawn at most
// eight times a second.
TEST(TerminalWindow, ProgressIsTheStepTheCountOfItsRecordsAndTheRecordCutToTheWidth) {
  const auto run = [](Window& window) {
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
  };
  EXPECT_EQ(output(31, -1, run),
            "Importación - Empresa\n"
            "\rCuentas...                    "
            "\rCuentas... [1] 100 - Caja     "
            "\rCuentas... [1] 572 - Ñandú y p"
            "\rCuentas... [2] Clientes...    "
            "\rClientes...                   "
            "\nFin\nProceso terminado sin errores\n");

  // Records as fast as they come: the first at once, then at most eight a second.
  const auto start = std::chrono::steady_clock::now();
  const std::string drawn = output(80, -1, [](Window& window) {
    for (int record = 1; record <= 20000; ++record) {
      window.set_label(Label::progress, "Convirtiendo apuntes: " + std::to_string(record));
      window.repaint_label(Label::progress);
    }
  });
  EXPECT_NE(drawn.find("\rConvirtiendo apuntes: 1 "), std::string::npos);
  EXPECT_LE(std::count(drawn.begin(), drawn.end(), '\r'), 1 + (std::chrono::steady_clock::now() - start) / 125ms);
}

}  // namespace
}  // namespace kavelo

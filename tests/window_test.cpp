// The graphical window through the real program on a virtual display of the
// test's own: the window is on screen while a company is imported, a message
// box waits for its key, and a display that is not there means the terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "window/test_display.h"

namespace kavelo::test {
namespace {

using namespace std::chrono_literals;

const std::string kCaption = "Importación de prueba";

// `command` (searched in PATH) with DISPLAY set to `display`.
RunResult on_display(const std::string& display, std::vector<std::string> command,
                     std::chrono::seconds time_limit = 20s) {
  command.insert(command.begin(), {"/usr/bin/env", "DISPLAY=" + display});
  return run_program(command, "", std::nullopt, time_limit);
}

// An X tool, in a UTF-8 locale so that it prints window names as they are.
RunResult x_tool(const std::string& display, std::vector<std::string> command) {
  command.insert(command.begin(), "LC_ALL=C.UTF-8");
  return on_display(display, command);
}

// The line of `xwininfo -root -tree` for the window named `name` (which it
// reads in UTF-8, unlike xdotool's search), or "" when there is none; it ends
// with the window's size and place, as in "544x111+128+94  +128+94".
std::string window_line(const std::string& display, const std::string& name) {
  const RunResult tree = x_tool(display, {"xwininfo", "-root", "-tree"});
  const std::string quoted = "\"" + name + "\":";
  const auto at = tree.out.find(quoted);
  if (at == std::string::npos) return "";
  const auto start = tree.out.rfind('\n', at) + 1;
  return tree.out.substr(start, tree.out.find('\n', at) - start);
}

// A company DEMO01 with the demo's data and interchange files, then
// `extra_sql`; or with empty interchange files when `demo` is false.
struct Company {
  Company(const TempDir& tmp, const std::string& name, bool demo, const std::string& extra_sql = "")
      : dir(tmp / name) {
    make_dir(dir);
    make_dir(inter);
    make_dir(data);
    const char* root = std::getenv("KAVELO_SOURCE_DIR");
    if (root == nullptr) throw std::runtime_error("KAVELO_SOURCE_DIR is not set");
    const std::string source = std::string(root) + "/examples/demo/";
    database = make_company(data, "DEMO", "01", (demo ? read_bytes(source + "company.sql") : "") + extra_sql);
    for (const char* file : {"MAE.TXT", "CLI.TXT", "PRO.TXT", "APU.TXT", "IVR.TXT", "IVS.TXT"}) {
      write_bytes(inter + "/" + file, demo ? read_bytes(source + file) : "");
    }
    write_connection_file(conn, connection_lines(inter, data, "DEMO", "01", "|", kCaption));
  }

  std::string report(const std::string& name) const {
    return exists(inter + "/" + name) ? read_bytes(inter + "/" + name) : "(none)";
  }
  std::string rows() const { return run_program({bin_path("kavelo-db"), "count", database}).out; }

  std::string dir;
  std::string inter = dir + "/inter";
  std::string data = dir + "/datos";
  std::string conn = dir + "/conexion.txt";
  std::string database;
};

// A start-up that fails shows its message in a box that waits for its key,
// before any window, and then the run ends with its reports.
TEST(GraphicalWindow, MessageBoxWaitsForItsKeyAndThenTheRunEndsWithReports) {
  TempDir tmp;
  const Company broken(tmp, "rota", false);
  write_bytes(broken.database, "esto no es una base de datos\r\n");
  TestDisplay display;
  auto running = std::async(std::launch::async, [&] {
    return on_display(display.name(), {bin_path("kavelo"), broken.conn}, 60s);
  });
  // The box is titled with the application's title.
  const RunResult box = x_tool(display.name(), {"xdotool", "search", "--sync", "--name", "^Doveduzi Kavelo$"});
  ASSERT_EQ(box.exit_status, 0) << "no message box";
  // It waits: nothing is written and the program goes on running.
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(running.wait_for(0s), std::future_status::timeout);
  EXPECT_FALSE(exists(broken.inter + "/FINAL.TXT"));
  // Start-up failed before the window was shown.
  EXPECT_EQ(window_line(display.name(), kCaption), "");

  // The box sits under the pointer, which has the keyboard focus.
  x_tool(display.name(), {"xdotool", "key", "Return"});
  ASSERT_EQ(running.wait_for(30s), std::future_status::ready) << "the key did not close the box";
  const RunResult result = running.get();
  EXPECT_EQ(result.exit_status, 1) << result.err;
  EXPECT_EQ(broken.report("ERRORES.TXT"), "error en apertura de base de datos\r\n");
  EXPECT_EQ(broken.report("FINAL.TXT"), expected_final_txt());
}

// The window is on screen while the demo company is imported. The sales
// journal's counter is at the largest value its column holds: each new entry
// of that journal cannot advance it, and says so in a box that waits for its
// key in front of the window; then the run goes on to the end, as in the
// terminal, and the window goes with it.
TEST(GraphicalWindow, ShowsTheWindowAndItsMessageBoxesAndEndsLikeATerminalRun) {
  const std::string full_counter =
      "\nDROP TABLE F_DIA;\n"
      "CREATE TABLE F_DIA (CODDIA SHORT NOT NULL PRIMARY KEY, NOMDIA TEXT(50), ASIDIA BYTE DEFAULT 1);\n"
      "INSERT INTO F_DIA VALUES (1, 'Diario general', 25);\n"
      "INSERT INTO F_DIA VALUES (2, 'Diario de ventas', 255);\n"
      "INSERT INTO F_DIA VALUES (3, 'Diario de compras', 1);\n";
  TempDir tmp;
  const Company in_terminal(tmp, "terminal", true, full_counter);
  const Company on_screen(tmp, "pantalla", true, full_counter);
  const RunResult terminal = run_program({bin_path("kavelo"), in_terminal.conn});
  ASSERT_NE(terminal.err.find("Hay errores en escribir registro nuevo\n"), std::string::npos) << terminal.err;

  TestDisplay display;
  auto running = std::async(std::launch::async, [&] {
    return on_display(display.name(), {bin_path("kavelo"), on_screen.conn}, 60s);
  });
  // The window is on screen for a second before the import starts.
  std::string window;
  for (int tries = 0; tries < 400 && window.empty(); ++tries) {
    if (running.wait_for(0s) == std::future_status::ready) break;
    window = window_line(display.name(), kCaption);
    if (window.empty()) std::this_thread::sleep_for(25ms);
  }
  ASSERT_NE(window, "") << "no window with the caption of line 6";
  EXPECT_NE(window.find(" 544x111+"), std::string::npos) << window;

  int boxes = 0;
  bool window_behind_box = false, waited_for_key = false;
  const auto deadline = std::chrono::steady_clock::now() + 45s;
  while (running.wait_for(0s) != std::future_status::ready && std::chrono::steady_clock::now() < deadline) {
    if (x_tool(display.name(), {"xdotool", "search", "--onlyvisible", "--name", "^Doveduzi Kavelo$"})
            .exit_status == 0) {
      if (boxes++ == 0) {
        window_behind_box = window_line(display.name(), kCaption) != "";
        std::this_thread::sleep_for(300ms);
        waited_for_key = running.wait_for(0s) == std::future_status::timeout;
      }
      // The box sits under the pointer, which has the keyboard focus.
      x_tool(display.name(), {"xdotool", "key", "Return"});
    }
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(running.wait_for(0s), std::future_status::ready) << "the run did not end";
  EXPECT_GE(boxes, 1);
  EXPECT_TRUE(window_behind_box);
  EXPECT_TRUE(waited_for_key);

  const RunResult graphical = running.get();
  EXPECT_EQ(graphical.exit_status, terminal.exit_status) << graphical.err;
  EXPECT_EQ(on_screen.report("FINAL.TXT"), expected_final_txt());
  EXPECT_EQ(on_screen.report("ERRORES.TXT"), in_terminal.report("ERRORES.TXT"));
  EXPECT_EQ(on_screen.rows(), in_terminal.rows());
  EXPECT_EQ(on_screen.rows().find("F_APU 0\n"), std::string::npos) << on_screen.rows();
  EXPECT_EQ(on_screen.rows().find("F_IVS 0\n"), std::string::npos) << on_screen.rows();
  // The window tells nothing on stderr (a sanitizer build may add its own
  // lines); the terminal run its summary.
  EXPECT_EQ(graphical.err.find("Proceso"), std::string::npos) << graphical.err;
  EXPECT_NE(terminal.err.find("\nArchivo "), std::string::npos) << terminal.err;
  EXPECT_NE(terminal.err.find("\nProceso terminado "), std::string::npos) << terminal.err;
  EXPECT_EQ(window_line(display.name(), kCaption), "") << "the window outlived the run";
}

TEST(GraphicalWindow, ADisplayThatIsNotThereMeansTheTerminal) {
  // A display number far above those that servers take (the lowest free
  // one), whose socket and lock file are not there.
  std::string nowhere;
  for (int number = 64999; nowhere.empty(); --number) {
    const std::string n = std::to_string(number);
    if (!exists("/tmp/.X11-unix/X" + n) && !exists("/tmp/.X" + n + "-lock")) nowhere = ":" + n;
  }
  TempDir tmp;
  const Company company(tmp, "empresa", false);
  const RunResult result = on_display(nowhere, {bin_path("kavelo"), company.conn}, 60s);
  EXPECT_EQ(result.exit_status, 0) << result.err;
  EXPECT_TRUE(result.err.ends_with("\nProceso terminado sin errores\n")) << result.err;
  EXPECT_EQ(company.report("FINAL.TXT"), expected_final_txt());
}

}  // namespace
}  // namespace kavelo::test

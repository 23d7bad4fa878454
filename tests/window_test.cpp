// The graphical window through the real program on a virtual display of the
// test's own: message boxes that wait for their key, the window on screen while
// a company is imported, and a display that is not there means the terminal.
#include <gtest/gtest.h>

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

// `command` (searched in PATH) with DISPLAY set to `display`, in a UTF-8
// locale so that X tools print window names as they are.
RunResult on_display(const std::string& display, std::vector<std::string> command) {
  command.insert(command.begin(), {"/usr/bin/env", "LC_ALL=C.UTF-8", "DISPLAY=" + display});
  return run_program(command, "", std::nullopt, 60s);
}

// The line of `xwininfo -root -tree` for the window named `name` (which it
// reads in UTF-8, unlike xdotool's search), or "" when there is none; it ends
// with the window's size and place, as in "544x111+128+94  +128+94".
std::string window_line(const std::string& display, const std::string& name) {
  const RunResult tree = on_display(display, {"xwininfo", "-root", "-tree"});
  const auto at = tree.out.find("\"" + name + "\":");
  if (at == std::string::npos) return "";
  const auto start = tree.out.rfind('\n', at) + 1;
  return tree.out.substr(start, tree.out.find('\n', at) - start);
}

// A company DEMO01 with the demo's data and interchange files, then
// `extra_sql`. An earlier run's FINAL.TXT is in the interchange folder.
struct Company {
  Company(const TempDir& tmp, const std::string& name, const std::string& extra_sql = "") : dir(tmp / name) {
    for (const std::string& folder : {dir, inter, data}) make_dir(folder);
    const char* root = std::getenv("KAVELO_SOURCE_DIR");
    if (root == nullptr) throw std::runtime_error("KAVELO_SOURCE_DIR is not set");
    const std::string source = std::string(root) + "/examples/demo/";
    database = make_company(data, "DEMO", "01", read_bytes(source + "company.sql") + extra_sql);
    for (const char* file : kInterchangeFiles) write_bytes(inter + "/" + file, read_bytes(source + file));
    write_bytes(inter + "/FINAL.TXT", "viejo\r\n");
    write_connection_file(conn, connection_lines(inter, data, "DEMO", "01", "|", kCaption));
  }

  std::string rows() const { return kavelo_db({"count", database}).out; }

  std::string dir;
  std::string inter = dir + "/inter";
  std::string data = dir + "/datos";
  std::string conn = dir + "/conexion.txt";
  std::string database;
};

// What a run of kavelo on a display showed: its window's line once seen; at the
// first message box, whether the window was behind it, whether a FINAL.TXT was
// there and whether the run still waited for the key 300 ms later.
struct Seen {
  RunResult result;
  std::string window;
  bool window_behind_box = false, final_txt_at_box = false, waited_for_key = false;
};

Seen run_on_display(const std::string& display, const Company& company) {
  Seen seen;
  int boxes = 0;
  auto running = std::async(std::launch::async, [&] { return on_display(display, {bin_path("kavelo"), company.conn}); });
  const auto deadline = std::chrono::steady_clock::now() + 50s;
  while (running.wait_for(0s) != std::future_status::ready && std::chrono::steady_clock::now() < deadline) {
    if (seen.window.empty()) seen.window = window_line(display, kCaption);
    if (on_display(display, {"xdotool", "search", "--onlyvisible", "--name", "^Doveduzi Kavelo$"}).exit_status == 0) {
      if (boxes++ == 0) {
        seen.window_behind_box = window_line(display, kCaption) != "";
        seen.final_txt_at_box = exists(company.inter + "/FINAL.TXT");
        std::this_thread::sleep_for(300ms);
        seen.waited_for_key = running.wait_for(0s) == std::future_status::timeout;
      }
      // The box sits under the pointer, which has the keyboard focus.
      on_display(display, {"xdotool", "key", "Return"});
    }
    std::this_thread::sleep_for(25ms);
  }
  seen.result = running.get();
  return seen;
}

// Message boxes, titled with the application's title, wait for their key; the
// window is on screen only while a run imports. A start-up that fails shows
// its box and no window, then the run ends with its reports. While the demo
// company is imported the window is behind each box that says that the sales
// journal's counter, at the largest value its column holds, cannot advance;
// then the run goes on to the end exactly as on a display that is not there,
// which means the terminal.
TEST(GraphicalWindow, BoxesWaitForTheirKeyAndTheWindowShowsWhileARunImports) {
  const std::string full_counter =
      "\nDROP TABLE F_DIA;\n"
      "CREATE TABLE F_DIA (CODDIA SHORT NOT NULL PRIMARY KEY, NOMDIA TEXT(50), ASIDIA BYTE DEFAULT 1);\n"
      "INSERT INTO F_DIA VALUES (1, 'Diario general', 25), (2, 'Diario de ventas', 255), (3, 'Diario de compras', 1);\n";
  TempDir tmp;
  const Company broken(tmp, "rota"), in_terminal(tmp, "terminal", full_counter), on_screen(tmp, "pantalla", full_counter);
  write_bytes(broken.database, "esto no es una base de datos\r\n");
  // A display number far above those that servers take, whose socket and lock file are not there.
  std::string nowhere;
  for (int n = 64999; nowhere.empty(); --n)
    if (!exists("/tmp/.X11-unix/X" + std::to_string(n)) && !exists("/tmp/.X" + std::to_string(n) + "-lock"))
      nowhere = ":" + std::to_string(n);
  const RunResult terminal = on_display(nowhere, {bin_path("kavelo"), in_terminal.conn});
  ASSERT_NE(terminal.err.find("Hay errores en escribir registro nuevo\n"), std::string::npos) << terminal.err;

  TestDisplay display;
  const Seen failed = run_on_display(display.name(), broken);
  EXPECT_TRUE(failed.waited_for_key) << "no box, or one that did not wait";
  EXPECT_FALSE(failed.final_txt_at_box) << "the earlier run's FINAL.TXT was kept";
  EXPECT_EQ(failed.window, "");
  EXPECT_EQ(error_report(broken.inter), "error en apertura de base de datos\r\n");
  EXPECT_EQ(failed.result.exit_status, 1) << failed.result.err;

  const Seen seen = run_on_display(display.name(), on_screen);
  EXPECT_NE(seen.window.find(" 544x111+"), std::string::npos) << "no window with the caption of line 6";
  EXPECT_TRUE(seen.window_behind_box);
  EXPECT_TRUE(seen.waited_for_key) << "no box, or one that did not wait";
  EXPECT_FALSE(seen.final_txt_at_box);
  EXPECT_EQ(seen.result.exit_status, terminal.exit_status) << seen.result.err;
  EXPECT_EQ(error_report(on_screen.inter), error_report(in_terminal.inter));
  EXPECT_EQ(on_screen.rows(), in_terminal.rows());
  // The window tells nothing on stderr (a sanitizer build may add its own lines).
  EXPECT_EQ(seen.result.err.find("Proceso"), std::string::npos) << seen.result.err;
}

}  // namespace
}  // namespace kavelo::test

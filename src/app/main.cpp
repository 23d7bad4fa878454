// kavelo CONNFILE: imports the interchange files that the connection file
// points to into the company database, then writes FINAL.TXT (and ERRORES.TXT
// when anything failed) into the interchange folder.
#include <malloc.h>

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "app/command_line.h"
#include "app/import_run.h"
#include "app/reports.h"
#include "app/startup.h"
#include "db/engine.h"
#include "db/odbc/server_connection.h"
#include "db/open_retry.h"
#include "interchange/run_state.h"
#include "platform/product.h"
#include "platform/window.h"

namespace {

// Ends the run with `message` added to the error report.
[[noreturn]] void end_with(const std::string& message) {
  kavelo::add_closing_message(kavelo::run().TextoErrores, message);
  kavelo::prc_Final();
}

// Timer1's handler: the import run, then the end of the process.
[[noreturn]] void Timer1_handler() {
  try {
    kavelo::Timer1_Timer();
  } catch (const kavelo::db::OpenGaveUp& gave_up) {
    // A database function gave up opening the database: the run ends with
    // its reports instead of silently.
    end_with(gave_up.message());
  } catch (const std::exception& unexpected) {
    // No region handles it: the caller learns of it from the error report.
    end_with(unexpected.what());
  }
  kavelo::prc_Final();
}

}  // namespace

int main(int argc, char* argv[]) {
  // SQLite frees and takes back its cache pages record after record; without
  // this, the allocator gives the top of the heap back to the system each time
  // and asks for it again (tens of thousands of brk calls in a long journal).
  mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
  mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
  const kavelo::CommandLine command = kavelo::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
  if (command.mode == kavelo::Mode::Help) {
    fmt::print("{}", kavelo::usage_text());
    return 0;
  }
  if (command.mode == kavelo::Mode::Version) {
    fmt::print("kavelo {}.{}\n", kavelo::product::kVersionMajor, kavelo::product::kVersionMinor);
    return 0;
  }
  // A check run does everything a run does and, at its end, undoes every
  // write to the company database.
  kavelo::db::Engine::instance().set_check_run(command.mode == kavelo::Mode::Check);
  // A company database may also be a link file that names a database on a server.
  kavelo::db::odbc::register_server_backend();

  // The window is chosen before start-up fills it in: a graphical one when a
  // display is reachable, the terminal otherwise.
  kavelo::choose_main_window();
  kavelo::Window& window = kavelo::main_window();
  try {
    kavelo::startup(command.connection_file);
  } catch (const kavelo::db::OpenGaveUp& gave_up) {
    end_with(gave_up.message());
  } catch (const std::exception& unexpected) {
    end_with(unexpected.what());
  }
  // Timer1: the import run starts about a second after the window is on
  // screen, and only once. It ends the process.
  window.show();
  window.run_message_loop(std::chrono::milliseconds(1000), Timer1_handler);
  // Not reached: the handler ends the process.
  Timer1_handler();
}

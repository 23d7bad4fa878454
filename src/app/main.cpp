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
#include "interchange/run.h"
#include "platform/product.h"
#include "platform/regional.h"
#include "platform/window.h"

namespace {

// Runs a part of the run; a failure that no part handles ends the run, and
// the caller learns of it from the error report.
template <class Part>
void ending_on_failure(kavelo::Run& run, Part&& part) {
  try {
    part();
  } catch (const std::exception& unexpected) {
    // Giving up opening the database is one of them.
    run.add_closing_message(unexpected.what());
  }
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
  if (command.mode == kavelo::Mode::UsageError) {
    fmt::print(stderr, "kavelo: {}\n{}", command.error, kavelo::usage_text());
    return kavelo::kExitBadOptions;
  }

  // The window is chosen before start-up fills it in: a graphical one when a
  // display is reachable, the terminal otherwise.
  const std::unique_ptr<kavelo::Window> window = kavelo::choose_window();
  // A check run does everything a run does and, at its end, undoes every
  // write to the company database.
  kavelo::Run run(*window, kavelo::regional_settings_from_environment(), command.options);
  bool started = false;
  ending_on_failure(run, [&] { started = kavelo::start_run(run, command.connection_file); });
  if (started) {
    // The imports start about a second after the window is on screen, once.
    window->show();
    bool imported = false;
    window->run_message_loop(std::chrono::milliseconds(1000), [&] {
      if (imported) return;
      imported = true;
      ending_on_failure(run, [&] { kavelo::import_all(run); });
    });
  }
  return kavelo::finish_run(run);
}

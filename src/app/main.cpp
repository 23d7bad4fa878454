// kavelo CONNFILE: imports the interchange files that the connection file
// points to into the company database, then writes FINAL.TXT (and ERRORES.TXT
// when anything failed) into the interchange folder.
#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "app/import_run.h"
#include "app/reports.h"
#include "app/startup.h"
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
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 1 && arguments[0] == "--help") {
    fmt::print(
        "Uso: kavelo ARCHIVO_DE_CONEXION\n"
        "Importa los archivos de intercambio en la base de datos de la empresa que indica el archivo\n"
        "de conexión, y deja FINAL.TXT (y ERRORES.TXT si algo falló) en la carpeta de intercambio.\n"
        "Todos los argumentos, unidos por un blanco, forman la ruta del archivo de conexión.\n"
        "  --help     muestra esta ayuda\n"
        "  --version  muestra la versión\n");
    return 0;
  }
  if (arguments.size() == 1 && arguments[0] == "--version") {
    fmt::print("kavelo {}.{}\n", kavelo::product::kVersionMajor, kavelo::product::kVersionMinor);
    return 0;
  }

  // The path is taken whole: a path with blanks may arrive as several arguments.
  std::string archivo_conexion;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) archivo_conexion += ' ';
    archivo_conexion += arguments[i];
  }

  // The window is chosen before start-up fills it in: a graphical one when a
  // display is reachable, the terminal otherwise.
  kavelo::choose_main_window();
  kavelo::Window& window = kavelo::main_window();
  try {
    kavelo::startup(archivo_conexion);
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

#include "app/startup.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/connection_file.h"
#include "app/reports.h"
#include "db/record_lookup.h"
#include "interchange/run_state.h"
#include "platform/failure.h"
#include "platform/product.h"
#include "platform/window.h"

namespace kavelo {
namespace {

// From the reading of the connection file on, a statement that fails is
// skipped and start-up goes on with the next one.
template <class Statement>
void ignoring_failure(Statement&& statement) {
  try {
    statement();
  } catch (const Failure&) {
  }
}

// A missing file is no failure.
void delete_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) throw failure(ErrorCode::PathFileAccess);
}

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

bool file_matches(const std::string& pattern) {
  // Only "*" and "?" are wildcards: brackets and backslashes are escaped so
  // that a file named with them is found by its own name.
  std::string escaped;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') escaped += '\\';
    escaped += c;
  }
  glob_t found{};
  const int result = ::glob(escaped.c_str(), 0, nullptr, &found);
  bool regular_file = false;
  if (result == 0) {
    for (std::size_t i = 0; i < found.gl_pathc && !regular_file; ++i) {
      struct stat info {};
      regular_file = ::stat(found.gl_pathv[i], &info) == 0 && S_ISREG(info.st_mode);
    }
  }
  ::globfree(&found);
  return regular_file;
}

void startup(const std::string& archivo_conexion) {
  RunState& state = run();
  RunSettings& settings = state.settings;
  Window& window = main_window();

  window.set_caption(product::kTitle);
  settings.ArchivoConexion = archivo_conexion;
  if (settings.ArchivoConexion.empty()) {
    state.TextoErrores = "Debe indicar el parametro con el nombre del archivo de conexión.";
    prc_Final();
  }
  if (!file_matches(settings.ArchivoConexion)) {
    state.TextoErrores = "No es posible abrir el archivo: " + settings.ArchivoConexion;
    prc_Final();
  }
  try {
    read_connection_file(settings.ArchivoConexion, settings);
  } catch (const Failure& failed) {
    // The reports go to line 1 as far as it was read, untouched.
    state.TextoErrores = failed.description() + " (" + settings.ArchivoConexion + ")";
    prc_Final();
  }
  settings.DirIntercambio = as_folder(settings.DirIntercambio);

  ignoring_failure([&] { delete_file(settings.DirIntercambio + "ERRORES.TXT"); });
  ignoring_failure([&] { delete_file(settings.DirIntercambio + "FINAL.TXT"); });
  // Without its reports the caller cannot learn what the run did, and a
  // caller that runs it again would number and post its journal entries a
  // second time: a folder that cannot take them ends the run before anything
  // is imported (and before the window shows). So does a report's place that
  // something else (a folder) still takes.
  if (!folder_takes_reports(settings.DirIntercambio) || exists(settings.DirIntercambio + "ERRORES.TXT") ||
      exists(settings.DirIntercambio + "FINAL.TXT")) {
    state.TextoErrores = "No es posible escribir en la carpeta de intercambio: " + settings.DirIntercambio;
    prc_Final();
  }

  settings.DirDatos = as_folder(settings.DirDatos);
  settings.CodEmpresa = trim_blanks(settings.CodEmpresa);
  settings.SufijoBase = trim_blanks(settings.SufijoBase);

  window.set_caption(settings.caption);
  window.set_label(Label::Label1, settings.label1);
  window.set_label(Label::Label2, settings.label2);
  window.set_label(Label::Label3, "Procesando");
  window.do_events();

  settings.RutaBase = settings.DirDatos + settings.CodEmpresa + settings.SufijoBase + ".MDB";
  if (!file_matches(settings.RutaBase)) {
    state.TextoErrores = "No existe la base de datos: " + settings.RutaBase;
    prc_Final();
  }

  // A failure inside the lookup leaves the company record without a value.
  ignoring_failure([&] {
    state.RegistroEmpresa = db::LeerRegistro("F_EMP", settings.RutaBase, {{"CODEMP", db::Value(settings.CodEmpresa)}});
  });
  window.do_events();
}

}  // namespace kavelo

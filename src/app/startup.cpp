#include "app/startup.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "app/connection_file.h"
#include "app/reports.h"
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

bool start_run(Run& run, const std::string& connection_file) {
  RunSettings& settings = run.settings;
  Window& window = run.window;

  window.set_caption(product::kTitle);
  settings.connection_file = connection_file;
  if (settings.connection_file.empty()) {
    run.error_text = "Debe indicar el parametro con el nombre del archivo de conexión.";
    return false;
  }
  if (!file_matches(settings.connection_file)) {
    run.error_text = "No es posible abrir el archivo: " + settings.connection_file;
    return false;
  }
  try {
    read_connection_file(settings.connection_file, settings);
  } catch (const Failure& failed) {
    // The reports go to line 1 as far as it was read, untouched.
    run.error_text = failed.description() + " (" + settings.connection_file + ")";
    return false;
  }
  settings.interchange_dir = as_folder(settings.interchange_dir);

  ignoring_failure([&] { delete_file(settings.interchange_dir + "ERRORES.TXT"); });
  ignoring_failure([&] { delete_file(settings.interchange_dir + "FINAL.TXT"); });
  // Without its reports the caller cannot learn what the run did, and a
  // caller that runs it again would number and post its journal entries a
  // second time: a folder that cannot take them ends the run before anything
  // is imported (and before the window shows). So does a report's place that
  // something else (a folder) still takes.
  if (!folder_takes_reports(settings.interchange_dir) || exists(settings.interchange_dir + "ERRORES.TXT") ||
      exists(settings.interchange_dir + "FINAL.TXT")) {
    run.error_text = "No es posible escribir en la carpeta de intercambio: " + settings.interchange_dir;
    return false;
  }
  // So does a JSON summary that could not be written: an earlier one is
  // deleted with the reports.
  if (!run.summary_json.empty()) {
    ignoring_failure([&] { delete_file(run.summary_json); });
    if (!place_takes_report(run.summary_json) || exists(run.summary_json)) {
      run.error_text = "No es posible escribir el resumen JSON: " + run.summary_json;
      return false;
    }
  }

  settings.data_dir = as_folder(settings.data_dir);
  settings.company_code = trim_blanks(settings.company_code);
  settings.database_suffix = trim_blanks(settings.database_suffix);

  window.set_caption(settings.caption);
  window.set_label(Label::first_caption, settings.label1);
  window.set_label(Label::second_caption, settings.label2);
  window.set_label(Label::progress, "Procesando");
  window.do_events();

  settings.database_path = settings.data_dir + settings.company_code + settings.database_suffix + ".MDB";
  if (!file_matches(settings.database_path)) {
    run.error_text = "No existe la base de datos: " + settings.database_path;
    return false;
  }

  // A failure inside the lookup leaves the company record without a value;
  // giving up opening the database ends the run.
  db::Store& store = run.database("error en apertura de base de datos", true);
  ignoring_failure([&] {
    const db::Table& companies = store.table("F_EMP");
    auto row = store.find(companies, companies.key({"CODEMP"}), {db::Value(settings.company_code)});
    const int levels = companies.find("FRMEMP");
    if (row && levels >= 0) run.company_levels = (*row)[static_cast<std::size_t>(levels)];
  });
  // The lock is not held while the window waits to start the imports.
  ignoring_failure([&] { run.commit(); });
  window.do_events();
  return true;
}

}  // namespace kavelo

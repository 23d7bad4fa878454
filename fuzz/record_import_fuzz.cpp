// Whole records through the importers into a company database on a memory
// file system: any bytes give stored rows or well-formed error lines, and the
// database stays sound.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/company_database.h"
#include "import/journal/journal_import.h"
#include "import/master/master_descriptions.h"
#include "import/vat/vat_descriptions.h"
#include "interchange/run.h"
#include "platform/regional.h"
#include "platform/window.h"

namespace {

struct Importer {
  const char* file;
  const char* label;
  void (*import)(kavelo::Run&);
};

constexpr Importer kImporters[] = {
    {"MAE.TXT", "Maestro: (", [](kavelo::Run& r) { import_file(r, kavelo::accounts_description()); }},
    {"CLI.TXT", "Clientes: (", [](kavelo::Run& r) { import_file(r, kavelo::customers_description()); }},
    {"PRO.TXT", "Proveedores: (", [](kavelo::Run& r) { import_file(r, kavelo::suppliers_description()); }},
    {"APU.TXT", "Apuntes: (", kavelo::import_journal},
    {"IVR.TXT", "IVA/IGIC repercutido: (", [](kavelo::Run& r) { import_file(r, kavelo::output_vat_description()); }},
    {"IVS.TXT", "IVA/IGIC soportado: (", [](kavelo::Run& r) { import_file(r, kavelo::input_vat_description()); }},
};

// The run of every input: one company database, opened once.
kavelo::Run& fuzz_run() {
  static const std::unique_ptr<kavelo::Window> window = kavelo::make_terminal_window();
  static kavelo::Run run(*window, kavelo::RegionalSettings::spanish(), false);
  static const bool prepared = [] {
    std::filesystem::path dir = std::filesystem::exists("/dev/shm") ? "/dev/shm" : "/tmp";
    dir /= "kavelo-import-fuzz-" + std::to_string(getpid());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::string database = (dir / "FUZZ01.MDB").string();
    kavelo::db::create_company_database(database);
    kavelo::db::run_sql_script(database,
                               "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('FUZZ', 'Fuzz', '1101001');"
                               "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, 0);"
                               "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'General', 1);");
    run.settings.interchange_dir = dir.string() + "/";
    run.settings.database_path = database;
    run.settings.separator = "|";
    run.company_levels = kavelo::db::Value("1101001");
    return true;
  }();
  (void)prepared;
  return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  kavelo::Run& run = fuzz_run();
  if (size < 1) return 0;
  const Importer& importer = kImporters[data[0] % 6];
  std::string path = run.settings.interchange_dir + importer.file;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  run.error_text.clear();
  run.summaries.clear();
  importer.import(run);
  // At most one error line, with the importer's label, ended by CR LF.
  const std::string& errors = run.error_text;
  if (!errors.empty()) {
    if (!errors.starts_with(importer.label) || !errors.ends_with("\r\n")) std::abort();
    if (errors.find("\r\n") != errors.size() - 2) std::abort();
  }
  return 0;
}

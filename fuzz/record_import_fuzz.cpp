// Whole records through the importers into a company database on a memory
// file system: any bytes give stored rows or well-formed error lines, and the
// database stays sound.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/company_database.h"
#include "db/engine.h"
#include "import/journal/journal_import.h"
#include "import/master/master_imports.h"
#include "import/vat/vat_imports.h"
#include "interchange/run.h"
#include "platform/regional.h"

namespace {

struct Importer {
  const char* file;
  const char* label;
  void (*procedure)();
};

constexpr Importer kImporters[] = {
    {"MAE.TXT", "Maestro: (", kavelo::prc_MAE},
    {"CLI.TXT", "Clientes: (", kavelo::prc_CLI},
    {"PRO.TXT", "Proveedores: (", kavelo::prc_PRO},
    {"APU.TXT", "Apuntes: (", kavelo::prc_APU},
    {"IVR.TXT", "IVA/IGIC repercutido: (", kavelo::prc_IVR},
    {"IVS.TXT", "IVA/IGIC soportado: (", kavelo::prc_IVS},
};

std::string prepare_company() {
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
  kavelo::RunState& state = kavelo::run();
  state.settings.interchange_dir = dir.string() + "/";
  state.settings.database_path = database;
  state.settings.separator = "|";
  kavelo::db::Row company;
  company.add("CODEMP", kavelo::db::Value("FUZZ"));
  company.add("FRMEMP", kavelo::db::Value("1101001"));
  state.RegistroEmpresa = company;
  kavelo::set_regional(kavelo::RegionalSettings::spanish());
  return state.settings.interchange_dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static const std::string folder = prepare_company();
  if (size < 1) return 0;
  const Importer& importer = kImporters[data[0] % 6];
  std::string path = folder + importer.file;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  kavelo::RunState& state = kavelo::run();
  state.error_text.clear();
  importer.procedure();
  // At most one error line, with the importer's label, ended by CR LF.
  const std::string& errors = state.error_text;
  if (!errors.empty()) {
    if (!errors.starts_with(importer.label) || !errors.ends_with("\r\n")) std::abort();
    if (errors.find("\r\n") != errors.size() - 2) std::abort();
  }
  kavelo::db::Engine::instance().commit();
  return 0;
}

#include "sample_data.h"

#include <charconv>
#include <fstream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <system_error>

#include "platform/codepage.h"
#include "sample_chart.h"
#include "sample_format.h"
#include "sample_journal.h"
#include "sample_parties.h"
#include "sample_tables.h"
#include "sample_vat.h"

namespace kavelo::sample {
namespace {

void check_options(const Options& o) {
  if (o.records < 2) throw std::invalid_argument("el número de registros debe ser al menos 2");
  if (o.records > 1000000000) throw std::invalid_argument("el número de registros no puede pasar de 1000000000");
}

}  // namespace

const std::vector<std::string_view>& interchange_file_names() {
  static const std::vector<std::string_view> names = {"MAE.TXT", "CLI.TXT", "PRO.TXT",
                                                      "APU.TXT", "IVR.TXT", "IVS.TXT"};
  return names;
}

std::string level_mask(std::int64_t records) {
  std::string mask(static_cast<std::size_t>(account_length(records)), '0');
  mask[0] = mask[1] = mask[3] = mask.back() = '1';
  return mask;
}

void write_interchange_file(std::string_view file_name, const Options& options, std::ostream& out) {
  check_options(options);
  if (file_name == "MAE.TXT") write_chart(options, out);
  else if (file_name == "CLI.TXT") write_parties(PartyKind::Customer, options, out);
  else if (file_name == "PRO.TXT") write_parties(PartyKind::Supplier, options, out);
  else if (file_name == "APU.TXT") write_journal(options, out);
  else if (file_name == "IVR.TXT") write_vat_register(true, options, out);
  else if (file_name == "IVS.TXT") write_vat_register(false, options, out);
  else throw std::invalid_argument("archivo de intercambio desconocido: " + std::string(file_name));
}

std::string company_sql(const Options& options) {
  const int counter = options.numbering == Numbering::Journal ? 0 : 1;
  const int by_date = options.numbering == Numbering::Date ? 1 : 0;
  return "-- The sample company: its record with the level mask, the numbering\n"
         "-- settings and its journals. Load it with kavelo-db sql into a database\n"
         "-- that kavelo-db create made.\n"
         "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('" +
         std::string(kCompanyCode) + "', '" + cp1252_to_utf8(words().company_name) + "', '" +
         level_mask(options.records) +
         "');\n"
         "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, " +
         number(counter) + ", " + number(by_date) +
         ");\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'Diario general', 1);\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (2, 'Diario de ventas', 1);\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (3, 'Diario de compras', 1);\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (4, 'Diario de nóminas', 1);\n";
}

std::string connection_file(const std::filesystem::path& dir, const Options& options) {
  std::string folder = dir.generic_string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  const std::string folder_1252 = utf8_to_cp1252(folder);
  if (cp1252_to_utf8(folder_1252) != folder)
    throw std::runtime_error("La ruta '" + folder + "' no se puede escribir en Windows-1252.");
  const std::string lines[] = {
      folder_1252,
      folder_1252 + "datos/",
      std::string(kCompanyCode),
      std::string(kDatabaseSuffix),
      "|",
      to1252("Doveduzi Kavelo — datos de muestra"),
      words().company_name,
      to1252("Importación de muestra: ") + number(options.records) + to1252(" registros por archivo, semilla ") +
          std::to_string(options.seed),
  };
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

void write_sample(const std::filesystem::path& dir, const Options& options) {
  check_options(options);
  const std::filesystem::path folder = std::filesystem::absolute(dir);
  std::error_code ec;
  std::filesystem::create_directories(folder / "datos", ec);
  if (ec) throw std::runtime_error("No se puede crear la carpeta '" + (folder / "datos").string() + "': " + ec.message());

  auto write = [&](const std::string& name, auto&& fill) {
    const std::filesystem::path path = folder / name;
    auto buffer = std::make_unique<char[]>(1 << 20);
    std::ofstream out;
    out.rdbuf()->pubsetbuf(buffer.get(), 1 << 20);
    out.open(path, std::ios::binary | std::ios::trunc);
    if (out) fill(out);
    out.close();
    if (!out) throw std::runtime_error("No se puede escribir el archivo '" + path.string() + "'.");
  };
  for (std::string_view name : interchange_file_names())
    write(std::string(name), [&](std::ostream& out) { write_interchange_file(name, options, out); });
  write(std::string(kConnectionFileName), [&](std::ostream& out) { out << connection_file(folder, options); });
  write(std::string(kCompanySqlName), [&](std::ostream& out) { out << company_sql(options); });
}

int run_sample_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  constexpr const char* usage =
      "Uso: kavelo-db sample CARPETA [--records N] [--seed S] [--numbering counter|date|journal]\n";
  if (args.size() < 2 || args.size() % 2 != 0) {
    err << usage;
    return 2;
  }
  Options options;
  auto whole = [](const std::string& text, auto& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
  };
  for (std::size_t i = 2; i < args.size(); i += 2) {
    const std::string& option = args[i];
    const std::string& value = args[i + 1];
    bool good = true;
    if (option == "--records") good = whole(value, options.records);
    else if (option == "--seed") good = whole(value, options.seed);
    else if (option == "--numbering") {
      if (value == "counter") options.numbering = Numbering::Counter;
      else if (value == "date") options.numbering = Numbering::Date;
      else if (value == "journal") options.numbering = Numbering::Journal;
      else good = false;
    } else good = false;
    if (!good) {
      err << "kavelo-db sample: valor no válido para " << option << ": " << value << '\n' << usage;
      return 2;
    }
  }
  try {
    check_options(options);
  } catch (const std::invalid_argument& e) {
    err << "kavelo-db sample: " << e.what() << '\n';
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::absolute(args[1]);
  write_sample(dir, options);
  const std::string database =
      (dir / "datos" / (std::string(kCompanyCode) + std::string(kDatabaseSuffix) + ".MDB")).string();
  out << "Datos de muestra en " << dir.string() << ": " << options.records << " registros por archivo.\n"
      << "Para importarlos:\n"
      << "  kavelo-db create " << database << '\n'
      << "  kavelo-db sql " << database << ' ' << (dir / kCompanySqlName).string() << '\n'
      << "  kavelo " << (dir / kConnectionFileName).string() << '\n';
  return 0;
}

}  // namespace kavelo::sample

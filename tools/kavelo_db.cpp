// kavelo-db: makes company databases with the reference schema and fills them
// with SQL, for the demo, the tests and anyone setting up a company by hand.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/company_database.h"
#include "platform/product.h"

namespace {

constexpr const char* kUsage =
    "Uso: kavelo-db create RUTA        crea una base de datos de empresa nueva (no sobrescribe)\n"
    "     kavelo-db sql RUTA ARCHIVO   ejecuta las sentencias SQL de ARCHIVO (\"-\": la entrada\n"
    "                                  estándar) en una sola transacción\n"
    "     kavelo-db count RUTA         escribe \"TABLA filas\" por cada tabla\n"
    "     kavelo-db --help | --version\n";

std::string read_script(const std::string& file) {
  if (file == "-") return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  std::ifstream in(file, std::ios::binary);
  std::string text;
  if (in && !std::filesystem::is_directory(file)) text.assign(std::istreambuf_iterator<char>(in), {});
  if (!in || in.bad() || std::filesystem::is_directory(file))
    throw std::runtime_error("No se puede leer el archivo '" + file + "'.");
  return text;
}

int run(const std::vector<std::string>& args) {
  const std::string verb = args.empty() ? "" : args[0];
  if (args.size() == 1 && verb == "--help") {
    std::cout << kUsage;
  } else if (args.size() == 1 && verb == "--version") {
    std::cout << "kavelo-db " << kavelo::product::kVersionMajor << '.' << kavelo::product::kVersionMinor << '\n';
  } else if (args.size() == 2 && verb == "create") {
    kavelo::db::create_company_database(args[1]);
  } else if (args.size() == 3 && verb == "sql") {
    kavelo::db::run_sql_script(args[1], read_script(args[2]));
  } else if (args.size() == 2 && verb == "count") {
    for (const auto& [table, rows] : kavelo::db::count_rows(args[1])) std::cout << table << ' ' << rows << '\n';
  } else {
    std::cerr << kUsage;
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "kavelo-db: " << e.what() << '\n';
    return 1;
  }
}

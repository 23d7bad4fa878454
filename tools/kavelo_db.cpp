// kavelo-db: makes company databases with the reference schema and fills them
// with SQL, and checks their balances, for the demo, the tests and anyone
// setting up a company by hand.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>

#include "db/company_database.h"
#include "db/pg/pg_admin.h"
#include "db/store_location.h"
#include "import/journal/balance_invariant.h"
#include "platform/product.h"
#include "sample_data.h"
#include "schema_check.h"
#include "schema_check_server.h"

namespace {

constexpr const char* kUsage =
    "Uso: kavelo-db create RUTA        crea una base de datos de empresa nueva (no sobrescribe)\n"
    "     kavelo-db create \"ODBC;CADENA\"\n"
    "                                  crea el esquema de referencia en la base de datos\n"
    "                                  PostgreSQL vacía de la cadena de conexión CADENA\n"
    "     kavelo-db sql RUTA ARCHIVO   ejecuta las sentencias SQL de ARCHIVO (\"-\": la entrada\n"
    "                                  estándar) en una sola transacción\n"
    "     RUTA puede ser un archivo de enlace a una base de datos de servidor (su primera\n"
    "     línea: ODBC;CADENA); sql, count y check aceptan también \"ODBC;CADENA\"\n"
    "     kavelo-db count RUTA         escribe \"TABLA filas\" por cada tabla\n"
    "     kavelo-db verify RUTA [--baseline COPIA] [--company CODIGO]\n"
    "                                  comprueba que los saldos de F_SAL son lo que tenían en\n"
    "                                  COPIA (una copia de antes de importar) más los importes\n"
    "                                  de los apuntes guardados desde entonces; estado 3 si no\n"
    "     kavelo-db check RUTA [--company CODIGO]\n"
    "                                  comprueba que kavelo puede importar en la base de datos:\n"
    "                                  tablas, columnas y claves, empresa y niveles, numeración,\n"
    "                                  diarios y columnas de saldos; estado 3 si algo falla\n"
    "     kavelo-db balances RUTA CUENTA...\n"
    "                                  escribe los saldos mensuales de esas cuentas\n"
    "     kavelo-db sample CARPETA [--records N] [--seed S] [--numbering counter|date|journal]\n"
    "                                  escribe datos de muestra de una empresa: los seis archivos\n"
    "                                  de intercambio, kavelo.conn y company.sql\n"
    "     kavelo-db --help | --version\n";

// verify RUTA [--baseline COPIA] [--company CODIGO]
int verify(const std::vector<std::string>& args) {
  std::optional<std::string> baseline, company;
  for (std::size_t i = 2; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return -1;
    if (args[i] == "--baseline" && !baseline) baseline = args[i + 1];
    else if (args[i] == "--company" && !company) company = args[i + 1];
    else return -1;
  }
  kavelo::BalanceCheck result = kavelo::check_balances(args[1], baseline, company);
  for (const std::string& mismatch : result.mismatches) std::cout << mismatch << '\n';
  if (!result.ok()) {
    std::cout << "Saldos incorrectos: " << result.mismatches.size() << " diferencias.\n";
    return 3;
  }
  std::cout << "Saldos correctos: " << result.lines << " apuntes, " << result.rows << " filas de saldos.\n";
  return 0;
}

// balances RUTA CUENTA...: per account, journal, month and side, the two totals.
void balances(const std::vector<std::string>& args) {
  auto all = kavelo::read_balances(args[1]);
  for (std::size_t i = 2; i < args.size(); ++i) {
    std::string account = args[i];
    for (char& c : account) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // journal, month, side -> pesetas (P), euros (E)
    std::map<std::tuple<int, int, std::string>, std::pair<kavelo::Currency, kavelo::Currency>> totals;
    for (const auto& [key, amount] : all) {
      auto column = kavelo::monthly_column(key.column);
      if (key.account != account || !column || amount == kavelo::Currency{}) continue;
      auto& pair = totals[{key.journal, column->month, column->side}];
      (column->kind == 'P' ? pair.first : pair.second) = amount;
    }
    std::cout << "Cuenta " << args[i] << (totals.empty() ? ": sin saldos\n" : "\n");
    if (totals.empty()) continue;
    std::cout << fmt::format("  {:>6} {:>4} {:<4} {:>14} {:>14}\n", "diario", "mes", "lado", "euros", "pesetas");
    for (const auto& [key, pair] : totals)
      std::cout << fmt::format("  {:>6} {:>4} {:<4} {:>14} {:>14}\n", std::get<0>(key), std::get<1>(key),
                               std::get<2>(key), kavelo::format_amount(pair.second), kavelo::format_amount(pair.first));
  }
}

// The connection string an argument names: "ODBC;..." itself, or a link file
// at a company's database path. nullopt for a database file.
std::optional<std::string> server_database(const std::string& argument) {
  std::string prefix = argument.substr(0, 5);
  for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (prefix == "ODBC;") return argument.substr(5);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(argument, ec)) return std::nullopt;
  kavelo::db::StoreLocation location = kavelo::db::locate_store(argument);
  if (location.kind != kavelo::db::StoreLocation::Kind::Server) return std::nullopt;
  return location.connection_string;
}

// check RUTA [--company CODIGO]: RUTA a database file, a link file or
// "ODBC;" and a connection string.
int check(const std::vector<std::string>& args) {
  std::optional<std::string> company;
  for (std::size_t i = 2; i < args.size(); i += 2) {
    if (i + 1 >= args.size() || args[i] != "--company" || company) return -1;
    company = args[i + 1];
  }
  auto server = server_database(args[1]);
  std::vector<kavelo::check::CheckResult> results = server ? kavelo::check::check_server_database(*server, company)
                                                           : kavelo::check::check_company_database(args[1], company);
  std::size_t failed = 0;
  for (const kavelo::check::CheckResult& result : results) {
    std::cout << kavelo::check::checklist_line(result) << '\n';
    if (!result.ok) ++failed;
  }
  if (failed == 0) {
    std::cout << "Todo correcto: kavelo puede importar en esta base de datos.\n";
    return 0;
  }
  std::cout << (failed == 1 ? std::string("1 comprobación fallida.\n")
                            : fmt::format("{} comprobaciones fallidas.\n", failed));
  return 3;
}

std::string read_script(const std::string& file) {
  if (file == "-") return {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  std::ifstream in(file, std::ios::binary);
  std::string text;
  if (in && !std::filesystem::is_directory(file)) text.assign(std::istreambuf_iterator<char>(in), {});
  if (!in || in.bad() || std::filesystem::is_directory(file))
    throw std::runtime_error("No se puede leer el archivo '" + file + "'.");
  return text;
}

// The first argument after the verb that begins with "--" and is none of the
// verb's options, if any: an option it does not know is refused rather than
// taken as a path or a name (sample --help must not write into "--help").
std::optional<std::string> unknown_option(const std::vector<std::string>& args) {
  static const std::map<std::string, std::set<std::string>> kOptions = {
      {"verify", {"--baseline", "--company"}},
      {"check", {"--company"}},
      {"sample", {"--records", "--seed", "--numbering"}},
  };
  const auto options = kOptions.find(args[0]);
  for (std::size_t i = 1; i < args.size(); ++i) {
    // The verb's path or folder comes first, and is no option.
    const bool known = i > 1 && options != kOptions.end() && options->second.contains(args[i]);
    if (args[i].starts_with("--") && !known) return args[i];
  }
  return std::nullopt;
}

int run(const std::vector<std::string>& args) {
  const std::string verb = args.empty() ? "" : args[0];
  if (!args.empty() && !verb.starts_with("--")) {
    if (auto option = unknown_option(args)) {
      std::cerr << "kavelo-db " << verb << ": opción desconocida: " << *option << '\n' << kUsage;
      return 2;
    }
  }
  if (args.size() == 1 && verb == "--help") {
    std::cout << kUsage;
  } else if (args.size() == 1 && verb == "--version") {
    std::cout << "kavelo-db " << kavelo::product::kVersionMajor << '.' << kavelo::product::kVersionMinor << '\n';
  } else if (args.size() == 2 && verb == "create") {
    // "ODBC;" and a connection string name a database on a server.
    std::string prefix = args[1].substr(0, 5);
    for (char& c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (prefix == "ODBC;")
      kavelo::db::pg::create_server_company(args[1].substr(5));
    else
      kavelo::db::create_company_database(args[1]);
  } else if (args.size() == 3 && verb == "sql") {
    if (auto server = server_database(args[1]))
      kavelo::db::pg::run_server_script(*server, read_script(args[2]));
    else
      kavelo::db::run_sql_script(args[1], read_script(args[2]));
  } else if (args.size() == 2 && verb == "count") {
    auto server = server_database(args[1]);
    for (const auto& [table, rows] : server ? kavelo::db::pg::count_server_rows(*server) : kavelo::db::count_rows(args[1]))
      std::cout << table << ' ' << rows << '\n';
  } else if (args.size() >= 2 && verb == "verify") {
    int status = verify(args);
    if (status >= 0) return status;
    std::cerr << kUsage;
    return 2;
  } else if (args.size() >= 2 && verb == "check") {
    int status = check(args);
    if (status >= 0) return status;
    std::cerr << kUsage;
    return 2;
  } else if (args.size() >= 3 && verb == "balances") {
    balances(args);
  } else if (args.size() >= 2 && verb == "sample") {
    return kavelo::sample::run_sample_command(args, std::cout, std::cerr);
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

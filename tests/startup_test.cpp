// Start-up, the reports and the end of a run through the real program: the
// command line, the connection file and every fatal condition of start-up,
// seen in the reports and the exit status; the check run and the run summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

// What a run left in a folder besides the interchange files, sorted.
std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename();
    if (std::ranges::find(kInterchangeFiles, name) == std::end(kInterchangeFiles)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    for (const std::string& dir : {inter, data, cwd}) make_dir(dir);
    for (const char* name : kInterchangeFiles) write_bytes(inter + "/" + name, "");  // nothing to import
  }

  RunResult kavelo(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), bin_path("kavelo"));
    return run_program(arguments, cwd);
  }

  TempDir tmp;
  const std::string inter = tmp / "inter";
  const std::string data = tmp / "datos";
  const std::string cwd = tmp / "cwd";
};

// Start-up after start-up in the same folders, each after an earlier run's
// reports. A clean one leaves FINAL.TXT alone in their place. A failed one
// ends with its reports: the error report holds the one line, the final report
// is there, and nothing else is left behind (no temporary report). Before the
// connection file is read the reports go to the current folder; a connection
// file that ends early names them after its line 1 as read (its blank kept, no
// "/" added). Nothing is written on stdout.
TEST_F(StartupTest, EachStartUpEndsWithItsReportsWhereTheyBelong) {
  make_company(data, "EMP", "01");
  // Company EMP is there, ABC is not.
  const std::vector<std::string> emp = connection_lines(inter, data, "EMP", "01"),
                                 abc = connection_lines(inter, data, "ABC", "01");
  // A connection file tmp/name of `lines`, then the bytes of `tail`.
  const auto file = [&](const std::string& name, const std::vector<std::string>& lines,
                        const std::string& line_end = "\r\n", const std::string& tail = "") {
    write_connection_file(tmp / name, lines, line_end);
    write_bytes(tmp / name, read_bytes(tmp / name) + tail);
    return tmp / name;
  };
  // One whose lines 2 to 4, which make up the database path, are these.
  int files = 0;
  const auto naming = [&](const std::string& data_dir, const std::string& code, const std::string& suffix) {
    return file("ruta" + std::to_string(++files) + ".txt", connection_lines(inter, data_dir, code, suffix));
  };
  file("conn1.txt", abc);
  file("mi conexion.txt", emp);
  make_dir(tmp / "carpeta.txt");
  write_bytes(tmp / "vacio.txt", "");
  write_bytes(data + "/XYZ01.MDB", "esto no es una base de datos\r\n");
  std::vector<std::string> seven = connection_lines(inter + "/x ", data, "ABC", "01");
  seven.pop_back();
  struct Case {
    std::vector<std::string> args;
    std::string reports, error;  // the reports' folder and the start of their names; "" for no error
  };
  const std::string no_file = "No es posible abrir el archivo: ", at_cwd = cwd + "/", at_inter = inter + "/";
  const std::string no_database = "No existe la base de datos: ";
  const Case cases[] = {
      // Clean: brackets are no wildcards, arguments joined by one blank are one
      // path, the interchange folder's line is trimmed, lines may end in CR
      // alone, and lines after the eighth are not read.
      {{file("emp[1].txt", emp)}, at_inter, ""},
      {{tmp / "mi", "conexion.txt"}, at_inter, ""},
      {{file("blancos.txt", connection_lines("  " + inter + " ", data, "EMP", "01"))}, at_inter, ""},
      {{file("cr.txt", emp, "\r")}, at_inter, ""},
      {{file("largo.txt", emp, "\r\n", "l\xednea de m\xe1s\r\n\xff\xfe sin fin de l\xednea")}, at_inter, ""},
      {{}, at_cwd, "Debe indicar el parametro con el nombre del archivo de conexión."},
      {{tmp / "nada.txt"}, at_cwd, no_file + tmp / "nada.txt"},
      // Quotes are part of the name.
      {{"\"" + tmp / "conn1.txt" + "\""}, at_cwd, no_file + "\"" + tmp / "conn1.txt" + "\""},
      // A folder is no file.
      {{tmp / "carpeta.txt"}, at_cwd, no_file + tmp / "carpeta.txt"},
      {{tmp / "carp*.txt"}, at_cwd, no_file + tmp / "carp*.txt"},
      // Only "*" and "?" are wildcards, and one that matches a file is opened
      // by its own name.
      {{tmp / "conn[1].txt"}, at_cwd, no_file + tmp / "conn[1].txt"},
      {{tmp / "conn?.txt"}, at_cwd, "Nombre o número de archivo incorrecto (" + tmp / "conn?.txt" + ")"},
      {{tmp / "vacio.txt"}, at_cwd, "La entrada ha sobrepasado el final del archivo (" + tmp / "vacio.txt" + ")"},
      {{file("corto.txt", seven)}, inter + "/x ",
       "La entrada ha sobrepasado el final del archivo (" + tmp / "corto.txt" + ")"},
      // An argument is an option only when it comes first and is one of ours;
      // all after it make up the path.
      {{"--helpme", "x"}, at_cwd, no_file + "--helpme x"},
      {{"x", "--check"}, at_cwd, no_file + "x --check"},
      {{"--check", tmp / "dos", "partes.txt"}, at_cwd, no_file + tmp / "dos partes.txt"},
      {{file("conexion.txt", abc)}, at_inter, no_database + data + "/ABC01.MDB"},
      // The database path as lines 2 to 4 make it up, seen in the message.
      {{naming("  " + data + " ", " ABC ", " 01 ")}, at_inter, no_database + data + "/ABC01.MDB"},
      {{naming(data + "/", "ABC", "01")}, at_inter, no_database + data + "/ABC01.MDB"},
      {{naming("", "ABC", "01")}, at_inter, no_database + "/ABC01.MDB"},
      {{naming(data, "ABC", "   ")}, at_inter, no_database + data + "/ABC.MDB"},
      // Blanks are spaces only: a tab stays.
      {{naming(data, "\tABC", "01\t")}, at_inter, no_database + data + "/\tABC01\t.MDB"},
      // A lone LF does not end a line.
      {{naming(data, "ABC", "0\n1")}, at_inter, no_database + data + "/ABC0\n1.MDB"},
      {{naming(data, "CAÑA", "01")}, at_inter, no_database + data + "/CAÑA01.MDB"},
      {{naming(data, "XYZ", "01")}, at_inter, "error en apertura de base de datos"},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE((c.args.empty() ? "" : c.args[0]) + ": " + c.error);
    const std::string folder = c.reports.substr(0, c.reports.rfind('/')), name = c.reports.substr(folder.size() + 1);
    write_bytes(c.reports + "ERRORES.TXT", "viejo\r\n");
    write_bytes(c.reports + "FINAL.TXT", "viejo\r\n");
    const RunResult result = kavelo(c.args);
    EXPECT_EQ(result.exit_status, c.error.empty() ? 0 : 1) << result.err;
    EXPECT_EQ(result.out, "");
    std::vector<std::string> left{name + "FINAL.TXT"};
    if (!c.error.empty()) {
      EXPECT_EQ(read_bytes(c.reports + "ERRORES.TXT"), cp1252(c.error + "\r\n"));
      left.insert(left.begin(), name + "ERRORES.TXT");
    }
    EXPECT_EQ(read_bytes(c.reports + "FINAL.TXT"), expected_final_txt());
    EXPECT_EQ(names_in(folder), left);
    for (const char* report : {"ERRORES.TXT", "FINAL.TXT"}) std::filesystem::remove(c.reports + report);
  }

  // No report at all after --help or --version, nor after a run whose
  // interchange folder cannot take its reports: that one tells on stderr.
  const RunResult help = kavelo({"--help"}), version = kavelo({"--version", "x"});
  for (const RunResult& r : {help, version}) EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_TRUE(help.out.starts_with("Uso: kavelo ")) << help.out;
  EXPECT_EQ(version.out, "kavelo 1.0\n");
  const RunResult lost = kavelo({file("perdida.txt", connection_lines(tmp / "no-existe", data, "EMP", "01"))});
  EXPECT_EQ(lost.exit_status, 2);
  EXPECT_NE(lost.err.find(tmp / "no-existe/ERRORES.TXT"), std::string::npos) << lost.err;
  EXPECT_FALSE(exists(tmp / "no-existe"));
  EXPECT_EQ(names_in(cwd), std::vector<std::string>{});
}

// kavelo's own options come before the connection file in any order; one
// that is not valid (or not alone, as --help) ends the process with the usage
// and no report. The JSON summary is written for a run that ends at start-up,
// also when its reports could not be, and one that cannot be written ends
// the run at start-up as a report would.
TEST_F(StartupTest, OptionsBeforeTheConnectionFileAndTheJsonSummary) {
  make_company(data, "EMP", "01");
  const std::string conn = tmp / "conexion.txt", json_file = tmp / "resumen.json";
  write_connection_file(conn, connection_lines(inter, data, "EMP", "01"));
  const std::vector<std::vector<std::string>> refused = {
      {"--all-errors", conn},       {"--summary-json"},           {"--check", "--summary-json", ""},
      {"--check", "--help", conn},  {"--match-guid", "--version"}, {"--summary-json", "a", "--summary-json", "b", conn},
      {"--all-errors", "--match-guid", conn},
  };
  for (const std::vector<std::string>& args : refused) {
    SCOPED_TRACE(testing::PrintToString(args));
    const RunResult result = kavelo(args);
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(result.err.starts_with("kavelo: ")) << result.err;
    EXPECT_NE(result.err.find("\nUso: kavelo "), std::string::npos) << result.err;
    EXPECT_EQ(names_in(cwd), std::vector<std::string>{});
    EXPECT_EQ(names_in(inter), std::vector<std::string>{});
  }

  const auto summary_of = [&](const std::vector<std::string>& args, int status) {
    std::filesystem::remove(json_file);
    const RunResult result = kavelo(args);
    EXPECT_EQ(result.exit_status, status) << result.err;
    for (const std::string& dir : {cwd, inter})
      for (const char* report : {"/ERRORES.TXT", "/FINAL.TXT"}) std::filesystem::remove(dir + report);
    return nlohmann::json::parse(read_bytes(json_file));
  };
  // A check run, options in any order.
  nlohmann::json summary = summary_of({"--summary-json", json_file, "--match-guid", "--check", conn}, 0);
  EXPECT_EQ(summary["check"], true);
  EXPECT_EQ(summary["all_errors"], false);
  EXPECT_EQ(summary["ended"], "no_errors");
  EXPECT_EQ(summary["exit_status"], 0);
  EXPECT_EQ(summary["errors"], nlohmann::json::array());
  ASSERT_EQ(summary["files"].size(), 6u);
  EXPECT_EQ(summary["files"][3]["name"], "APU.TXT");
  // After the options, everything is the path, an option's name included.
  summary = summary_of({"--summary-json", json_file, "--check", tmp / "nada.txt", "--check"}, 1);
  EXPECT_EQ(summary["ended"], "errors_reported");
  EXPECT_EQ(summary["files"], nlohmann::json::array());
  EXPECT_EQ(summary["errors"], nlohmann::json::array({"No es posible abrir el archivo: " + tmp / "nada.txt --check"}));
  // Reports that cannot be written, and a summary that still can.
  const std::string lost = tmp / "perdida.txt";
  write_connection_file(lost, connection_lines(tmp / "no-existe", data, "EMP", "01"));
  summary = summary_of({"--summary-json", json_file, lost}, 2);
  EXPECT_EQ(summary["ended"], "reports_not_written");
  EXPECT_EQ(summary["exit_status"], 2);

  // A summary whose folder is missing, or whose place a folder takes: the
  // error report says so, nothing is imported, and the status is 2.
  make_dir(tmp / "carpeta.json");
  write_bytes(inter + "/MAE.TXT", cp1252("M001;430;Clientes\r\n"));
  for (const std::string& place : {tmp / "falta/resumen.json", tmp / "carpeta.json"}) {
    SCOPED_TRACE(place);
    const RunResult result = kavelo({"--summary-json", place, conn});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_NE(result.err.find(place), std::string::npos) << result.err;
    EXPECT_EQ(read_bytes(inter + "/ERRORES.TXT"), "No es posible escribir el resumen JSON: " + place + "\r\n");
    EXPECT_EQ(read_bytes(inter + "/FINAL.TXT"), expected_final_txt());
    EXPECT_EQ(values(data + "/EMP01.MDB", "SELECT COUNT(*) FROM F_MAE"), "0");
  }
  EXPECT_FALSE(exists(tmp / "falta"));
  EXPECT_EQ(names_in(tmp / "carpeta.json"), std::vector<std::string>{});
}

// A run's summary on stderr less its two columns of time, which differ from
// run to run, and less a check run's own line.
std::string summary(const RunResult& result) {
  std::string text;
  std::istringstream lines(result.err);
  const std::regex times(R"( +[0-9]+,[0-9]{2} +([0-9]+|-)$)");
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("Comprobación:")) text += std::regex_replace(line, times, "") + "\n";
  return text;
}

// A run's status, reports and summary.
std::string outcome(const std::string& dir, const RunResult& result) {
  return std::to_string(result.exit_status) + "\n" + read_bytes(dir + "/FINAL.TXT") +
         (exists(dir + "/ERRORES.TXT") ? read_bytes(dir + "/ERRORES.TXT") : "<none>\n") + summary(result);
}

// A check run writes the reports a real run writes and leaves the company
// database as it was, byte for byte: the sample company in each numbering
// mode with a record that stops the customers and a journal line that stops
// the journal near their ends, and a smaller one without errors.
TEST(CheckRun, WritesTheReportsOfARealRunAndLeavesTheDatabaseAsItWas) {
  const std::pair<const char*, bool> cases[] = {{"counter", true}, {"date", true}, {"journal", true}, {"counter", false}};
  for (const auto& [numbering, stopped] : cases) {
    SCOPED_TRACE(std::string(numbering) + (stopped ? " with errors" : ""));
    TempDir dir;
    ASSERT_EQ(kavelo_db({"sample", dir.path(), "--records", stopped ? "400" : "50", "--numbering", numbering}).exit_status,
              0);
    const std::string database = make_company(dir / "datos", "MUESTRA", "01", read_bytes(dir / "company.sql"));
    if (stopped) {
      write_bytes(dir / "CLI.TXT", read_bytes(dir / "CLI.TXT") + "C001|ZZZ|X\r\nX001|\r\n");
      write_bytes(dir / "APU.TXT", read_bytes(dir / "APU.TXT") + "A001|1|31/02/2011|0|1|\r\n");
    }
    const std::string before = read_bytes(database);

    const RunResult check = run_program({bin_path("kavelo"), "--check", dir / "kavelo.conn"});
    EXPECT_EQ(check.exit_status, stopped ? 1 : 0) << check.err;
    EXPECT_NE(check.err.find("\nComprobación: la base de datos de la empresa queda como estaba.\n"), std::string::npos)
        << check.err;
    const std::string checked = outcome(dir.path(), check);
    EXPECT_TRUE(read_bytes(database) == before) << "the check run changed the database";
    EXPECT_FALSE(exists(database + "-journal"));
    for (const char* report : {"FINAL.TXT", "ERRORES.TXT"}) std::filesystem::remove(dir / report);
    EXPECT_EQ(outcome(dir.path(), run_program({bin_path("kavelo"), dir / "kavelo.conn"})), checked);
    EXPECT_FALSE(read_bytes(database) == before) << "the real run stored nothing";
    EXPECT_EQ(kavelo_db({"verify", database}).exit_status, 0);
  }
}

// The summary counts what each file did and shows where a file stopped.
class RunSummary : public ImportScenario {};

std::string customer(const std::string& code, const std::string& cif, const std::string& retention = "0") {
  return record("C001", 52, {{2, code}, {6, cif}, {17, retention}});
}

TEST_F(RunSummary, CountsEachKindOfRecordAndShowsWhereAFileStopped) {
  file("CLI.TXT", {customer("C1", "B1"), customer("C0", "B0"), customer("C2", "B1"), customer("C3", "B3", "abc"),
                   customer("C4", "B4")});
  file("APU.TXT", {"A001;1;31/02/2011;0;1;430"});
  // A file that is not there stops before its first record.
  std::filesystem::remove(inter + "/PRO.TXT");
  // A company whose customers' tax codes are unique: C2 is refused as a duplicate.
  import("CREATE UNIQUE INDEX customer_tax_code ON F_CLI (CIFCLI);\n"
         "INSERT INTO F_CLI (CODCLI, NOMCLI, CIFCLI) VALUES ('C0', 'Antiguo', 'B0');\n");
  EXPECT_EQ(summary(last_run),
            "Archivo     Leídos  Añadidos Cambiados Duplicados  Segundos Registros/s\n"
            "MAE.TXT          0         0         0          0\n"
            "CLI.TXT          4         1         1          1\n"
            "  parado en el registro 4, campo 16 (RETCLI): No coinciden los tipos\n"
            "  registro: " + customer("C3", "B3", "abc").substr(0, 60) + "...\n"
            "PRO.TXT          0         0         0          0\n"
            "  parado antes del primer registro: No se encontró el archivo\n"
            "APU.TXT          1         0         0          0\n"
            "  parado en el registro 1, campo 02 (FECAPU): No coinciden los tipos\n"
            "  registro: A001;1;31/02/2011;0;1;430;\n"
            "IVR.TXT          0         0         0          0\n"
            "IVS.TXT          0         0         0          0\n"
            "Proceso terminado con errores: " + inter + "/ERRORES.TXT\n");
}

// A record undone is not counted: the second line's posting overflows the
// balance of the first, and the line goes with it.
TEST_F(RunSummary, CountsOnlyWhatStaysStored) {
  const auto huge = [](const char* entry) {
    return record("A001", 23, {{2, "1"}, {3, "15/03/2011"}, {4, entry}, {6, "4300001"}, {9, "D"},
                               {10, "500.000.000.000.000,00"}}, {20, 22});
  };
  file("APU.TXT", {huge("1"), huge("2")});
  EXPECT_EQ(import(), error_line("Apuntes: (", 2, "", "Desbordamiento"));
  EXPECT_EQ(rows("SELECT ASIAPU FROM F_APU"), std::vector<std::string>{"1"});
  EXPECT_NE(summary(last_run).find("\nAPU.TXT          2         1         0          0\n"), std::string::npos)
      << last_run.err;
}

}  // namespace
}  // namespace kavelo::test

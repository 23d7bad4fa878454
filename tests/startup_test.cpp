// Start-up, the reports and the end of a run, through the real program: every
// fatal condition of start-up, a clean start-up and the connection file's
// treatment, checked on the report bytes and the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "import_scenario.h"

namespace kavelo::test {
namespace {

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// What a run left in a folder besides the interchange files.
std::vector<std::string> reports_in(const std::string& dir) {
  std::vector<std::string> names = names_in(dir);
  std::erase_if(names, [](const std::string& name) {
    return std::find(std::begin(kInterchangeFiles), std::end(kInterchangeFiles), name) != std::end(kInterchangeFiles);
  });
  return names;
}

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    make_dir(inter);
    make_dir(data);
    make_dir(cwd);
    // Empty interchange files import nothing and report nothing.
    for (const char* name : kInterchangeFiles) write_bytes(inter + "/" + name, "");
  }

  RunResult kavelo(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{bin_path("kavelo")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_program(argv, cwd);
  }

  // The connection file of a company ABC, suffix 01, in the folders above.
  std::string connection_file(const std::vector<std::string>& lines) {
    write_connection_file(conn, lines);
    return conn;
  }
  std::vector<std::string> good_lines() const { return connection_lines(inter, data, "ABC", "01"); }

  // `errors` in UTF-8, as ERRORES.TXT holds it.
  static void expect_reports(const std::string& folder, const std::string& errors) {
    EXPECT_EQ(read_bytes(folder + "/ERRORES.TXT"), cp1252(errors + "\r\n"));
    EXPECT_EQ(read_bytes(folder + "/FINAL.TXT"), expected_final_txt());
    // Nothing else is left behind (no temporary report).
    EXPECT_EQ(reports_in(folder), (std::vector<std::string>{"ERRORES.TXT", "FINAL.TXT"}));
  }
  void expect_clean_run(const RunResult& result) const {
    EXPECT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(reports_in(inter), std::vector<std::string>{"FINAL.TXT"});
    EXPECT_EQ(read_bytes(inter + "/FINAL.TXT"), expected_final_txt());
  }

  TempDir tmp;
  const std::string inter = tmp / "inter";
  const std::string data = tmp / "datos";
  const std::string cwd = tmp / "cwd";
  const std::string conn = tmp / "conexion.txt";
};

TEST_F(StartupTest, WithoutArgumentReportsInTheCurrentFolder) {
  RunResult result = kavelo({});
  EXPECT_EQ(result.exit_status, 1);
  expect_reports(cwd, "Debe indicar el parametro con el nombre del archivo de conexión.");
}

TEST_F(StartupTest, ConnectionFileThatMatchesNoFile) {
  write_bytes(tmp / "conn1.txt", "");
  make_dir(tmp / "carpeta.txt");
  const std::vector<std::string> arguments = {
      tmp / "nada.txt",
      // Quotes are part of the name.
      "\"" + conn + "\"",
      // A folder is no file.
      tmp / "carpeta.txt",
      tmp / "carp*.txt",
      // Only "*" and "?" are wildcards.
      tmp / "conn[1].txt",
  };
  connection_file(good_lines());
  for (const std::string& argument : arguments) {
    SCOPED_TRACE(argument);
    RunResult result = kavelo({argument});
    EXPECT_EQ(result.exit_status, 1);
    expect_reports(cwd, "No es posible abrir el archivo: " + argument);
  }
}

TEST_F(StartupTest, BracketsInTheConnectionFileNameAreNoPattern) {
  make_company(data, "ABC", "01");
  const std::string name = tmp / "conn[1].txt";
  write_connection_file(name, good_lines());
  expect_clean_run(kavelo({name}));
}

TEST_F(StartupTest, WildcardThatMatchesAFileIsOpenedByItsOwnName) {
  write_connection_file(tmp / "conn1.txt", good_lines());
  const std::string pattern = tmp / "conn?.txt";
  RunResult result = kavelo({pattern});
  EXPECT_EQ(result.exit_status, 1);
  expect_reports(cwd, "Nombre o número de archivo incorrecto (" + pattern + ")");
}

TEST_F(StartupTest, ShortConnectionFileReportsUnderLineOneAsRead) {
  // Line 1 keeps its blank and gets no "/": the reports are named after it.
  std::vector<std::string> lines = connection_lines(inter + "/x ", data, "ABC", "01");
  lines.pop_back();
  RunResult result = kavelo({connection_file(lines)});
  EXPECT_EQ(result.exit_status, 1);
  const std::string errors = cp1252("La entrada ha sobrepasado el final del archivo (" + conn + ")\r\n");
  EXPECT_EQ(read_bytes(inter + "/x ERRORES.TXT"), errors);
  EXPECT_EQ(read_bytes(inter + "/x FINAL.TXT"), expected_final_txt());
  EXPECT_EQ(reports_in(inter), (std::vector<std::string>{"x ERRORES.TXT", "x FINAL.TXT"}));
}

TEST_F(StartupTest, EmptyConnectionFileReportsInTheCurrentFolder) {
  write_bytes(conn, "");
  RunResult result = kavelo({conn});
  EXPECT_EQ(result.exit_status, 1);
  expect_reports(cwd, "La entrada ha sobrepasado el final del archivo (" + conn + ")");
}

TEST_F(StartupTest, MissingDatabaseIsReportedInTheInterchangeFolder) {
  // The earlier run's reports go before the new ones are written.
  write_bytes(inter + "/ERRORES.TXT", "viejo\r\n");
  write_bytes(inter + "/FINAL.TXT", "viejo\r\n");
  RunResult result = kavelo({connection_file(good_lines())});
  EXPECT_EQ(result.exit_status, 1);
  expect_reports(inter, "No existe la base de datos: " + data + "/ABC01.MDB");
}

// Lines 2 to 4 as they make up the database path, seen in the message that
// names it.
TEST_F(StartupTest, DatabasePathFromLinesTwoToFour) {
  struct Case {
    std::string data_line, code, suffix, path;
  };
  const Case cases[] = {
      {"  " + data + " ", " ABC ", " 01 ", data + "/ABC01.MDB"},
      {data + "/", "ABC", "01", data + "/ABC01.MDB"},
      {data, "ABC", "", data + "/ABC.MDB"},
      // Blanks are spaces only: a tab stays.
      {data, "\tABC", "01\t", data + "/\tABC01\t.MDB"},
      // A lone LF does not end a line.
      {data, "ABC", "0\n1", data + "/ABC0\n1.MDB"},
      {data, "CAÑA", "01", data + "/CAÑA01.MDB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    RunResult result = kavelo({connection_file(connection_lines(inter, c.data_line, c.code, c.suffix))});
    EXPECT_EQ(result.exit_status, 1);
    expect_reports(inter, "No existe la base de datos: " + c.path);
  }
}

TEST_F(StartupTest, CleanStartUpLeavesOnlyFinal) {
  make_company(data, "ABC", "01", "INSERT INTO F_EMP (CODEMP, NOMEMP) VALUES ('ABC', 'Empresa');");
  write_bytes(inter + "/ERRORES.TXT", "viejo\r\n");
  write_bytes(inter + "/FINAL.TXT", "viejo\r\n");
  RunResult result = kavelo({connection_file(good_lines())});
  expect_clean_run(result);
  EXPECT_EQ(result.out, "");
}

TEST_F(StartupTest, InterchangeFolderLineIsTrimmedAndEndsInOneSlash) {
  make_company(data, "ABC", "01");
  for (const std::string& line : {"  " + inter + " ", inter + "/", inter}) {
    SCOPED_TRACE(line);
    std::filesystem::remove(inter + "/FINAL.TXT");
    expect_clean_run(kavelo({connection_file(connection_lines(line, data, "ABC", "01"))}));
  }
}

TEST_F(StartupTest, LinesEndedByCarriageReturnAlone) {
  make_company(data, "ABC", "01");
  write_connection_file(conn, good_lines(), "\r");
  expect_clean_run(kavelo({conn}));
}

TEST_F(StartupTest, LinesAfterTheEighthAreNotRead) {
  make_company(data, "ABC", "01");
  std::vector<std::string> lines = good_lines();
  lines.push_back("línea de más");
  write_connection_file(conn, lines);
  write_bytes(conn, read_bytes(conn) + "\xff\xfe sin fin de línea");
  expect_clean_run(kavelo({conn}));
}

TEST_F(StartupTest, CompanyCodeWithAQuote) {
  make_company(data, "A'B", "01", "INSERT INTO F_EMP (CODEMP, NOMEMP) VALUES ('A''B', 'Comillas');");
  expect_clean_run(kavelo({connection_file(connection_lines(inter, data, "A'B", "01"))}));
}

TEST_F(StartupTest, DatabaseWithoutCompanyTableStillStartsCleanly) {
  make_company(data, "ABC", "01", "DROP TABLE F_EMP;");
  expect_clean_run(kavelo({connection_file(good_lines())}));
}

TEST_F(StartupTest, DatabaseThatCannotBeOpenedEndsWithReports) {
  write_bytes(data + "/ABC01.MDB", "esto no es una base de datos\r\n");
  RunResult result = kavelo({connection_file(good_lines())});
  EXPECT_EQ(result.exit_status, 1);
  expect_reports(inter, "error en apertura de base de datos");
}

TEST_F(StartupTest, UnwritableInterchangeFolder) {
  make_company(data, "ABC", "01");
  RunResult result = kavelo({connection_file(connection_lines(tmp / "no-existe", data, "ABC", "01"))});
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_NE(result.err.find(tmp / "no-existe/ERRORES.TXT"), std::string::npos) << result.err;
  EXPECT_FALSE(exists(tmp / "no-existe"));
  EXPECT_EQ(names_in(cwd), std::vector<std::string>{});
}

TEST_F(StartupTest, NoFinalWithoutItsErrorReport) {
  // A folder where ERRORES.TXT should go: the error report cannot be written,
  // and a FINAL.TXT alone would read as a run without errors.
  make_dir(inter + "/ERRORES.TXT");
  write_bytes(inter + "/ERRORES.TXT/dentro", "");
  // The earlier run's FINAL.TXT is gone too.
  write_bytes(inter + "/FINAL.TXT", "viejo\r\n");
  RunResult result = kavelo({connection_file(good_lines())});
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_NE(result.err.find(inter + "/ERRORES.TXT"), std::string::npos) << result.err;
  EXPECT_FALSE(exists(inter + "/FINAL.TXT"));
}

TEST_F(StartupTest, HelpAndVersion) {
  RunResult help = kavelo({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.out.starts_with("Uso: kavelo ")) << help.out;
  RunResult version = kavelo({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "kavelo 1.0\n");
  EXPECT_EQ(names_in(cwd), std::vector<std::string>{});

  // A first argument that is none of our options is part of the path.
  RunResult not_ours = kavelo({"--helpme", "x"});
  EXPECT_EQ(not_ours.exit_status, 1);
  expect_reports(cwd, "No es posible abrir el archivo: --helpme x");
}

TEST_F(StartupTest, ArgumentsJoinedByOneBlankAreOnePath) {
  make_company(data, "ABC", "01");
  const std::string spaced = tmp / "mi conexion.txt";
  write_connection_file(spaced, good_lines());
  expect_clean_run(kavelo({tmp / "mi", "conexion.txt"}));

  // Two blanks in a name cannot come back from separate arguments.
  std::filesystem::remove(inter + "/FINAL.TXT");
  write_connection_file(tmp / "dos  blancos.txt", good_lines());
  RunResult result = kavelo({tmp / "dos", "blancos.txt"});
  EXPECT_EQ(result.exit_status, 1);
  expect_reports(cwd, "No es posible abrir el archivo: " + tmp / "dos blancos.txt");
}

}  // namespace
}  // namespace kavelo::test

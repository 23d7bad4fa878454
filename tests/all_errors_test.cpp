// A check run of every error (--check --all-errors) and the JSON summary
// through the real program: every bad record of the sample company named in
// one run that leaves the company as it was, the JSON of that run and of a
// real one read back and held to the error report and the stored rows, and
// the entry numbering going on as if a bad line were not there.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "test_support.h"

namespace kavelo::test {
namespace {

using nlohmann::json;

std::vector<std::string> split(const std::string& text, const std::string& end) {
  std::vector<std::string> parts;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t next = text.find(end, at);
    parts.push_back(text.substr(at, next - at));
    at = next == std::string::npos ? text.size() : next + end.size();
  }
  return parts;
}

// The lines of ERRORES.TXT (Windows-1252), without the empty one that ends it.
std::vector<std::string> report_lines(const std::string& dir) {
  std::vector<std::string> lines = split(error_report(dir), "\r\n");
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

json read_json(const std::string& path) { return json::parse(read_bytes(path)); }

// Every row of every table, each table's rows sorted: what a check run must
// leave as it found it, on a file as on the server.
std::map<std::string, std::vector<std::string>> every_table(const std::string& database) {
  std::map<std::string, std::vector<std::string>> tables;
  const RunResult counted = kavelo_db({"count", database});
  EXPECT_EQ(counted.exit_status, 0) << counted.err;
  for (const std::string& line : split(counted.out, "\n")) {
    const std::string table = line.substr(0, line.rfind(' '));
    std::vector<std::string>& rows = tables[table];
    for (const QueriedRow& row : query_rows(database, "SELECT * FROM " + table)) {
      std::string text;
      for (const auto& [name, value] : row) text += name + "=" + value + "|";
      rows.push_back(text);
    }
    std::sort(rows.begin(), rows.end());
  }
  return tables;
}

long rows_of(const std::string& database, const std::string& table) {
  return std::stol(values(database, "SELECT COUNT(*) FROM " + table));
}

const std::map<std::string, std::string> kTables = {{"MAE.TXT", "F_MAE"}, {"CLI.TXT", "F_CLI"}, {"PRO.TXT", "F_PRO"},
                                                    {"APU.TXT", "F_APU"}, {"IVR.TXT", "F_IVR"}, {"IVS.TXT", "F_IVS"}};

// Each failure of the JSON agrees with its line of the error report, in the
// order of the report, and with the text of its record in the file.
void expect_failures_as_reported(const json& summary, const std::vector<std::string>& report,
                                 const std::string& interchange_dir, const std::string& outcome) {
  std::vector<std::string> messages;
  for (const json& file : summary["files"]) {
    const std::vector<std::string> lines = split(read_bytes(interchange_dir + "/" + file["name"].get<std::string>()), "\r\n");
    for (const json& f : file["failures"]) {
      SCOPED_TRACE(f.dump());
      messages.push_back(cp1252(f["message"].get<std::string>()));
      EXPECT_EQ(f["outcome"], outcome);
      const long record = f["record"];
      const std::string field_code = f["field_code"];
      EXPECT_NE(messages.back().find(fmt::format("({}/{}) ", record, field_code)), std::string::npos);
      EXPECT_NE(f["error"].get<int>(), 0);
      std::string start = f["record_start"];
      if (start.ends_with("...")) start.resize(start.size() - 3);
      ASSERT_GE(record, 1);
      ASSERT_LE(record, static_cast<long>(lines.size()));
      EXPECT_FALSE(start.empty());
      EXPECT_TRUE((lines[static_cast<std::size_t>(record - 1)] + "|").starts_with(cp1252(start)));
    }
  }
  EXPECT_EQ(messages, report);
  std::vector<std::string> errors;
  for (const json& line : summary["errors"]) errors.push_back(cp1252(line.get<std::string>()));
  EXPECT_EQ(errors, report);
}

class AllErrors : public ImportScenario {};

// Journal lines 101, 901 and 1501 (an impossible date, an amount that is no
// number, a text too long), customers 11 and 1200 (an amount that is no
// number) and output-VAT record 7 (an unknown identifier): one check run of
// every error names the six and changes nothing; a real run stops each file at
// its first; the same files without the six store what the check run counted.
TEST_F(AllErrors, SixBadRecordsOfTheSampleCompanyInOneCheckRun) {
  TempDir dir;
  ASSERT_EQ(kavelo_db({"sample", dir.path(), "--records", "1600"}).exit_status, 0);
  database = make_company(dir / "datos", "MUESTRA", "01", read_bytes(dir / "company.sql"));
  const std::string clean = dir / "limpio", pristine = clean + "/datos/MUESTRA01.MDB";
  std::filesystem::create_directories(clean + "/datos");
  copy_company(database, pristine);

  // The files as the sample wrote them, and with the six bad records.
  std::map<std::string, std::vector<std::string>> files;
  for (const char* name : {"MAE.TXT", "CLI.TXT", "PRO.TXT", "APU.TXT", "IVR.TXT", "IVS.TXT"})
    files[name] = split(read_bytes(dir / name), "\r\n");
  std::map<std::string, std::vector<std::string>> bad = files;
  const auto set_field = [&](const char* name, int record, std::size_t field, const std::string& value) {
    std::vector<std::string> fields = split(bad[name][record - 1] + "|", "|");
    fields[field - 1] = value;
    std::string line = fields[0];
    for (std::size_t i = 1; i < fields.size(); ++i) line += "|" + fields[i];
    bad[name][record - 1] = line;
  };
  set_field("APU.TXT", 101, 3, "31/02/2011");
  set_field("APU.TXT", 901, 10, "mucho");
  set_field("APU.TXT", 1501, 7, std::string(300, 'x'));
  set_field("CLI.TXT", 11, 17, "abc");
  set_field("CLI.TXT", 1200, 17, "abc");
  set_field("IVR.TXT", 7, 1, "R002");
  const auto write_files = [](const std::string& to, const std::map<std::string, std::vector<std::string>>& these,
                              bool skip_bad) {
    for (const auto& [name, lines] : these) {
      std::string bytes;
      for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::map<std::string, std::vector<int>> bad_records = {
            {"APU.TXT", {101, 901, 1501}}, {"CLI.TXT", {11, 1200}}, {"IVR.TXT", {7}}};
        const auto found = bad_records.find(name);
        if (skip_bad && found != bad_records.end() &&
            std::ranges::count(found->second, static_cast<int>(i + 1)) > 0)
          continue;
        bytes += lines[i] + "\r\n";
      }
      write_bytes(to + "/" + name, bytes);
    }
  };
  write_files(dir.path(), bad, false);
  const std::string before_bytes = on_server() ? "" : read_bytes(database);
  const auto before = every_table(database);

  const RunResult check = run_program(
      {bin_path("kavelo"), "--check", "--all-errors", "--summary-json", dir / "check.json", dir / "kavelo.conn"});
  EXPECT_EQ(check.exit_status, 1) << check.err;
  const std::vector<std::string> all = report_lines(dir.path());
  const std::string too_long =
      "Apuntes: (1501/06) El campo 'CONAPU' es demasiado pequeño para aceptar la cantidad de datos que intentó agregar.";
  EXPECT_EQ(all, (std::vector<std::string>{
                     cp1252("Clientes: (11/16) No coinciden los tipos"),
                     cp1252("Clientes: (1200/16) No coinciden los tipos"),
                     cp1252("Apuntes: (101/02) No coinciden los tipos"),
                     cp1252("Apuntes: (901/09) Error en la conversión del tipo de datos."),
                     cp1252(too_long),
                     cp1252("IVA/IGIC repercutido: (7/00) Identificador de registro no válido."),
                 }));
  if (!on_server()) {
    EXPECT_TRUE(read_bytes(database) == before_bytes) << "the check run changed the company file";
    EXPECT_FALSE(exists(database + "-journal"));
  }
  EXPECT_EQ(every_table(database), before);

  const json checked = read_json(dir / "check.json");
  EXPECT_EQ(checked["program"], "kavelo");
  EXPECT_EQ(checked["version"], "1.0");
  EXPECT_EQ(checked["check"], true);
  EXPECT_EQ(checked["all_errors"], true);
  EXPECT_EQ(checked["ended"], "errors_reported");
  EXPECT_EQ(checked["exit_status"], 1);
  expect_failures_as_reported(checked, all, dir.path(), "passed_over");
  ASSERT_EQ(checked["files"].size(), 6u);
  const std::map<std::string, std::vector<std::string>> columns = {
      {"CLI.TXT", {"RETCLI", "RETCLI"}}, {"APU.TXT", {"FECAPU", "IMEAPU", "CONAPU"}}, {"IVR.TXT", {""}}};
  for (const json& file : checked["files"]) {
    const std::string name = file["name"];
    SCOPED_TRACE(name);
    EXPECT_EQ(file["read"], 1600);
    EXPECT_EQ(file["stopped"], false);
    std::vector<std::string> failed_columns;
    for (const json& f : file["failures"]) failed_columns.push_back(f["column"]);
    EXPECT_EQ(failed_columns, columns.contains(name) ? columns.at(name) : std::vector<std::string>{});
  }

  // A real run stops each file at its first bad record; its JSON agrees with
  // the report and with the rows stored.
  for (const char* report : {"FINAL.TXT", "ERRORES.TXT"}) std::filesystem::remove(dir / report);
  const RunResult real = run_program({bin_path("kavelo"), "--summary-json", dir / "run.json", dir / "kavelo.conn"});
  EXPECT_EQ(real.exit_status, 1) << real.err;
  const std::vector<std::string> first = report_lines(dir.path());
  EXPECT_EQ(first, (std::vector<std::string>{all[0], all[2], all[5]}));
  const json ran = read_json(dir / "run.json");
  EXPECT_EQ(ran["check"], false);
  EXPECT_EQ(ran["exit_status"], 1);
  expect_failures_as_reported(ran, first, dir.path(), "stopped");
  const std::map<std::string, long> stopped_at = {{"CLI.TXT", 11}, {"APU.TXT", 101}, {"IVR.TXT", 7}};
  for (const json& file : ran["files"]) {
    const std::string name = file["name"];
    SCOPED_TRACE(name);
    const bool stopped = stopped_at.contains(name);
    EXPECT_EQ(file["stopped"], stopped);
    EXPECT_EQ(file["read"], stopped ? stopped_at.at(name) : 1600);
    // The company had none of these rows.
    EXPECT_EQ(file["added"].get<long>() + file["changed"].get<long>(), rows_of(database, kTables.at(name)));
    EXPECT_EQ(file["added"], (stopped ? stopped_at.at(name) - 1 : 1600) - file["duplicates"].get<long>());
  }
  EXPECT_EQ(kavelo_db({"verify", database}).exit_status, 0);

  // The files without the six, into the company as it was: the same counts
  // as the check run of every error.
  write_files(clean, bad, true);
  write_connection_file(clean + "/kavelo.conn", connection_lines(clean, clean + "/datos", "MUESTRA", "01", "|"));
  const RunResult without = run_program({bin_path("kavelo"), "--summary-json", clean + "/run.json", clean + "/kavelo.conn"});
  EXPECT_EQ(without.exit_status, 0) << without.err;
  const json cleaned = read_json(clean + "/run.json");
  EXPECT_EQ(cleaned["errors"], json::array());
  for (std::size_t i = 0; i < 6; ++i) {
    const json &c = checked["files"][i], &w = cleaned["files"][i];
    SCOPED_TRACE(c["name"].get<std::string>());
    EXPECT_EQ(w["read"].get<long>() + static_cast<long>(c["failures"].size()), c["read"].get<long>());
    for (const char* count : {"added", "changed", "duplicates"}) EXPECT_EQ(w[count], c[count]) << count;
    EXPECT_EQ(w["added"].get<long>() + w["changed"].get<long>(),
              rows_of(pristine, kTables.at(w["name"].get<std::string>())));
  }
  EXPECT_EQ(kavelo_db({"verify", pristine}).exit_status, 0);
}

// A bad journal line is undone with its entry number: the lines after it are
// numbered, and find the rows they rewrite, as in a run without it. It fails
// at its amount (before it is written) or at its posting (after, in a group
// of lines or alone), with the counter of the journal or by journal and date.
TEST_F(AllErrors, TheNumberingGoesOnAsIfTheBadLineWereNotThere) {
  write_connection_file(conn, connection_lines(inter, data, "EMP", "01", "|"));
  const auto apu = [](const std::string& entry, const std::string& order, const std::string& euros = "100,00") {
    return "A001|1|15/03/2011|" + entry + "|" + order + "|4300001|Concepto|DOC|D|" + euros +
           "|0|E|||0||||1||0||{GUID}";
  };
  const std::string huge = "500.000.000.000.000,00";  // twice, more than a balance holds
  struct Case {
    const char* what;
    const char* namaut;
    std::string first, bad;
    // The entries of the first line and of the next one numbered, without
    // the bad line.
    const char *first_entry, *next_entry;
  };
  const Case cases[] = {
      {"an amount that is no number, by counter", "0", apu("0", "1"), apu("0", "1", "mucho"), "10", "11"},
      {"a posting that overflows, by counter", "0", apu("0", "1", huge), apu("0", "1", huge), "10", "11"},
      {"a posting that overflows, by journal and date", "1", apu("0", "1", huge), apu("0", "1", huge), "1", "2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // After the bad line: a further line of the entry begun (the first's), a
    // new entry, and the file's own lines of those two entries, which rewrite
    // them.
    const std::vector<std::string> after = {apu("0", "2"), apu("0", "1"), apu(c.next_entry, "1"),
                                            apu(c.first_entry, "2")};
    std::vector<std::string> with_bad = {c.first, c.bad}, without = {c.first};
    with_bad.insert(with_bad.end(), after.begin(), after.end());
    without.insert(without.end(), after.begin(), after.end());
    const auto check_run = [&](const std::vector<std::string>& lines, bool all_errors) {
      start_again();
      file("APU.TXT", lines);
      database = make_company(data, "EMP", "01",
                              fmt::format("INSERT INTO F_EMP (CODEMP, FRMEMP) VALUES ('EMP', '1110000');\n"
                                          "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, 1, {});\n"
                                          "INSERT INTO F_DIA (CODDIA, ASIDIA) VALUES (1, 10);\n",  // the counter
                                          c.namaut));
      std::vector<std::string> argv = {bin_path("kavelo"), "--check"};
      if (all_errors) argv.push_back("--all-errors");
      for (const std::string& arg : {std::string("--summary-json"), tmp / "r.json", conn}) argv.push_back(arg);
      last_run = run_program(argv);
      return read_json(tmp / "r.json")["files"][3];
    };
    const json clean = check_run(without, false);
    EXPECT_EQ(clean["added"], 3);
    EXPECT_EQ(clean["changed"], 2);
    const json passed = check_run(with_bad, true);
    EXPECT_EQ(last_run.exit_status, 1) << last_run.err;
    ASSERT_EQ(passed["failures"].size(), 1u) << passed.dump();
    EXPECT_EQ(passed["failures"][0]["record"], 2);
    EXPECT_EQ(passed["read"], 6);
    for (const char* count : {"added", "changed", "duplicates"}) EXPECT_EQ(passed[count], clean[count]) << count;
  }
}

}  // namespace
}  // namespace kavelo::test

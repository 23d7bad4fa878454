// Start-up and the reports where tests/startup_test.cpp does not reach: the
// connection file's lines and failures, the company record and the window at
// start-up, replacing the reports.
#include "app/startup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "app/connection_file.h"
#include "app/reports.h"
#include "db/company_database.h"
#include "interchange/run.h"
#include "platform/failure.h"
#include "platform/window.h"
#include "test_support.h"

namespace kavelo {
namespace {

TEST(SplitLines, EndsAtCrOrCrLfOnly) {
  struct Case {
    std::string bytes;
    std::size_t wanted;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", 8, {}},
      // CR LF is one line end, LF CR is a line's LF and then its end.
      {"a\n\rb", 8, {"a\n", "b"}},
      {"1\r2\r3\r4\r", 2, {"1", "2"}},
      {"\r\n", 8, {""}},
  };
  for (const Case& c : cases) EXPECT_EQ(split_lines(c.bytes, c.wanted), c.lines) << testing::PrintToString(c.bytes);
}

// A file that cannot be read fails with its own error, also where start-up
// finds no file to read (a folder, a missing file) and does not try.
TEST(ReadConnectionFile, Failures) {
  test::TempDir dir;
  test::write_bytes(dir / "corto.txt", "/in\r\n");
  for (const auto& [path, code] : {std::pair{dir.path(), ErrorCode::PathFileAccess},
                                   {dir / "nada.txt", ErrorCode::FileNotFound},
                                   {dir / "corto.txt/x", ErrorCode::PathNotFound}}) {
    RunSettings settings;
    EXPECT_THAT([&] { read_connection_file(path, settings); },
                testing::Throws<Failure>(testing::Property(&Failure::number, static_cast<int>(code))))
        << path;
  }
}

// Every call start-up makes on the window, as text.
struct RecordingWindow : Window {
  void set_caption(const std::string& text) override { calls.push_back("caption " + text); }
  void set_label(Label which, const std::string& text) override {
    calls.push_back("label" + std::to_string(static_cast<int>(which) + 1) + " " + text);
  }
  void repaint_label(Label) override { calls.push_back("repaint_label"); }
  void repaint() override { calls.push_back("repaint"); }
  void do_events() override { calls.push_back("do_events"); }
  void set_hourglass(bool) override { calls.push_back("hourglass"); }
  void message_box(const std::string& text) override { calls.push_back("box " + text); }
  std::vector<std::string> calls;
};

// The company's row is found by its code, a quote in it included; without a
// row of the code, or when the lookup fails, there are no levels and start-up
// goes on. The window shows the connection file's captions, decoded.
TEST(StartRun, ReadsTheCompanyLevelsAndShowsTheCaptions) {
  struct Case {
    std::string code, sql;
    std::optional<db::Value> levels;
  };
  const Case cases[] = {
      {"A'B", "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('A''B', 'Comillas', '1247');", db::Value("1247")},
      {"ABC", "INSERT INTO F_EMP (CODEMP) VALUES ('OTRA');", std::nullopt},
      {"ABC", "DROP TABLE F_EMP;", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    test::TempDir dir;
    const std::string database = dir / (c.code + "01.MDB");
    db::create_company_database(database);
    db::run_sql_script(database, c.sql);
    test::write_connection_file(dir / "conexion.txt",
                                test::connection_lines(dir.path(), dir.path(), c.code, "01", ";", "Título", "L1", "L2"));
    RecordingWindow window;
    kavelo::Run run(window, RegionalSettings::spanish(), false);
    EXPECT_TRUE(start_run(run, dir / "conexion.txt"));
    EXPECT_EQ(run.company_levels, c.levels);
    EXPECT_EQ(run.settings.database_path, database);
    EXPECT_EQ(run.error_text, "");
    EXPECT_EQ(window.calls, (std::vector<std::string>{"caption Doveduzi Kavelo", "caption Título", "label1 L1",
                                                      "label2 L2", "label3 Procesando", "do_events", "do_events"}));
    run.close_database();
  }
}

// The error lines keep their own line ends and replace a longer old report;
// a temporary file of an earlier process with this one's number is no
// obstacle and is not left behind.
TEST(WriteReports, ReplaceTheOldOnesWholeAndLeaveNothingElse) {
  test::TempDir dir;
  const std::string stale = dir / ("FINAL.TXT." + std::to_string(::getpid()) + ".tmp");
  test::write_bytes(dir / "ERRORES.TXT", std::string(500, 'x'));
  test::write_bytes(stale, "stale");
  EXPECT_EQ(write_reports(dir.path() + "/", "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n"),
            kExitErrorsReported);
  EXPECT_EQ(test::read_bytes(dir / "ERRORES.TXT"),
            "Maestro: (2/04) Desbordamiento\r\nClientes: (7/00) Identificador\r\n\r\n");
  EXPECT_EQ(test::read_bytes(dir / "FINAL.TXT"), test::expected_final_txt());
  EXPECT_FALSE(test::exists(stale));
}

}  // namespace
}  // namespace kavelo

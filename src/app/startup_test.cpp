// What start-up leaves in the company record and shows in the window, which no
// report tells.
#include "app/startup.h"

#include <gtest/gtest.h>

#include "db/company_database.h"
#include "interchange/run.h"
#include "platform/window.h"
#include "test_support.h"

namespace kavelo {
namespace {

// Every call start-up makes on the window, as text.
class RecordingWindow : public Window {
 public:
  explicit RecordingWindow(std::vector<std::string>* calls) : calls_(calls) {}
  void set_caption(const std::string& text) override { calls_->push_back("caption " + text); }
  void set_label(Label which, const std::string& text) override {
    calls_->push_back("label" + std::to_string(static_cast<int>(which) + 1) + " " + text);
  }
  void repaint_label(Label) override { calls_->push_back("repaint_label"); }
  void repaint() override { calls_->push_back("repaint"); }
  void do_events() override { calls_->push_back("do_events"); }
  void set_hourglass(bool) override { calls_->push_back("hourglass"); }
  void message_box(const std::string& text) override { calls_->push_back("box " + text); }

 private:
  std::vector<std::string>* calls_;
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
    const std::string dir_path = dir.path();
    test::write_connection_file(dir / "conexion.txt",
                                test::connection_lines(dir_path, dir_path, c.code, "01", ";", "Título", "L1", "L2"));
    std::vector<std::string> calls;
    RecordingWindow window(&calls);
    kavelo::Run run(window, RegionalSettings::spanish(), false);
    EXPECT_TRUE(start_run(run, dir / "conexion.txt"));
    EXPECT_EQ(run.company_levels, c.levels);
    EXPECT_EQ(run.settings.database_path, database);
    EXPECT_EQ(run.error_text, "");
    EXPECT_EQ(calls, (std::vector<std::string>{"caption Doveduzi Kavelo", "caption Título", "label1 L1", "label2 L2",
                                               "label3 Procesando", "do_events", "do_events"}));
    run.close_database();
  }
}

}  // namespace
}  // namespace kavelo

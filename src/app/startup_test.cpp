// What start-up leaves in the company record and shows in the window, which no
// report tells.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "db/company_database.h"
#include "interchange/run.h"
#include "platform/window.h"

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

class StartupInProcessTest : public ::testing::Test {
 protected:
  StartupInProcessTest() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavelo-startup-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
  }
  ~StartupInProcessTest() override {
    run_.close_database();
    std::filesystem::remove_all(dir_);
  }

  // Starts up on company `code` (suffix 01) after `sql` ran on its new database.
  void start_up(const std::string& code, const std::string& sql) {
    const std::string database = dir_ + "/" + code + "01.MDB";
    db::create_company_database(database);
    if (!sql.empty()) db::run_sql_script(database, sql);
    const std::string conn = dir_ + "/conexion.txt";
    std::ofstream(conn, std::ios::binary) << dir_ << "\r\n"
                                          << dir_ << "\r\n"
                                          << code << "\r\n01\r\n;\r\nT\r\nL1\r\nL2\r\n";
    EXPECT_TRUE(start_run(run_, conn));
  }

  std::string dir_;
  std::vector<std::string> calls_;
  RecordingWindow window_{&calls_};
  kavelo::Run run_{window_, RegionalSettings::spanish(), false};
};

TEST_F(StartupInProcessTest, CodeWithAQuoteFindsItsRow) {
  start_up("A'B", "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('A''B', 'Comillas', '1247');");
  EXPECT_EQ(run_.company_levels, db::Value("1247"));
  EXPECT_EQ(run_.error_text, "");
}

TEST_F(StartupInProcessTest, CodeWithoutARowOrALookupThatFailsLeavesNoLevelsAndStartUpGoesOn) {
  for (const char* sql : {"INSERT INTO F_EMP (CODEMP) VALUES ('OTRA');", "DROP TABLE F_EMP;"}) {
    std::filesystem::remove(dir_ + "/ABC01.MDB");
    start_up("ABC", sql);
    EXPECT_FALSE(run_.company_levels.has_value()) << sql;
    EXPECT_EQ(run_.settings.database_path, dir_ + "/ABC01.MDB");
    EXPECT_EQ(run_.error_text, "");
    run_.close_database();
  }
}

TEST_F(StartupInProcessTest, WindowShowsTheConnectionFileCaptions) {
  start_up("ABC", "");
  EXPECT_EQ(calls_, (std::vector<std::string>{"caption Doveduzi Kavelo", "caption T", "label1 L1", "label2 L2",
                                              "label3 Procesando", "do_events", "do_events"}));
}

}  // namespace
}  // namespace kavelo

#pragma once
// For the journal's unit tests: a company database with the reference schema
// and the rows a test adds, Spanish regional settings, a window that records
// its message boxes, and the company record the posting reads.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "db/company_database.h"
#include "db/engine.h"
#include "db/test_database.h"
#include "interchange/run_state.h"
#include "platform/regional.h"
#include "platform/recording_window.h"
#include "platform/window.h"

namespace kavelo::testing {

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_regional(RegionalSettings::spanish());
    set_main_window(std::make_unique<RecordingWindow>(&boxes_));
    company("111");
  }
  void TearDown() override {
    db::Engine::instance().shutdown();
    set_main_window(make_terminal_window());
    run().RegistroEmpresa.reset();
  }

  // The reference schema and then `sql`, in one transaction.
  void make_database(const std::string& sql = "") {
    database_.emplace("BEGIN;\n" + std::string(db::company_schema_sql()) + sql + "\nCOMMIT;");
  }
  const std::string& path() const { return database_->path(); }

  // The company record with this level mask (nullopt: FRMEMP holds no value).
  void company(std::optional<std::string> frmemp) {
    db::Row row;
    row.add("CODEMP", db::Value("E1"));
    row.add("FRMEMP", frmemp ? db::Value(*frmemp) : db::Value());
    run().RegistroEmpresa = row;
  }

  // What another program reads once the engine has committed.
  std::string outside(const std::string& sql) {
    db::Engine::instance().commit();
    return database_->outside_query(sql);
  }

  std::optional<db::testing::TestDatabase> database_;
  std::vector<std::string> boxes_;
};

}  // namespace kavelo::testing

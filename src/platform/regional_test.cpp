#include "platform/regional.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace kavelo {
namespace {

// Clears the locale variables for one test and puts them back afterwards.
class LocaleEnvironment : public testing::Test {
 protected:
  LocaleEnvironment() {
    for (auto& [name, value] : saved_) {
      if (const char* current = std::getenv(name)) value = current;
      unsetenv(name);
    }
  }
  ~LocaleEnvironment() override {
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name, value->c_str(), 1);
      else unsetenv(name);
    }
  }

 private:
  std::pair<const char*, std::optional<std::string>> saved_[4] = {
      {"LC_ALL", {}}, {"LC_TIME", {}}, {"LC_NUMERIC", {}}, {"LANG", {}}};
};

const RegionalSettings kEnglish{DateOrder::MonthDayYear, '/', ".", ","};

TEST_F(LocaleEnvironment, NothingSetMeansSpanish) {
  EXPECT_EQ(regional_settings_from_environment(), RegionalSettings::spanish());
}

TEST_F(LocaleEnvironment, LcAllGivesTheLocaleConventions) {
  setenv("LANG", "es_ES.UTF-8", 1);
  setenv("LC_ALL", "en_US.UTF-8", 1);
  EXPECT_EQ(regional_settings_from_environment(), kEnglish);
}

TEST_F(LocaleEnvironment, LangGivesTheLocaleConventions) {
  setenv("LANG", "es_ES.UTF-8", 1);
  EXPECT_EQ(regional_settings_from_environment(), RegionalSettings::spanish());
  setenv("LANG", "en_US.utf8", 1);
  EXPECT_EQ(regional_settings_from_environment(), kEnglish);
}

TEST_F(LocaleEnvironment, DatesAndNumbersFollowTheirOwnCategories) {
  setenv("LANG", "es_ES.UTF-8", 1);
  setenv("LC_NUMERIC", "en_US.UTF-8", 1);
  EXPECT_EQ(regional_settings_from_environment(), (RegionalSettings{DateOrder::DayMonthYear, '/', ".", ","}));
  setenv("LC_TIME", "en_US.UTF-8", 1);
  setenv("LC_NUMERIC", "es_ES.UTF-8", 1);
  EXPECT_EQ(regional_settings_from_environment(), (RegionalSettings{DateOrder::MonthDayYear, '/', ",", "."}));
}

TEST_F(LocaleEnvironment, CLocalesAndMissingLocalesMeanSpanish) {
  for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8", "xx_XX.UTF-8"}) {
    setenv("LANG", name, 1);
    EXPECT_EQ(regional_settings_from_environment(), RegionalSettings::spanish()) << name;
  }
  setenv("LANG", "en_US.UTF-8", 1);
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(regional_settings_from_environment(), RegionalSettings::spanish());
}

}  // namespace
}  // namespace kavelo

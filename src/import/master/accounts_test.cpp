#include <gtest/gtest.h>

#include "interchange/layout_checks.h"
#include "import/master/master_descriptions.h"

namespace kavelo {
namespace {

using namespace testing;

TEST(AccountsImport, LayoutFollowsPositionsAndFitsTheTable) {
  const ImportDescription& d = accounts_description();
  EXPECT_EQ(d.layout.size(), 6u);  // eight fields: identifier, code, six more
  expect_codes_follow_positions(d);
  expect_fits_reference_schema(d, "F_MAE");
  EXPECT_EQ(count_by_conversion(d), (std::map<Conversion, int>{{Conversion::Text, 3}, {Conversion::Number, 3}}));
}

}  // namespace
}  // namespace kavelo

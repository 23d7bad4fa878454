#include <gtest/gtest.h>

#include "interchange/layout_checks.h"
#include "import/master/master_descriptions.h"

namespace kavelo {
namespace {

using namespace testing;
using enum Conversion;

TEST(SuppliersImport, LayoutFollowsPositionsAndFitsTheTable) {
  const ImportDescription& d = suppliers_description();
  EXPECT_EQ(d.layout.size(), 49u);  // 51 fields: identifier, code, 49 more
  expect_codes_follow_positions(d);
  expect_fits_reference_schema(d, "F_PRO");
  // 36 text columns with the code, 11 numbers, 3 amounts.
  EXPECT_EQ(count_by_conversion(d), (std::map<Conversion, int>{{Text, 35}, {Number, 11}, {Amount, 3}}));
}

TEST(SuppliersImport, FieldsWhereCustomersDiffer) {
  expect_spots(suppliers_description(), {
                                        {"NOMPRO", "02", Text},
                                        {"RETPRO", "15", Amount},
                                        {"TDEPRO", "16", Number},
                                        {"COPPRO", "17", Number},
                                        {"IVAPRO", "20", Amount},
                                        {"RECPRO", "21", Amount},
                                        {"CPOPRO", "26", Number},
                                        {"MEMPRO", "43", Text},
                                        {"DEPPRO", "44", Number},
                                        {"CPA5PRO", "50", Text},
                                    });
}

}  // namespace
}  // namespace kavelo

#include <gtest/gtest.h>

#include "interchange/layout_checks.h"
#include "import/master/master_descriptions.h"

namespace kavelo {
namespace {

using namespace testing;
using enum Conversion;

TEST(CustomersImport, LayoutFollowsPositionsAndFitsTheTable) {
  const ImportDescription& d = customers_description();
  EXPECT_EQ(d.layout.size(), 50u);  // 52 fields: identifier, code, 50 more
  expect_codes_follow_positions(d);
  expect_fits_reference_schema(d, "F_CLI");
  // 37 text columns with the code, 11 numbers, 3 amounts.
  EXPECT_EQ(count_by_conversion(d), (std::map<Conversion, int>{{Text, 36}, {Number, 11}, {Amount, 3}}));
}

TEST(CustomersImport, FieldsWhereSuppliersDiffer) {
  expect_spots(customers_description(), {
                                        {"TFCCLI", "02", Number},
                                        {"NOMCLI", "03", Text},
                                        {"RETCLI", "16", Amount},
                                        {"COPCLI", "17", Number},
                                        {"IVACLI", "20", Amount},
                                        {"RECCLI", "21", Amount},
                                        {"CPOCLI", "26", Text},
                                        {"MEMCLI", "43", Text},
                                        {"FELCLI", "44", Number},
                                        {"DEPCLI", "45", Number},
                                        {"CPA5CLI", "51", Text},
                                    });
}

}  // namespace
}  // namespace kavelo

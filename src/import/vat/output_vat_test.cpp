#include <gtest/gtest.h>

#include "interchange/layout_checks.h"
#include "import/vat/vat_descriptions.h"

namespace kavelo {
namespace {

using namespace testing;
using enum Conversion;

TEST(OutputVatImport, LayoutFollowsPositionsAndFitsTheTable) {
  const ImportDescription& d = output_vat_description();
  EXPECT_EQ(d.layout.size(), 63u);  // 65 fields: identifier, register code, 63 more
  expect_codes_follow_positions(d);
  expect_fits_reference_schema(d, "F_IVR");
  EXPECT_EQ(count_by_conversion(d),
            (std::map<Conversion, int>{{Text, 12}, {TextIfNotEmpty, 3}, {Number, 8}, {Amount, 40}}));
}

TEST(OutputVatImport, FieldsWhereTheInputRegisterDiffers) {
  expect_spots(output_vat_description(), {
                                        {"BICIVR", "09", Amount},
                                        {"FFAIVR", "10", TextIfNotEmpty},
                                        {"FECIVR", "11", TextIfNotEmpty},
                                        {"OFDIVR", "17", Text},
                                        {"IELIVR", "18", Number},
                                        {"347IVR", "19", Number},
                                        {"FFRIVR", "46", TextIfNotEmpty},
                                        {"RFR3IVR", "64", Amount},
                                    });
}

}  // namespace
}  // namespace kavelo

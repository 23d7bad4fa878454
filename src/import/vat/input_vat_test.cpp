#include <gtest/gtest.h>

#include "interchange/layout_checks.h"
#include "import/vat/vat_descriptions.h"

namespace kavelo {
namespace {

using namespace testing;
using enum Conversion;

TEST(InputVatImport, LayoutFollowsPositionsAndFitsTheTable) {
  const ImportDescription& d = input_vat_description();
  EXPECT_EQ(d.layout.size(), 71u);  // 73 fields: identifier, register code, 71 more
  expect_codes_follow_positions(d);
  expect_fits_reference_schema(d, "F_IVS");
  EXPECT_EQ(count_by_conversion(d),
            (std::map<Conversion, int>{{Text, 16}, {TextIfNotEmpty, 4}, {Number, 7}, {Amount, 44}}));
}

TEST(InputVatImport, FieldsWhereTheOutputRegisterDiffers) {
  expect_spots(input_vat_description(), {
                                       {"OFDIVS", "17", Text},
                                       {"DEDIVS", "18", Text},
                                       {"PDEIVS", "19", Amount},
                                       {"INVIVS", "20", Text},
                                       {"IIDEIVS", "21", Text},
                                       {"IPROIVS", "22", Amount},
                                       {"IFINIVS", "23", TextIfNotEmpty},
                                       {"IRAIIVS", "24", Amount},
                                       {"IIENIVS", "25", Text},
                                       {"IRDEIVS", "26", Amount},
                                       {"347IVS", "27", Number},
                                       {"FFRIVS", "54", TextIfNotEmpty},
                                       {"RFR3IVS", "72", Amount},
                                   });
}

}  // namespace
}  // namespace kavelo

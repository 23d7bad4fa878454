// The layouts of the VAT registers held to the interchange format (fields, codes by
// position) and to the reference schema (columns, order, types).
#include <gtest/gtest.h>

#include "import/vat/vat_descriptions.h"
#include "interchange/layout_checks.h"

namespace kavelo {
namespace {

using namespace testing;
using enum Conversion;

TEST(VatDescriptions, LayoutsFollowTheRecordAndFitTheReferenceSchema) {
  expect_layout(output_vat_description(), "F_IVR", 65, {{Text, 12}, {TextIfNotEmpty, 3}, {Number, 8}, {Amount, 40}});
  expect_layout(input_vat_description(), "F_IVS", 73, {{Text, 16}, {TextIfNotEmpty, 4}, {Number, 7}, {Amount, 44}});
}

}  // namespace
}  // namespace kavelo

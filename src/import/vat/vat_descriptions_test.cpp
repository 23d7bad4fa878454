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
  struct Case {
    const ImportDescription& description;
    const char* table;
    std::size_t fields;  // of a record: the identifier, the key and the layout's
    std::map<Conversion, int> conversions;
  };
  const Case cases[] = {
      {output_vat_description(), "F_IVR", 65, {{Text, 12}, {TextIfNotEmpty, 3}, {Number, 8}, {Amount, 40}}},
      {input_vat_description(), "F_IVS", 73, {{Text, 16}, {TextIfNotEmpty, 4}, {Number, 7}, {Amount, 44}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(c.description.layout.size() + 2, c.fields);
    expect_codes_follow_positions(c.description);
    expect_fits_reference_schema(c.description, c.table);
    EXPECT_EQ(count_by_conversion(c.description), c.conversions);
  }
}

}  // namespace
}  // namespace kavelo

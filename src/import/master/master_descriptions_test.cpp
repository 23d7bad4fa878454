// The layouts of the master files held to the interchange format (fields, codes by
// position) and to the reference schema (columns, order, types).
#include <gtest/gtest.h>

#include "import/master/master_descriptions.h"
#include "interchange/layout_checks.h"

namespace kavelo {
namespace {

using namespace testing;
using enum Conversion;

TEST(MasterDescriptions, LayoutsFollowTheRecordAndFitTheReferenceSchema) {
  struct Case {
    const ImportDescription& description;
    const char* table;
    std::size_t fields;  // of a record: the identifier, the key and the layout's
    std::map<Conversion, int> conversions;
  };
  const Case cases[] = {
      {accounts_description(), "F_MAE", 8, {{Text, 3}, {Number, 3}}},
      {customers_description(), "F_CLI", 52, {{Text, 36}, {Number, 11}, {Amount, 3}}},
      {suppliers_description(), "F_PRO", 51, {{Text, 35}, {Number, 11}, {Amount, 3}}},
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

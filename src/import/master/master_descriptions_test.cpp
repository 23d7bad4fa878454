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
  expect_layout(accounts_description(), "F_MAE", 8, {{Text, 3}, {Number, 3}});
  expect_layout(customers_description(), "F_CLI", 52, {{Text, 36}, {Number, 11}, {Amount, 3}});
  expect_layout(suppliers_description(), "F_PRO", 51, {{Text, 35}, {Number, 11}, {Amount, 3}});
}

}  // namespace
}  // namespace kavelo

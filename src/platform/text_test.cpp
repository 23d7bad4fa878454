#include "platform/text.h"

#include <climits>

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

TEST(AppendPadded, WritesWhatZeroPaddedFormattingWrites) {
  // Past the width, below zero and at the ends of the range, as fmt writes them.
  for (int width : {2, 4}) {
    for (int value : {0, 7, 42, 999, 2011, 12345, -1, -42, -2011, INT_MAX, INT_MIN}) {
      std::string out = "x";
      append_padded(out, value, width);
      EXPECT_EQ(out, "x" + fmt::format("{:0{}}", value, width)) << value << " in " << width;
    }
  }
}

}  // namespace
}  // namespace kavelo

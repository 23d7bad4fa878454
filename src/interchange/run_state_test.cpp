#include "interchange/run_state.h"

#include <gtest/gtest.h>

namespace kavelo {
namespace {

TEST(AddClosingMessage, StartsALineOfItsOwnWithoutALineEnd) {
  struct Case {
    std::string before;
    std::string after;
  };
  const Case cases[] = {
      {"", "Cerrado"},
      // An importer's error line already ends its line.
      {"Maestro: (3/04) Desbordamiento\r\n", "Maestro: (3/04) Desbordamiento\r\nCerrado"},
      // A start-up message has no line end of its own.
      {"No existe la base de datos: /d/A.MDB", "No existe la base de datos: /d/A.MDB\r\nCerrado"},
      // A lone CR is no line end.
      {"x\r", "x\r\r\nCerrado"},
  };
  for (const Case& c : cases) {
    std::string text = c.before;
    add_closing_message(text, "Cerrado");
    EXPECT_EQ(text, c.after) << "before: " << c.before;
  }
}

}  // namespace
}  // namespace kavelo

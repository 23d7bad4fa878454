#include "db/odbc/server_script.h"

#include <gtest/gtest.h>

namespace kavelo::db::odbc {
namespace {

TEST(ServerScript, StatementsEndAtSemicolonsOutsideTextsNamesAndComments) {
  EXPECT_EQ(script_statements("INSERT INTO T VALUES ('a;b');\n-- a comment; with a semicolon\n"
                              "UPDATE \"X;Y\" SET A = 1 ;;  SELECT 1"),
            (std::vector<std::string>{"INSERT INTO T VALUES ('a;b')", "UPDATE \"X;Y\" SET A = 1", "SELECT 1"}));
  EXPECT_EQ(script_statements("INSERT INTO T VALUES ('it''s; fine')"),
            (std::vector<std::string>{"INSERT INTO T VALUES ('it''s; fine')"}));
  EXPECT_TRUE(script_statements("  \n-- nothing but a comment\n").empty());
}

}  // namespace
}  // namespace kavelo::db::odbc

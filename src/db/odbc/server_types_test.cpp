#include "db/odbc/server_types.h"

#include <gtest/gtest.h>

namespace kavelo::db::odbc {
namespace {

// Each kind: the type kavelo-db create writes for it, and what the server
// then reports in information_schema (a domain's data_type is its base type),
// which must read back as the same kind.
TEST(ServerTypes, EachKindComesBackFromWhatTheServerReports) {
  struct Case {
    ColumnKind kind;
    int text_size;
    std::string written;
    std::string data_type;
    std::string domain;
  };
  const Case cases[] = {
      {ColumnKind::Text, 50, "varchar(50)", "character varying", ""},
      {ColumnKind::Text, 0, "text", "text", ""},
      {ColumnKind::Byte, 0, "jet_byte", "smallint", "jet_byte"},
      {ColumnKind::Short, 0, "smallint", "smallint", ""},
      {ColumnKind::Long, 0, "integer", "integer", ""},
      {ColumnKind::Double, 0, "double precision", "double precision", ""},
      {ColumnKind::Currency, 0, "numeric(19,4)", "numeric", ""},
      {ColumnKind::DateTime, 0, "timestamp", "timestamp without time zone", ""},
      {ColumnKind::Bit, 0, "jet_bit", "smallint", "jet_bit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(server_type_of(c.kind, c.text_size), c.written);
    EXPECT_EQ(kind_of_server_type(c.data_type, c.domain), c.kind);
  }
  // The row identity's bigint is no kind of the engine.
  EXPECT_EQ(kind_of_server_type("bigint", ""), ColumnKind::Untyped);
  EXPECT_EQ(server_type_of(ColumnKind::Untyped), "");
}

}  // namespace
}  // namespace kavelo::db::odbc

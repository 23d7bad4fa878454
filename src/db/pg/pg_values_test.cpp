#include "db/pg/pg_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace kavelo::db::pg {
namespace {

std::string text_of(const Value& value, bool boolean = false) {
  std::string out;
  append_server_text(out, value, boolean);
  return out;
}

std::string copy_of(const Value& value) {
  std::string out;
  append_copy_field(out, value);
  return out;
}

// (The server store's tests send a value of every kind to a server and read
// it back.) Doubles come back bit for bit; what is no value of the column's
// kind stays text.
TEST(ServerText, DoublesReadBackExactlyAndOtherTextsStayText) {
  for (double d : {0.1, 1.0 / 3, 123456789.123456789, 5e-324, 1.7976931348623157e308, -0.0, 1e22, 2.2250738585072014e-308}) {
    Value back = value_of(text_of(Value(d)), ColumnKind::Double);
    ASSERT_TRUE(back.get_if<double>());
    EXPECT_EQ(std::signbit(*back.get_if<double>()), std::signbit(d));
    EXPECT_EQ(*back.get_if<double>(), d) << text_of(Value(d));
  }
  EXPECT_TRUE(std::isnan(*value_of(text_of(Value(std::nan(""))), ColumnKind::Double).get_if<double>()));
  EXPECT_EQ(value_of("300", ColumnKind::Byte), Value("300"));
  EXPECT_EQ(value_of("2024-01-01 10:00:00.5", ColumnKind::DateTime), Value("2024-01-01 10:00:00.5"));
  EXPECT_EQ(value_of("1e3", ColumnKind::Long), Value("1e3"));
  EXPECT_EQ(value_of("12.34567", ColumnKind::Currency), Value(Currency{123457}));
  EXPECT_EQ(value_of("5000000000", ColumnKind::Untyped), Value(5e9));
}

TEST(ServerText, CopyFieldsEscapeWhatEndsAFieldOrARowAndSumsAreExact) {
  EXPECT_EQ(copy_of(Value()), "\\N");
  EXPECT_EQ(copy_of(Value("\\N")), "\\\\N");
  EXPECT_EQ(copy_of(Value("a\tb\nc\rd\\e")), "a\\tb\\nc\\rd\\\\e");
  EXPECT_EQ(copy_of(Value("\\.")), "\\\\.");
  EXPECT_EQ(copy_of(Value(Currency{5})), "0.0005");
  // A sum of amounts wider than an amount is written exactly.
  std::string sum;
  append_amount(sum, WideAmount{INT64_MAX} * 3);
  EXPECT_EQ(sum, "2767011611056432.7421");
}

// The kind of a server type (a domain names the engine's own), and the value
// of a default expression (Null for one that is no constant).
TEST(ServerTypes, KindsAndDefaults) {
  using K = ColumnKind;
  for (auto [type, domain, kind] : {std::tuple{"int2", "jet_byte", K::Byte}, {"int2", "jet_bit", K::Bit},
                                    {"int2", "", K::Short}, {"bool", "", K::Bit}, {"numeric", "", K::Currency},
                                    {"timestamp", "", K::DateTime}, {"int8", "", K::Untyped}})
    EXPECT_EQ(kind_of_server_type(type, domain), kind) << type << " " << domain;
  EXPECT_EQ(default_of("0", K::Currency), Value(Currency{0}));
  EXPECT_EQ(default_of("'-1'::integer", K::Bit), Value(true));
  EXPECT_EQ(default_of("'-1.5'::numeric", K::Double), Value(-1.5));
  EXPECT_EQ(default_of("'x''y'::character varying", K::Text), Value("x'y"));
  EXPECT_EQ(default_of("'2000-01-02 00:00:00'::timestamp without time zone", K::DateTime), Value(DateTime{2000, 1, 2}));
  EXPECT_EQ(default_of("nextval('s'::regclass)", K::Long), Value());
  EXPECT_EQ(default_of("", K::Long), Value());
}

}  // namespace
}  // namespace kavelo::db::pg

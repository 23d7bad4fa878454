#pragma once
// For the layout tests: checks that every import description must pass, and
// a look at a layout by column. The reference schema serves as a second,
// independent record of each table's columns and types.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "db/column_type.h"
#include "db/company_database.h"
#include "interchange/import_procedure.h"

namespace kavelo::testing {

// The field codes run from the key's "01" on, one per position.
inline void expect_codes_follow_positions(const ImportDescription& d) {
  EXPECT_EQ(d.key_field_code, "01");
  for (std::size_t i = 0; i < d.layout.size(); ++i)
    EXPECT_EQ(d.layout[i].field_code, fmt::format("{:02d}", i + 2)) << d.layout[i].column;
}

// The columns of `table` in the reference schema, by name, with their place.
struct SchemaColumn {
  int place;
  db::ColumnKind kind;
};
inline std::map<std::string, SchemaColumn> reference_columns(const std::string& table) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  char* error = nullptr;
  if (sqlite3_exec(db, db::company_schema_sql(), nullptr, nullptr, &error) != SQLITE_OK) {
    ADD_FAILURE() << (error ? error : "schema");
    sqlite3_free(error);
  }
  std::map<std::string, SchemaColumn> columns;
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, ("PRAGMA table_info(" + table + ")").c_str(), -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) {
    std::string name = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
    const unsigned char* type = sqlite3_column_text(s, 2);
    columns[name] = {sqlite3_column_int(s, 0), db::column_kind(type ? reinterpret_cast<const char*>(type) : "")};
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return columns;
}

inline bool column_takes(db::ColumnKind kind, Conversion conversion) {
  switch (conversion) {
    case Conversion::Text: return kind == db::ColumnKind::Text;
    case Conversion::Number: return kind == db::ColumnKind::Double;
    case Conversion::Amount: return kind == db::ColumnKind::Currency;
    case Conversion::Date: return kind == db::ColumnKind::DateTime;
    case Conversion::Whole16: return kind == db::ColumnKind::Short;
    case Conversion::Whole32: return kind == db::ColumnKind::Long;
    // The engine turns the text into the column's value: dates here.
    case Conversion::TextIfNotEmpty: return kind == db::ColumnKind::DateTime || kind == db::ColumnKind::Text;
  }
  return false;
}

// Every column of the layout is in the table, in the table's order, of a type
// that takes its conversion; the key column is the table's first.
inline void expect_fits_reference_schema(const ImportDescription& d, const std::string& table) {
  const auto columns = reference_columns(table);
  ASSERT_FALSE(columns.empty()) << table;
  auto key = columns.find(std::string(d.key_column));
  ASSERT_NE(key, columns.end()) << d.key_column;
  EXPECT_EQ(key->second.place, 0);
  EXPECT_TRUE(column_takes(key->second.kind,
                           d.key_kind == KeyKind::TextCode ? Conversion::Text : Conversion::Whole32));
  int place = key->second.place;
  for (const LayoutField& field : d.layout) {
    auto found = columns.find(std::string(field.column));
    if (found == columns.end()) {
      ADD_FAILURE() << field.column << " is not a column of " << table;
      continue;
    }
    EXPECT_GT(found->second.place, place) << field.column << " out of the table's order";
    place = found->second.place;
    EXPECT_TRUE(column_takes(found->second.kind, field.conversion)) << field.column;
  }
}

inline std::map<Conversion, int> count_by_conversion(const ImportDescription& d) {
  std::map<Conversion, int> counts;
  for (const LayoutField& field : d.layout) ++counts[field.conversion];
  return counts;
}

// What every import description must pass: a record of `fields` fields (the
// identifier, the key and the layout's), codes by position, the reference
// schema's columns, and `conversions` fields of each conversion.
inline void expect_layout(const ImportDescription& d, const std::string& table, std::size_t fields,
                          const std::map<Conversion, int>& conversions) {
  SCOPED_TRACE(table);
  EXPECT_EQ(d.layout.size() + 2, fields);
  expect_codes_follow_positions(d);
  expect_fits_reference_schema(d, table);
  EXPECT_EQ(count_by_conversion(d), conversions);
}

// The layout's field for `column`; a failure and an empty field when it has none.
inline LayoutField field_of(const ImportDescription& d, std::string_view column) {
  for (const LayoutField& field : d.layout)
    if (field.column == column) return field;
  ADD_FAILURE() << "no field for " << column;
  return {};
}

struct Spot {
  std::string_view column;
  std::string_view field_code;
  Conversion conversion;
};
// The fields where two similar files part ways, as the record tables give them.
inline void expect_spots(const ImportDescription& d, std::initializer_list<Spot> spots) {
  for (const Spot& spot : spots) {
    LayoutField field = field_of(d, spot.column);
    EXPECT_EQ(field.field_code, spot.field_code) << spot.column;
    EXPECT_EQ(field.conversion, spot.conversion) << spot.column;
  }
}

}  // namespace kavelo::testing

#pragma once
// Column types by their declared Jet type names, and how a value of each is
// stored in SQLite and read back.
#include <optional>
#include <string>
#include <string_view>

#include "db/value.h"

struct sqlite3_stmt;

namespace kavelo::db {

enum class ColumnKind { Text, Byte, Short, Long, Double, Currency, DateTime, Bit, Untyped };

struct ColumnInfo {
  std::string name;
  ColumnKind kind = ColumnKind::Untyped;
  int text_size = 0;  // the n of TEXT(n); 0 when the length is free
  bool required = false;
  bool nocase = false;  // text compared without regard to (ASCII) case
  // The decimals an amount keeps in a column of exact decimals that states
  // them (a server's numeric(19,2)); -1: every decimal kavelo writes.
  int decimals = -1;
  Value default_value;  // what a new row holds before anything is written
};

// TEXT(n), LONGTEXT, BYTE, SHORT, LONG, DOUBLE, CURRENCY, DATETIME, BIT, and
// the SQLite names for databases made elsewhere.
ColumnKind column_kind(std::string_view declared_type, int* text_size = nullptr);

// The value the column takes for `value`, converted by the column's type (text
// through the regional settings). Fails when the column cannot take it.
Value convert_for_column(const ColumnInfo& column, const Value& value, const RegionalSettings& regional);
// The same, taking the value's text over instead of copying it.
Value convert_for_column(const ColumnInfo& column, Value&& value, const RegionalSettings& regional);

// Binds a value in its storage form.
// How a bound text is kept: copied by SQLite, or referenced where it is, for
// a statement that is run once and reset while the value still exists (a row
// of 52 texts is then stored without 52 copies).
enum class Binding { Copied, Referenced };
void bind_value(sqlite3_stmt* statement, int index, const Value& value, Binding binding = Binding::Copied);
// Reads a stored value back as a value of the column's kind (a number in a
// text column as the regional settings write it).
Value read_value(sqlite3_stmt* statement, int index, ColumnKind kind, const RegionalSettings& regional);
// A column default as SQLite keeps it (an SQL literal), as a value of the kind.
Value default_from_sql(std::string_view literal, ColumnKind kind);

}  // namespace kavelo::db

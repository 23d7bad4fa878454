#include "db/column_type.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "platform/failure.h"
#include "platform/regional.h"
#include "platform/text.h"

namespace kavelo::db {
namespace {

std::size_t utf8_length(std::string_view s) {
  std::size_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

// Whether `s` holds more characters than a text column of `size` takes (0: no
// limit). A text of no more bytes than that has no more characters either,
// and is not counted.
bool too_long(std::string_view s, int size) {
  return size > 0 && s.size() > static_cast<std::size_t>(size) && utf8_length(s) > static_cast<std::size_t>(size);
}

// A text the column's type cannot read is a conversion error, not the
// regional reader's type mismatch.
template <class F>
auto read_text(F&& read) {
  try {
    return read();
  } catch (const Failure& f) {
    if (f.number() == static_cast<int>(ErrorCode::Overflow)) throw;
    throw failure(ErrorCode::DataTypeConversion);
  }
}

std::optional<Value> number_of_kind(ColumnKind kind, double d);

Value to_whole(ColumnKind kind, const Value& value, const RegionalSettings& regional) {
  double d = value.is_text() ? read_text([&] { return parse_number(*value.get_if<std::string>(), regional); })
                             : to_double(value, regional);
  auto whole = number_of_kind(kind, d);
  if (!whole) throw failure(ErrorCode::Overflow);
  return *whole;
}

Value to_bit(const Value& value, const RegionalSettings& regional) {
  if (auto b = value.get_if<bool>()) return *b;
  if (auto s = value.get_if<std::string>()) {
    std::string u = upper(*s);
    if (u == "VERDADERO" || u == "TRUE" || u == "SÍ" || u == "SI" || u == "YES") return true;
    if (u == "FALSO" || u == "FALSE" || u == "NO") return false;
    return read_text([&] { return parse_number(*s, regional); }) != 0.0;
  }
  return to_double(value, regional) != 0.0;
}

// A stored number as a value of a numeric kind; nullopt beyond its range.
std::optional<Value> number_of_kind(ColumnKind kind, double d) {
  switch (kind) {
    case ColumnKind::Double: return Value(d);
    case ColumnKind::Bit: return Value(d != 0);
    case ColumnKind::Currency:
      if (auto c = currency_from_double(d)) return Value(*c);
      return std::nullopt;
    default: break;
  }
  double r = std::nearbyint(d);
  double low = kind == ColumnKind::Byte ? 0 : kind == ColumnKind::Short ? INT16_MIN : INT32_MIN;
  double high = kind == ColumnKind::Byte ? 255 : kind == ColumnKind::Short ? INT16_MAX : INT32_MAX;
  if (!(r >= low && r <= high)) return std::nullopt;
  if (kind == ColumnKind::Byte) return Value(static_cast<std::uint8_t>(r));
  if (kind == ColumnKind::Short) return Value(static_cast<std::int16_t>(r));
  return Value(static_cast<std::int32_t>(r));
}

}  // namespace

ColumnKind column_kind(std::string_view declared_type, int* text_size) {
  std::string t = upper(declared_type);
  auto open = t.find('(');
  std::string base = t.substr(0, open);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  if (text_size) {
    *text_size = 0;
    if (open != std::string::npos) *text_size = std::atoi(t.c_str() + open + 1);
  }
  if (base == "TEXT" || base == "LONGTEXT" || base == "MEMO" || base == "VARCHAR" || base == "CHAR") {
    if (base == "LONGTEXT" || base == "MEMO") {
      if (text_size) *text_size = 0;
    }
    return ColumnKind::Text;
  }
  if (base == "BYTE") return ColumnKind::Byte;
  if (base == "SHORT" || base == "SMALLINT") return ColumnKind::Short;
  if (base == "LONG" || base == "INTEGER" || base == "INT") return ColumnKind::Long;
  if (base == "DOUBLE" || base == "REAL" || base == "FLOAT") return ColumnKind::Double;
  if (base == "CURRENCY" || base == "MONEY") return ColumnKind::Currency;
  if (base == "DATETIME" || base == "DATE") return ColumnKind::DateTime;
  if (base == "BIT" || base == "YESNO" || base == "BOOLEAN") return ColumnKind::Bit;
  if (text_size) *text_size = 0;
  return ColumnKind::Untyped;
}

namespace {

// A text the column takes: short enough, and without the character 0, which
// a server cannot keep in a text and most readers of a file take for its end
// (a file of two-byte characters sent by mistake is full of them).
void check_text(const ColumnInfo& column, std::string_view text) {
  if (too_long(text, column.text_size)) throw failure(ErrorCode::TextTooLong, column.name);
  if (text.find('\0') != std::string_view::npos) throw failure(ErrorCode::NulInText, column.name);
}

}  // namespace

Value convert_for_column(const ColumnInfo& column, const Value& value, const RegionalSettings& regional) {
  if (value.is_null()) return value;
  switch (column.kind) {
    case ColumnKind::Text: {
      std::string text = to_text(value, regional);
      check_text(column, text);
      return Value(std::move(text));
    }
    case ColumnKind::Byte:
    case ColumnKind::Short:
    case ColumnKind::Long: return to_whole(column.kind, value, regional);
    case ColumnKind::Double:
      if (auto s = value.get_if<std::string>()) return read_text([&] { return parse_number(*s, regional); });
      return to_double(value, regional);
    case ColumnKind::Currency: {
      if (auto c = value.get_if<Currency>()) return *c;
      if (auto s = value.get_if<std::string>()) return read_text([&] { return parse_currency(*s, regional); });
      auto c = currency_from_double(to_double(value, regional));
      if (!c) throw failure(ErrorCode::Overflow);
      return *c;
    }
    case ColumnKind::DateTime: {
      if (value.is_date()) return value;
      if (auto s = value.get_if<std::string>()) return read_text([&] { return parse_date(*s, regional); });
      auto d = from_serial(to_double(value, regional));
      if (!d) throw failure(ErrorCode::Overflow);
      return *d;
    }
    case ColumnKind::Bit: return to_bit(value, regional);
    case ColumnKind::Untyped: return value;
  }
  return value;
}

Value convert_for_column(const ColumnInfo& column, Value&& value, const RegionalSettings& regional) {
  if (column.kind != ColumnKind::Text || !value.get_if<std::string>())
    return convert_for_column(column, value, regional);
  check_text(column, *value.get_if<std::string>());
  return std::move(value);
}

void bind_value(sqlite3_stmt* statement, int index, const Value& value, Binding binding) {
  const auto& v = value.storage();
  if (std::holds_alternative<Null>(v)) {
    sqlite3_bind_null(statement, index);
  } else if (auto s = std::get_if<std::string>(&v)) {
    sqlite3_bind_text(statement, index, s->data(), static_cast<int>(s->size()),
                      binding == Binding::Referenced ? SQLITE_STATIC : SQLITE_TRANSIENT);
  } else if (auto b = std::get_if<bool>(&v)) {
    sqlite3_bind_int(statement, index, *b ? -1 : 0);
  } else if (auto d = std::get_if<double>(&v)) {
    sqlite3_bind_double(statement, index, *d);
  } else if (auto c = std::get_if<Currency>(&v)) {
    sqlite3_bind_double(statement, index, to_double(*c));
  } else if (auto t = std::get_if<DateTime>(&v)) {
    std::string iso = to_iso(*t);
    sqlite3_bind_text(statement, index, iso.data(), static_cast<int>(iso.size()), SQLITE_TRANSIENT);
  } else if (auto n = std::get_if<std::int32_t>(&v)) {
    sqlite3_bind_int64(statement, index, *n);
  } else if (auto m = std::get_if<std::int16_t>(&v)) {
    sqlite3_bind_int64(statement, index, *m);
  } else if (auto byte = std::get_if<std::uint8_t>(&v)) {
    sqlite3_bind_int64(statement, index, *byte);
  }
}

Value read_value(sqlite3_stmt* statement, int index, ColumnKind kind, const RegionalSettings& regional) {
  int type = sqlite3_column_type(statement, index);
  if (type == SQLITE_NULL) return Null{};
  auto text = [&] {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
  };
  switch (kind) {
    case ColumnKind::Text:
      return type == SQLITE_TEXT ? Value(text())
                                 : to_text(read_value(statement, index, ColumnKind::Untyped, regional), regional);
    case ColumnKind::Byte:
    case ColumnKind::Short:
    case ColumnKind::Long:
    case ColumnKind::Double:
    case ColumnKind::Currency:
    case ColumnKind::Bit:
      // A whole amount (most balances are 0) needs no rounding from a double.
      if (kind == ColumnKind::Currency && type == SQLITE_INTEGER) {
        const sqlite3_int64 n = sqlite3_column_int64(statement, index);
        if (n >= INT64_MIN / Currency::kScale && n <= INT64_MAX / Currency::kScale)
          return Value(Currency{n * Currency::kScale});
      }
      if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        if (auto value = number_of_kind(kind, sqlite3_column_double(statement, index))) return *value;
      }
      // A value stored by another program beyond the column's range.
      return read_value(statement, index, ColumnKind::Untyped, regional);
    case ColumnKind::DateTime:
      if (type == SQLITE_TEXT) {
        std::string s = text();
        if (auto d = from_iso(s)) return *d;
        return Value(std::move(s));
      }
      if (auto d = from_serial(sqlite3_column_double(statement, index))) return *d;
      return read_value(statement, index, ColumnKind::Untyped, regional);
    case ColumnKind::Untyped:
      if (type == SQLITE_INTEGER) {
        sqlite3_int64 n = sqlite3_column_int64(statement, index);
        if (n >= INT32_MIN && n <= INT32_MAX) return Value(static_cast<std::int32_t>(n));
        return Value(static_cast<double>(n));
      }
      if (type == SQLITE_FLOAT) return Value(sqlite3_column_double(statement, index));
      return Value(text());
  }
  return Null{};
}

Value default_from_sql(std::string_view literal, ColumnKind kind) {
  if (literal.empty() || upper(literal) == "NULL") return Null{};
  std::string body(literal);
  if (body.size() >= 2 && body.front() == '\'' && body.back() == '\'') {
    std::string unquoted;
    for (std::size_t i = 1; i + 1 < body.size(); ++i) {
      unquoted += body[i];
      if (body[i] == '\'') ++i;
    }
    if (kind == ColumnKind::DateTime)
      if (auto d = from_iso(unquoted)) return *d;
    return Value(std::move(unquoted));
  }
  if (body.front() == '(') return Null{};  // an expression: only SQLite knows its value
  double d = 0;
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), d);
  if (ec != std::errc() || end != body.data() + body.size()) return Null{};
  ColumnInfo column;
  column.kind = kind;
  try {
    // A number needs no regional settings.
    return convert_for_column(column, Value(d), RegionalSettings::spanish());
  } catch (const Failure&) {
    return Value(d);
  }
}

}  // namespace kavelo::db

#pragma once
// Values as the server reads and writes them in text: exact decimals for
// amounts, the fewest digits that read back exactly for doubles, dates as
// YYYY-MM-DD HH:MM:SS, a yes/no as -1/0 (or true/false in a boolean column);
// rows for COPY in its text format; and the server's types as column kinds.
#include <optional>
#include <string>
#include <string_view>

#include "db/column_type.h"
#include "db/value.h"

namespace kavelo::db::pg {

// A count of ten-thousandths wide enough for any sum of amounts.
__extension__ typedef __int128 WideAmount;

// Appends the text the server reads as `value` (not Null); `boolean` for a
// yes/no column of the server's boolean type.
void append_server_text(std::string& out, const Value& value, bool boolean = false);
// The same as a parameter: nullopt for Null.
std::optional<std::string> server_text(const Value& value, bool boolean = false);
// "-12.3400".
void append_amount(std::string& out, WideAmount ten_thousandths);

// Appends `value` as one field of a COPY text row: \N for Null, the
// backslash, tab, newline and carriage return escaped.
void append_copy_field(std::string& out, const Value& value, bool boolean = false);

// A value the server wrote as `text`, as a value of the column's kind; the
// text itself when it is none (a value stored by another program).
Value value_of(std::string_view text, ColumnKind kind, bool boolean = false);

// The kind of a column by its type's name in pg_type ("varchar", "int4",
// "numeric"...) and its domain's name (empty for none): the domains jet_byte
// and jet_bit tell a byte and a yes/no from the smallint they are.
ColumnKind kind_of_server_type(std::string_view type, std::string_view domain);

// A column default as the server shows it ("0", "'x'::character varying",
// "'-1'::integer", "nextval(...)") as a value of the kind; Null for an
// expression only the server can work out.
Value default_of(std::string_view expression, ColumnKind kind);

}  // namespace kavelo::db::pg

#pragma once
// The reference company schema in the server's DDL, and SQL scripts cut into
// statements: what kavelo-db needs to make and fill a server database.
#include <string>
#include <string_view>
#include <vector>

#include "db/column_type.h"

namespace kavelo::db::pg {

// The form of a text (SQL) that a key without case compares and indexes: lower
// case by the server's ICU rules, the same wherever it runs.
std::string folded_key(std::string_view value);

// The server type a column of the kind gets: "varchar(50)", "text",
// "numeric(19,4)", the domains "jet_byte" and "jet_bit"...; empty for Untyped.
std::string server_type_name(ColumnKind kind, int text_size = 0);

// The server's statements for the schema an SQLite script makes: the domains
// jet_byte and jet_bit, then each table with its columns, defaults, primary
// and unique keys and CHECK rules, then the other indexes; a key with a text
// column that compares without case is a unique index of its folded form
// (folded_key), beside the primary key. Names are the schema's in lower case. Throws std::runtime_error for what it cannot
// translate.
std::vector<std::string> server_schema_statements(std::string_view sqlite_schema_sql);

// The statements of a script, without their ";" and surrounding blanks. A ";"
// inside a 'text', a "name", a $$ or $tag$ body, or a -- or /* */ comment
// ends nothing.
std::vector<std::string> script_statements(std::string_view script);

}  // namespace kavelo::db::pg

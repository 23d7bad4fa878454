#pragma once
// The reference company schema in the server's DDL, and SQL scripts cut into
// statements: what kavelo-db needs to make and fill a server database.
#include <string>
#include <string_view>
#include <vector>

#include "db/column_type.h"

namespace kavelo::db::pg {

// The server type a column of the kind gets: "varchar(50)", "text",
// "numeric(19,4)", the domains "jet_byte" and "jet_bit"...; empty for Untyped.
std::string server_type_name(ColumnKind kind, int text_size = 0);

// The server's statements for the schema an SQLite script makes: the
// collation kavelo_nocase when a text column compares without case, the
// domains jet_byte and jet_bit, then each table with its columns, defaults,
// primary and unique keys and CHECK rules, then the other indexes. Names are
// the schema's in lower case. Throws std::runtime_error for what it cannot
// translate.
std::vector<std::string> server_schema_statements(std::string_view sqlite_schema_sql);

// The statements of a script, without their ";" and surrounding blanks. A ";"
// inside a 'text', a "name", a $$ or $tag$ body, or a -- or /* */ comment
// ends nothing.
std::vector<std::string> script_statements(std::string_view script);

}  // namespace kavelo::db::pg

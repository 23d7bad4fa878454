#pragma once
// The engine's column kinds and the server's types (PostgreSQL), both ways:
// what a column of a server type holds, as the engine reads it, and the
// server type kavelo-db create gives a column of each kind.
#include <string>

#include "db/column_type.h"

namespace kavelo::db::odbc {

// By information_schema.columns: data_type, and domain_name for the kinds
// whose server type is shared (a byte and a yes/no are both smallint).
// Untyped for a type the engine has no kind for.
ColumnKind kind_of_server_type(const std::string& type, const std::string& domain);

// "varchar(50)", "text" (a text of any length), "jet_byte", "smallint",
// "integer", "double precision", "numeric(19,4)", "timestamp", "jet_bit";
// empty for Untyped.
std::string server_type_of(ColumnKind kind, int text_size = 0);

}  // namespace kavelo::db::odbc

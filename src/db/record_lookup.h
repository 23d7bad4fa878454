#pragma once
// Reading one row by its key columns, and quoting text for SQL literals.
#include <string>
#include <string_view>

#include "db/row.h"

namespace kavelo::db {

// Every single quote written twice; anything else unchanged. A value that is
// not text is first turned into its text form.
std::string DoblarComillas(const Value& value);

// The conditions of a key list joined by " AND ": name = 'text', name = #mm/dd/yyyy#,
// or name =value for any other value.
std::string key_conditions(const KeyList& keys);

// The first row of `table` that meets the key list, or an empty Row. Gives up
// opening with the message "error en apertura de base de datos".
Row LeerRegistro(std::string_view table, const std::string& path, const KeyList& keys);

}  // namespace kavelo::db

namespace kavelo::db {
// "SELECT * FROM  " & table & " WHERE " & the key conditions: the query by
// which a row is read or written by its key.
std::string keyed_query(std::string_view table, const KeyList& keys);
}  // namespace kavelo::db

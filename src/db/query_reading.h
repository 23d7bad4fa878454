#pragma once
// Running a query for its first row, and writing one row by key.
#include <string>
#include <string_view>

#include "db/row.h"

namespace kavelo::db {

// The first row of the query's result, or an empty Row also when the query
// cannot be run. Gives up opening with "Error en apertura de base de datos".
Row LeerConsulta(std::string_view sql, const std::string& path);

// Changes the row of `table` that the key list finds, or adds it, writing only
// the columns that have an item in `values`. A write that fails is counted and
// skipped; when not every item found its column, the message box
// "Hay errores en escribir registro nuevo" is shown before the store.
void GrabarRegistro(std::string_view table, const Row& values, const std::string& path, const KeyList& keys);

}  // namespace kavelo::db

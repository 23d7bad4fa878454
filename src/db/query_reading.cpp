#include "db/query_reading.h"

#include "db/open_retry.h"
#include "db/record_lookup.h"
#include "platform/failure.h"
#include "platform/window.h"

namespace kavelo::db {

Row LeerConsulta(std::string_view sql, const std::string& path) {
  Database database = open_with_retry(path, "Error en apertura de base de datos");
  Row row;
  // A query that cannot be run gives a row without the columns the caller
  // expects, and the caller fails when it reads one: no failure is reported here.
  try {
    Recordset records = database.open_recordset(sql);
    if (records.eof()) return row;
    records.move_first();
    for (int i = 0; !records.eof() && i < records.field_count(); ++i) row.add(records.field_name(i), records.get(i));
  } catch (const Failure&) {
  }
  return row;
}

void GrabarRegistro(std::string_view table, const Row& values, const std::string& path, const KeyList& keys) {
  Database database = open_with_retry(path, "error en apertura de base de datos");
  Recordset records = database.open_recordset(keyed_query(table, keys));
  if (records.eof())
    records.add_new();
  else
    records.edit();

  // From here every failure is counted and passed over.
  std::size_t failed = 0;
  for (int i = 0; i < records.field_count(); ++i) {
    try {
      const std::string& name = records.field_name(i);
      records.set(name, values.at(name));
    } catch (const Failure&) {
      ++failed;
    }
  }
  if (static_cast<std::size_t>(records.field_count()) != failed + values.size()) {
    Engine::instance().commit();
    main_window().message_box("Hay errores en escribir registro nuevo");
  }
  try {
    records.update();
  } catch (const Failure&) {
  }
}

}  // namespace kavelo::db

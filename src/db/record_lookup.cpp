#include "db/record_lookup.h"

#include <fmt/format.h>

#include "db/open_retry.h"

namespace kavelo::db {
namespace {

std::string condition(const std::string& name, const Value& value) {
  if (auto d = value.get_if<DateTime>()) return fmt::format("{} = #{:02}/{:02}/{:04}#", name, d->month, d->day, d->year);
  if (value.is_text()) return name + " = '" + DoblarComillas(value) + "'";
  if (auto b = value.get_if<bool>()) return name + " =" + (*b ? "True" : "False");
  return name + " =" + to_text(value);
}

}  // namespace

std::string DoblarComillas(const Value& value) {
  std::string text = to_text(value);
  std::string result;
  result.reserve(text.size() + 2);
  for (char c : text) {
    result += c;
    if (c == '\'') result += '\'';
  }
  return result;
}

std::string key_conditions(const KeyList& keys) {
  std::string joined;
  for (const auto& [name, value] : keys) {
    if (!joined.empty()) joined += " AND ";
    joined += condition(name, value);
  }
  return joined;
}

std::string keyed_query(std::string_view table, const KeyList& keys) {
  return "SELECT * FROM  " + std::string(table) + " WHERE " + key_conditions(keys);
}

Row LeerRegistro(std::string_view table, const std::string& path, const KeyList& keys) {
  Database database = open_with_retry(path, "error en apertura de base de datos");
  Recordset records = database.open_recordset(keyed_query(table, keys), RecordsetType::ForwardOnly);
  Row row;
  if (!records.eof()) {
    for (int i = 0; i < records.field_count(); ++i) row.add(records.field_name(i), records.get(i));
  }
  return row;
}

}  // namespace kavelo::db

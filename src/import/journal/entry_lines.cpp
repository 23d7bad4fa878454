#include "import/journal/entry_lines.h"

#include <fmt/format.h>

#include "db/open_retry.h"
#include "platform/text.h"

namespace kavelo {

std::string jet_date_literal(const DateTime& date) {
  std::string literal = "#";
  literal.reserve(21);
  append_joined(literal, '/', {{date.month, 2}, {date.day, 2}, {date.year, 4}});
  if (date.has_time()) append_time(literal, date);
  return literal + '#';
}

std::string entry_lines_query(std::int16_t journal, const DateTime& date, std::int32_t entry) {
  return fmt::format("SELECT * FROM F_APU WHERE DIAAPU={} AND FECAPU={} AND ASIAPU={} ORDER BY ORDAPU;", journal,
                     jet_date_literal(date), entry);
}

std::vector<db::Row> LeerApuntesAsiento(std::int16_t journal, const DateTime& date, std::int32_t entry,
                                        const std::string& path) {
  std::vector<db::Row> lines;
  db::Database database = db::open_with_retry(path, "No es posible abrir la base de datos: " + path);
  db::Recordset records = database.open_recordset(entry_lines_query(journal, date, entry));
  for (; !records.eof(); records.move_next()) {
    db::Row line;
    for (int i = 0; i < records.field_count(); ++i) line.add(records.field_name(i), records.get(i));
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace kavelo

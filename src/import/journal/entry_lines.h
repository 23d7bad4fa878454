#pragma once
// The lines of one entry, read back from F_APU, and the date literal that the
// journal's queries are written with.
#include <cstdint>
#include <string>
#include <vector>

#include "db/row.h"
#include "platform/date_time.h"

namespace kavelo {

// "#03/15/2011#": month, day and year. A date that carries a time of day gets
// it too ("#03/15/2011 10:30:00#"), so that a line stored with a time is found
// again by the same values it was stored with.
std::string jet_date_literal(const DateTime& date);

// "SELECT * FROM F_APU WHERE DIAAPU=1 AND FECAPU=#03/15/2011# AND ASIAPU=5 ORDER BY ORDAPU;"
std::string entry_lines_query(std::int16_t journal, const DateTime& date, std::int32_t entry);

// The lines stored under the journal, date and entry number, lowest ORDAPU
// first; each line holds every column of F_APU, by name and by position. Gives
// up opening with "No es posible abrir la base de datos: " and the path.
std::vector<db::Row> LeerApuntesAsiento(std::int16_t journal, const DateTime& date, std::int32_t entry,
                                        const std::string& path);

}  // namespace kavelo

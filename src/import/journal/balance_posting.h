#pragma once
// Posting a stored journal line to the monthly balances of F_SAL, at the
// account's own code and at every shorter code the company's FRMEMP marks.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"
#include "platform/date_time.h"

namespace kavelo {

// The codes a line on `account` is posted to, its own first, then every
// shorter prefix whose length has "1" in `frmemp` (Null: none), longest first.
// Lengths count characters, not bytes.
std::vector<std::string> balance_levels(std::string_view account, const db::Value& frmemp);

// The selection of the one line to post.
std::string posting_selection(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order);
// "SELECT * FROM F_SAL WHERE DIASAL=1 AND (CUESAL='4300001' OR CUESAL='430' );"
// Quotes in the codes are doubled.
std::string balance_rows_query(std::string_view journal, const std::vector<std::string>& levels);

// The running total plus an amount. A total or an amount that holds no value
// counts as 0, so that neither swallows the other.
db::Value add_amount(const db::Value& total, const db::Value& amount);

// Posts the line stored under journal, date, entry and order to F_SAL: into the
// "P"/"E" & side & month & "SAL" columns of the line's journal, with the month of
// `date`, adding the rows that are missing. The levels come from FRMEMP of
// run().RegistroEmpresa. A line without an account posts nothing. Failures
// reach the caller; gives up opening with its own message.
void SaldarApuntes(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order,
                   const std::string& path);

}  // namespace kavelo

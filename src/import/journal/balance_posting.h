#pragma once
// Posting a stored journal line to the monthly balances of F_SAL, at the
// account's own code and at every shorter code the company's FRMEMP marks.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/store.h"
#include "platform/regional.h"

namespace kavelo {

// The codes a line on `account` is posted to, its own first, then every
// shorter prefix whose length has "1" in `frmemp` (Null: none), longest first.
// Lengths count characters, not bytes.
std::vector<std::string> balance_levels(std::string_view account, const db::Value& frmemp,
                                        const RegionalSettings& regional);

// Fails (NarrowBalance) when a monthly column of `balances` keeps fewer
// decimals than the amounts of `lines` (F_APU) can hold: its sums would not
// be those of the lines.
void check_balance_decimals(const db::Table& balances, const db::Table& lines);

// The postings of a group of lines, held until they are written together: the
// amounts of each balance row in the order the lines gave them.
class BalancePosting {
 public:
  // `company_levels`: the company's FRMEMP, no value when the company record
  // could not be read or has none (a line with an account then fails).
  BalancePosting(const db::Table& balances, const std::optional<db::Value>& company_levels,
                 const RegionalSettings& regional);

  // Posts a line of `journal` on `account` and side `side`, dated in `month`:
  // its amounts go to the "P" (pesetas) and "E" (euros) & side & month & "SAL"
  // columns of the journal's balance rows at every level of the account, a
  // missing row added. A line without an account posts nothing. A side
  // without such columns fails. Where the table may refuse a change, the
  // line's changes are written at once: the refusal is that line's.
  void post(db::Store& store, const db::Value& journal, const db::Value& account, const db::Value& side, int month,
            const db::Value& pesetas, const db::Value& euros);
  // Writes what is held.
  void flush(db::Store& store);
  // Forgets what is held.
  void discard();

 private:
  int column(const std::string& name);

  const db::Table& table_;
  db::Key key_;  // DIASAL, CUESAL
  const std::optional<db::Value>& company_levels_;
  const RegionalSettings& regional_;
  std::vector<db::Addition> held_;
  std::unordered_map<std::string, std::size_t> by_row_;
  std::unordered_map<std::string, int> columns_;
};

}  // namespace kavelo

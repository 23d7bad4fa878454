#pragma once
// The invariant of the balances: for every journal, account level, month and
// side, each monthly column of F_SAL holds what it held before plus the amounts
// of the journal lines stored since. Tests and benchmarks run it after an
// import; kavelo-db offers it as `check`.
#include <compare>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/currency.h"

namespace kavelo {

// One monthly column of one balance row.
struct BalanceKey {
  std::int16_t journal = 0;
  std::string account;  // upper-cased: F_SAL tells no case apart in its codes
  std::string column;   // upper-cased, "PD3SAL"
  auto operator<=>(const BalanceKey&) const = default;
};

// A monthly column of F_SAL by its name: 'P' (IMPAPU) or 'E' (IMEAPU), the
// side and the month, as in "PD10SAL"; nullopt for any other column.
struct MonthlyColumn {
  char kind = 'P';
  std::string side;
  int month = 0;
};
std::optional<MonthlyColumn> monthly_column(std::string_view name);

// The monthly columns of F_SAL, a column that holds no value counted as 0.
std::map<BalanceKey, Currency> read_balances(const std::string& path);

struct BalanceCheck {
  std::int64_t lines = 0;  // the lines whose amounts were expected in the balances
  std::int64_t rows = 0;   // the balance rows compared
  std::vector<std::string> mismatches;  // one text for a person per disagreement
  bool ok() const { return mismatches.empty(); }
};

// Checks the database at `path`. Without a baseline every line of F_APU counts
// and the balances start from nothing. With `baseline` (a copy of the database
// taken before the import) the balances start from the baseline's, a line
// counts unless the baseline holds it already with the same account, side and
// amounts (a line rewritten with the very values it had cannot be told from
// one left alone), and a line the baseline holds with other values takes
// those out of where they went. The levels come from FRMEMP of the company `company`, or of
// the only company of F_EMP when it is not given.
BalanceCheck check_balances(const std::string& path, const std::optional<std::string>& baseline = std::nullopt,
                            const std::optional<std::string>& company = std::nullopt);

// "1180,00", "-0,5000": two decimals unless more are needed.
std::string format_amount(Currency amount);

}  // namespace kavelo

#include "import/journal/balance_posting.h"

#include <algorithm>

#include "import/journal/balance_invariant.h"
#include "platform/failure.h"

namespace kavelo {
namespace {

// Where each character of a UTF-8 text ends, so that the first i characters
// are text.substr(0, ends[i - 1]).
std::vector<std::size_t> character_ends(std::string_view text) {
  std::vector<std::size_t> ends;
  for (std::size_t i = 1; i <= text.size(); ++i)
    if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ends.push_back(i);
  return ends;
}

}  // namespace

std::vector<std::string> balance_levels(std::string_view account, const db::Value& frmemp,
                                        const RegionalSettings& regional) {
  const std::string mask = db::to_text(frmemp, regional);  // Null: the empty text, no marks
  const std::vector<std::size_t> mask_ends = character_ends(mask);
  // Whether the i-th character of the mask (from 1) is "1".
  auto marked = [&](std::size_t i) {
    if (i > mask_ends.size()) return false;
    std::size_t begin = i == 1 ? 0 : mask_ends[i - 2];
    return std::string_view(mask).substr(begin, mask_ends[i - 1] - begin) == "1";
  };

  const std::vector<std::size_t> ends = character_ends(account);
  std::vector<std::string> levels;
  for (std::size_t i = ends.size(); i >= 1; --i)
    if (i == ends.size() || marked(i)) levels.emplace_back(account.substr(0, ends[i - 1]));
  return levels;
}

void check_balance_decimals(const db::Table& balances, const db::Table& lines) {
  // Every decimal kavelo writes is four.
  auto decimals = [](const db::ColumnInfo& c) { return c.decimals < 0 ? 4 : std::min(c.decimals, 4); };
  int posted = 0;
  for (const char* amount : {"IMPAPU", "IMEAPU"})
    if (int at = lines.find(amount); at >= 0 && lines.columns[static_cast<std::size_t>(at)].kind == db::ColumnKind::Currency)
      posted = std::max(posted, decimals(lines.columns[static_cast<std::size_t>(at)]));
  for (const db::ColumnInfo& column : balances.columns)
    if (column.kind == db::ColumnKind::Currency && monthly_column(column.name) && decimals(column) < posted)
      throw failure(ErrorCode::NarrowBalance, column.name);
}

BalancePosting::BalancePosting(const db::Table& balances, const std::optional<db::Value>& company_levels,
                               const RegionalSettings& regional)
    : table_(balances), key_(balances.key({"DIASAL", "CUESAL"})), company_levels_(company_levels), regional_(regional) {}

int BalancePosting::column(const std::string& name) {
  auto it = columns_.find(name);
  if (it == columns_.end()) it = columns_.emplace(name, table_.at(name)).first;
  return it->second;
}

void BalancePosting::post(db::Store& store, const db::Value& journal, const db::Value& account, const db::Value& side, int month,
                          const db::Value& pesetas, const db::Value& euros) {
  const std::string code = db::to_text(account, regional_);
  if (code.empty()) return;
  // A company record that could not be read, or one without the column, fails here.
  if (!company_levels_) throw failure(ErrorCode::ItemNotFound, "FRMEMP");
  const std::vector<std::string> levels = balance_levels(code, *company_levels_, regional_);
  const std::string side_text = db::to_text(side, regional_);
  const std::string month_text = std::to_string(month);
  const int p = column("P" + side_text + month_text + "SAL");
  const int e = column("E" + side_text + month_text + "SAL");
  const std::string journal_text = db::to_text(journal, regional_) + '\n';
  for (const std::string& level : levels) {
    auto [it, added] = by_row_.try_emplace(journal_text + level, held_.size());
    if (added) held_.push_back({{journal, db::Value(level)}, {}});
    std::vector<std::pair<int, db::Value>>& amounts = held_[it->second].amounts;
    amounts.emplace_back(p, pesetas);
    amounts.emplace_back(e, euros);
  }
  if (table_.refuses_changes) flush(store);
}

void BalancePosting::flush(db::Store& store) {
  if (held_.empty()) return;
  std::vector<db::Addition> held = std::move(held_);
  discard();
  store.add(table_, key_, std::move(held));
}

void BalancePosting::discard() {
  held_.clear();
  by_row_.clear();
}

}  // namespace kavelo

#include "import/journal/balance_invariant.h"

#include <fmt/format.h>

#include <cctype>
#include <cstdlib>
#include <set>
#include <tuple>

#include "db/open_store.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo {
namespace {

using RowKey = std::pair<std::int16_t, std::string>;  // journal, account

// What is read here holds numbers and codes, no text by the regional settings.
const RegionalSettings kRegional = RegionalSettings::spanish();

std::unique_ptr<db::Store> open(const std::string& path) { return db::open_store(path, db::kWriteBusyWait, kRegional); }

Currency amount_of(const db::Value& value) {
  if (value.is_null()) return {};
  if (auto c = value.get_if<Currency>()) return *c;
  auto c = currency_from_double(db::to_double(value, kRegional));
  if (!c) throw failure(ErrorCode::Overflow);
  return *c;
}

struct BalanceTable {
  std::set<std::string> columns;  // upper-cased monthly columns
  std::set<RowKey> rows;
  std::map<BalanceKey, Currency> amounts;
};

BalanceTable read_balance_table(const std::string& path) {
  BalanceTable table;
  auto store = open(path);
  const db::Table& balances = store->table("F_SAL");
  std::vector<std::pair<std::size_t, std::string>> monthly;  // position, upper-cased name
  for (std::size_t i = 0; i < balances.columns.size(); ++i) {
    if (!monthly_column(balances.columns[i].name)) continue;
    monthly.emplace_back(i, upper(balances.columns[i].name));
    table.columns.insert(upper(balances.columns[i].name));
  }
  const auto journal_at = static_cast<std::size_t>(balances.at("DIASAL"));
  const auto account_at = static_cast<std::size_t>(balances.at("CUESAL"));
  store->scan(balances, [&](const db::Row& row) {
    auto journal = db::to_int16(row[journal_at], kRegional);
    std::string account = upper(db::to_text(row[account_at], kRegional));
    table.rows.emplace(journal, account);
    for (const auto& [i, name] : monthly) table.amounts[{journal, account, name}] = amount_of(row[i]);
  });
  return table;
}

struct Line {
  std::int16_t journal;
  DateTime date;
  std::int32_t entry;
  std::int32_t order;
  std::string account;
  std::string side;
  Currency p_amount;
  Currency e_amount;

  auto key() const { return std::tie(journal, date, entry, order); }
  auto posting() const { return std::tie(account, side, p_amount, e_amount); }
};

std::vector<Line> read_lines(const std::string& path) {
  auto store = open(path);
  const db::Table& table = store->table("F_APU");
  std::vector<std::size_t> at;
  for (const char* name : {"DIAAPU", "FECAPU", "ASIAPU", "ORDAPU", "CUEAPU", "D-HAPU", "IMPAPU", "IMEAPU"})
    at.push_back(static_cast<std::size_t>(table.at(name)));
  std::vector<Line> lines;
  store->scan(table, [&](const db::Row& row) {
    const db::Value& date = row[at[1]];
    if (!date.is_date()) throw failure(ErrorCode::TypeMismatch);
    lines.push_back({db::to_int16(row[at[0]], kRegional), *date.get_if<DateTime>(), db::to_int32(row[at[2]], kRegional),
                     db::to_int32(row[at[3]], kRegional), db::to_text(row[at[4]], kRegional),
                     db::to_text(row[at[5]], kRegional), amount_of(row[at[6]]), amount_of(row[at[7]])});
  });
  return lines;
}

std::string company_mask(const std::string& path, const std::optional<std::string>& company) {
  auto store = open(path);
  const db::Table& table = store->table("F_EMP");
  const auto code_at = static_cast<std::size_t>(table.at("CODEMP"));
  const auto mask_at = static_cast<std::size_t>(table.at("FRMEMP"));
  std::vector<std::pair<std::string, std::string>> companies;  // code, mask
  store->scan(table, [&](const db::Row& row) {
    companies.emplace_back(db::to_text(row[code_at], kRegional), db::to_text(row[mask_at], kRegional));
  });
  if (company) {
    for (const auto& [code, mask] : companies)
      if (upper(code) == upper(*company)) return mask;
    throw std::runtime_error(fmt::format("La empresa '{}' no está en F_EMP.", *company));
  }
  if (companies.size() != 1)
    throw std::runtime_error(fmt::format("F_EMP tiene {} empresas: hay que decir cuál.", companies.size()));
  return companies.front().second;
}

void add(Currency& total, Currency amount) {
  if (__builtin_add_overflow(total.ten_thousandths, amount.ten_thousandths, &total.ten_thousandths))
    throw failure(ErrorCode::Overflow);
}

}  // namespace

std::optional<MonthlyColumn> monthly_column(std::string_view name) {
  std::string n = upper(std::string(name));
  if (n.size() < 5 || (n[0] != 'P' && n[0] != 'E') || !n.ends_with("SAL")) return std::nullopt;
  std::string body = n.substr(1, n.size() - 4);  // side and month
  // The month is the last one or two digits: 10 to 12 take two.
  std::size_t digits = 0;
  auto digit_at_end = [&](std::size_t back) {
    return std::isdigit(static_cast<unsigned char>(body[body.size() - 1 - back])) != 0;
  };
  while (digits < 2 && digits < body.size() && digit_at_end(digits)) ++digits;
  if (digits == 0) return std::nullopt;
  int month = std::atoi(body.c_str() + body.size() - digits);
  if (digits == 2 && (month < 10 || month > 12)) month = body.back() - '0', digits = 1;
  if (month < 1 || month > 12) return std::nullopt;
  return MonthlyColumn{n[0], body.substr(0, body.size() - digits), month};
}

std::map<BalanceKey, Currency> read_balances(const std::string& path) { return read_balance_table(path).amounts; }

std::string format_amount(Currency amount) {
  std::int64_t v = amount.ten_thousandths;
  bool negative = v < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  std::uint64_t whole = magnitude / 10000, fraction = magnitude % 10000;
  std::string text = fraction % 100 == 0 ? fmt::format("{},{:02}", whole, fraction / 100)
                                         : fmt::format("{},{:04}", whole, fraction);
  return negative ? "-" + text : text;
}

namespace {

// What the balances should hold: the baseline's, plus every counted line at each
// of its levels. Columns a counted line needs and F_SAL lacks are noted.
struct Expected {
  std::map<BalanceKey, Currency> amounts;
  std::set<RowKey> rows;
  std::set<std::string> missing_columns;
  std::int64_t lines = 0;
};

Expected expected_balances(const std::vector<Line>& lines, const std::vector<Line>& earlier,
                           const BalanceTable& before, const std::set<std::string>& columns,
                           const std::vector<std::string>& mask) {
  std::map<std::tuple<std::int16_t, DateTime, std::int32_t, std::int32_t>, const Line*> earlier_by_key;
  for (const Line& line : earlier) earlier_by_key[line.key()] = &line;

  Expected expected{before.amounts, before.rows, {}, 0};
  // The line's amounts go to (or, `out`, come out of) each of its levels.
  auto post = [&](const Line& line, bool out) {
    const std::vector<std::string> code = utf8_characters(line.account);
    const std::string month = std::to_string(line.date.month);
    std::string prefix;
    for (std::size_t i = 1; i <= code.size(); ++i) {
      prefix += code[i - 1];
      bool level = i == code.size() || (i <= mask.size() && mask[i - 1] == "1");
      if (!level) continue;
      RowKey row{line.journal, upper(prefix)};
      expected.rows.insert(row);
      for (const char* kind : {"P", "E"}) {
        std::string column = kind + upper(line.side) + month + "SAL";
        if (!columns.count(column)) expected.missing_columns.insert(column);
        Currency amount = *kind == 'P' ? line.p_amount : line.e_amount;
        if (out) amount.ten_thousandths = -amount.ten_thousandths;
        add(expected.amounts[{row.first, row.second, column}], amount);
      }
    }
  };
  for (const Line& line : lines) {
    // A line rewritten since takes its old amounts out of where they went.
    auto it = earlier_by_key.find(line.key());
    if (it != earlier_by_key.end()) {
      if (it->second->posting() == line.posting()) continue;
      post(*it->second, true);
    }
    ++expected.lines;
    post(line, false);
  }
  return expected;
}

std::vector<std::string> differences(const Expected& expected, const BalanceTable& now) {
  std::vector<std::string> out;
  for (const std::string& column : expected.missing_columns)
    out.push_back(fmt::format("F_SAL no tiene la columna {}, a la que van apuntes guardados.", column));
  for (const auto& [journal, account] : expected.rows)
    if (!now.rows.count({journal, account}))
      out.push_back(fmt::format("Falta la fila de saldos del diario {}, cuenta {}.", journal, account));
  // A row no line goes to is one too many, unless it holds nothing: a line
  // that moved to another account leaves the row it went to behind, emptied.
  for (const auto& [journal, account] : now.rows) {
    if (expected.rows.count({journal, account})) continue;
    const BalanceKey first{journal, account, ""};
    bool empty = true;
    for (auto it = now.amounts.lower_bound(first);
         it != now.amounts.end() && it->first.journal == journal && it->first.account == account; ++it)
      empty = empty && it->second.ten_thousandths == 0;
    if (!empty)
      out.push_back(fmt::format("Sobra la fila de saldos del diario {}, cuenta {}: ningún apunte va a ella.", journal,
                                account));
  }

  // Every column either side holds, absent counting as 0, in the rows that exist.
  std::map<BalanceKey, std::pair<Currency, Currency>> compared;
  for (const auto& [key, amount] : expected.amounts) compared[key].first = amount;
  for (const auto& [key, amount] : now.amounts) compared[key].second = amount;
  for (const auto& [key, pair] : compared) {
    if (pair.first == pair.second || !now.rows.count({key.journal, key.account})) continue;
    out.push_back(fmt::format("Diario {}, cuenta {}, {}: debería ser {} y es {}.", key.journal, key.account,
                              key.column, format_amount(pair.first), format_amount(pair.second)));
  }
  return out;
}

}  // namespace

BalanceCheck check_balances(const std::string& path, const std::optional<std::string>& baseline,
                            const std::optional<std::string>& company) {
  BalanceTable now = read_balance_table(path);
  BalanceTable before;
  std::vector<Line> earlier;
  if (baseline) {
    before = read_balance_table(*baseline);
    earlier = read_lines(*baseline);
  }
  Expected expected =
      expected_balances(read_lines(path), earlier, before, now.columns, utf8_characters(company_mask(path, company)));

  BalanceCheck check;
  check.lines = expected.lines;
  check.rows = static_cast<std::int64_t>(now.rows.size());
  check.mismatches = differences(expected, now);
  return check;
}

}  // namespace kavelo

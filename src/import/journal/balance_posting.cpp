#include "import/journal/balance_posting.h"

#include <fmt/format.h>

#include "db/engine.h"
#include "db/open_retry.h"
#include "db/record_lookup.h"
#include "import/journal/entry_lines.h"
#include "interchange/run_state.h"
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

std::string quoted(std::string_view code) { return "'" + db::DoblarComillas(db::Value(std::string(code))) + "'"; }

// FRMEMP of the company record: a record that could not be read, or one without
// the column, fails here.
db::Value company_levels() {
  const auto& empresa = run().RegistroEmpresa;
  static const db::Row kNone;
  return (empresa ? *empresa : kNone).at("FRMEMP");
}

}  // namespace

std::vector<std::string> balance_levels(std::string_view account, const db::Value& frmemp) {
  const std::string mask = db::to_text(frmemp);  // Null: the empty text, no marks
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

std::string posting_selection(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order) {
  return fmt::format(
      "SELECT * FROM F_APU WHERE  (DIAAPU={}) AND  FECAPU={} AND ASIAPU={} AND ORDAPU={} "
      "ORDER BY DIAAPU, FECAPU, ASIAPU, ORDAPU ASC;",
      journal, jet_date_literal(date), entry, order);
}

std::string balance_rows_query(std::string_view journal, const std::vector<std::string>& levels) {
  std::string criteria = fmt::format("DIASAL={} AND (", journal);
  for (const std::string& code : levels) {
    if (!criteria.ends_with('(')) criteria += "OR ";
    criteria += "CUESAL=" + quoted(code) + " ";
  }
  return "SELECT * FROM F_SAL WHERE " + criteria + ");";
}

db::Value add_amount(const db::Value& total, const db::Value& amount) {
  const db::Value zero{Currency{}};
  const db::Value& a = total.is_null() ? zero : total;
  const db::Value& b = amount.is_null() ? zero : amount;
  auto x = a.get_if<Currency>();
  auto y = b.get_if<Currency>();
  if (x && y) {
    Currency sum;
    if (__builtin_add_overflow(x->ten_thousandths, y->ten_thousandths, &sum.ten_thousandths))
      throw failure(ErrorCode::Overflow);
    return sum;
  }
  return db::Value(db::to_double(a) + db::to_double(b));
}

void SaldarApuntes(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order,
                   const std::string& path) {
  db::Database database =
      db::open_with_retry(path, "Error al abrir la base de datos en el proceso de saldar apuntes: " + path);
  db::Recordset lines = database.open_recordset(posting_selection(journal, date, entry, order));
  const std::string month = std::to_string(date.month);

  for (; !lines.eof(); lines.move_next()) {
    db::Value account_value = lines.get("CUEAPU");
    std::string account = db::to_text(account_value);
    if (account.empty()) continue;

    std::vector<std::string> levels = balance_levels(account, company_levels());
    db::Value line_journal = lines.get("DIAAPU");
    std::string side = db::to_text(lines.get("D-HAPU"));
    std::string p_column = "P" + side + month + "SAL";
    std::string e_column = "E" + side + month + "SAL";
    db::Value p_amount = lines.get("IMPAPU");
    db::Value e_amount = lines.get("IMEAPU");

    // One query for the rows of every level; each level's row is found in it.
    db::Recordset balances =
        database.open_recordset(balance_rows_query(db::to_text(line_journal), levels), db::RecordsetType::Dynaset);
    for (const std::string& code : levels) {
      balances.find_first("CUESAL = " + quoted(code));
      if (balances.no_match()) {
        balances.add_new();
        balances.set("CUESAL", db::Value(code));
        balances.set("DIASAL", line_journal);
      } else {
        balances.edit();
      }
      balances.set(p_column, add_amount(balances.get(p_column), p_amount));
      balances.set(e_column, add_amount(balances.get(e_column), e_amount));
      balances.update();
    }
  }
}

}  // namespace kavelo

#pragma once
// Posting a stored journal line to the monthly balances of F_SAL, at the
// account's own code and at every shorter code the company's FRMEMP marks.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/engine.h"
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

// The balance rows that the lines of one transaction post to, kept in memory
// and written before the transaction commits: a row that many lines post to is
// read and written once per transaction instead of once for every line. A new
// row is added at once, by the line that needs it. What a
// record unit posted goes when the unit is undone; everything goes when the
// transaction is lost. While a posting holds rows, nothing else of the
// process may read F_SAL before a commit. Where F_SAL may refuse a change (a
// CHECK rule, a trigger), each line's changes are written at once instead.
class BalancePosting : private db::DeferredWrites {
 public:
  explicit BalancePosting(std::string path);
  ~BalancePosting() override;
  BalancePosting(const BalancePosting&) = delete;
  BalancePosting& operator=(const BalancePosting&) = delete;

  // Posts the line stored under journal, date, entry and order to F_SAL: into
  // the "P"/"E" & side & month & "SAL" columns of the line's journal, with the
  // month of `date`, adding the rows that are missing. The levels come from
  // FRMEMP of run().RegistroEmpresa. A line without an account posts nothing.
  // Failures of the line (an unknown column, an overflow, an amount the
  // column cannot take) reach the caller; gives up opening with its own
  // message.
  void post(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order);
  // Writes the rows held now; failures reach the caller.
  void write() { flush(); }

  // Rows held before they are written between two records.
  static constexpr std::size_t kHeldRows = 2048;

 private:
  struct Row;
  void flush() override;
  void write_held();
  bool unit_ended(bool kept) override;
  void discard() override;
  Row& held_row(const std::string& journal, const std::string& code, const db::Value& line_journal,
                db::Recordset& stored);
  void store_new(std::size_t index, db::Recordset& stored);
  // A column by name; the month columns are looked up line after line.
  int column(const std::string& name);
  void change(std::size_t row, int column, db::Value value);

  std::string path_;
  db::Database database_;
  const std::vector<db::ColumnInfo>* columns_ = nullptr;
  int code_column_ = -1, journal_column_ = -1;
  std::unordered_map<std::string, int> column_by_name_;
  bool code_nocase_ = false;
  bool at_once_ = false;  // each line's changes written by the line
  struct Rows;
  std::unique_ptr<Rows> rows_;
};

// Posts one line at once: a BalancePosting written before it returns.
void SaldarApuntes(std::int16_t journal, const DateTime& date, std::int32_t entry, std::int32_t order,
                   const std::string& path);

}  // namespace kavelo

#include "import/journal/journal_import.h"

#include <algorithm>
#include <array>
#include <deque>
#include <optional>

#include "import/journal/balance_posting.h"
#include "import/journal/entry_numbering.h"
#include "interchange/field_cutting.h"
#include "platform/failure.h"

namespace kavelo {

// The fields after the four key fields. The amounts travel as text: the
// column's type reads them by the regional settings.
const ImportDescription& journal_description() {
  static const ImportDescription description{
      .file_name = "APU.TXT",
      .table = "F_APU",
      .identifier = "A001",
      .error_label = "Apuntes: (",
      // No key column of its own: the journal's steps cut, number and write
      // the four key fields.
      .key_column = {},
      .key_kind = KeyKind::RegisterNumber,
      .key_field_code = "04",
      .layout =
          {
              {"CUEAPU", "05", Conversion::Text},
              {"CONAPU", "06", Conversion::Text},
              {"DOCAPU", "07", Conversion::Text},
              {"D-HAPU", "08", Conversion::Text},
              {"IMEAPU", "09", Conversion::Text},
              {"IMPAPU", "10", Conversion::Text},
              {"MONAPU", "11", Conversion::Text},
              {"PUNAPU", "12", Conversion::Text},
              {"TIVAPU", "13", Conversion::Text},
              {"CIVAPU", "14", Conversion::Number},
              {"DEPAPU", "15", Conversion::Text},
              {"SUBAPU", "16", Conversion::Text},
              {"IMAAPU", "17", Conversion::Text},
              {"UCRAPU", "18", Conversion::Number},
              {"FCRAPU", "19", Conversion::TextIfNotEmpty},
              {"UUMAPU", "20", Conversion::Number},
              {"FUMAPU", "21", Conversion::TextIfNotEmpty},
              {"GUIDAPU", "22", Conversion::Text},
          },
      .progress_text = "Convirtiendo apuntes: ",
      .progress_first = "DIAAPU",
      .progress_second = "FECAPU",
  };
  return description;
}

namespace {

// A journal line is found by its journal, date, entry number and order, after
// the entry has been numbered, and is posted to the balances once stored.
class JournalLineSteps : public RecordSteps {
 public:
  explicit JournalLineSteps(Run& run) : run_(run) {}

  void before_open(Run& run) override {
    db::Store& store = run.database("error en apertura de base de datos", true);
    const db::Table& settings = store.table("F_AUT");
    auto row = store.find(settings, settings.key({"CODAUT"}), {db::Value(std::int16_t{1})});
    numbering_.emplace(settings, std::move(row), run.regional, [&run] {
      run.window.message_box("Hay errores en escribir registro nuevo");
    });
  }

  void prepare(db::Store& store, const db::Table& table) override {
    // Amounts the balances cannot keep to the last decimal end the file
    // before its first line.
    if (store.has_table("F_SAL")) check_balance_decimals(store.table("F_SAL"), table);
    lines_ = &table;
    key_ = table.key({"DIAAPU", "FECAPU", "ASIAPU", "ORDAPU"});
    account_ = table.find("CUEAPU");
    side_ = table.find("D-HAPU");
    pesetas_ = table.find("IMPAPU");
    euros_ = table.find("IMEAPU");
  }

  std::vector<std::string> tables_written(std::string_view table) const override {
    return {std::string(table), "F_DIA", "F_SAL"};
  }

  void position(db::Store& store, std::string_view& record, db::RowValues& row, std::string& field_code,
                bool one_by_one) override {
    const std::string& separator = run_.settings.separator;
    field_code = "01";
    journal_ = read_whole16(next_field(record, separator));
    field_code = "02";
    date_ = parse_date(next_field(record, separator), run_.regional);
    field_code = "03";
    entry_ = read_whole32(next_field(record, separator));
    field_code = "04";
    order_ = read_whole32(next_field(record, separator));

    // Numbering and the key columns all stand under the order's code. A file
    // sent again finds its lines by their GUIDs when asked to.
    std::optional<std::string> guid;
    if (run_.match_guid && entry_ == 0) guid = last_field(record);
    entry_ = numbering_->number(store, journal_, date_, entry_, order_, one_by_one, guid ? &*guid : nullptr);
    const db::Value keys[] = {db::Value(journal_), db::Value(date_), db::Value(entry_), db::Value(order_)};
    for (std::size_t i = 0; i < 4; ++i) {
      const auto column = static_cast<std::size_t>(key_.columns[i]);
      row[column] = db::convert_for_column(lines_->columns[column], keys[i], run_.regional);
    }
  }

  const db::Key& key() const override { return key_; }

  void keep(const db::RowValues& row) override {
    kept_.clear();
    for (int column : posted_columns())
      kept_.push_back(column < 0 ? std::nullopt : row[static_cast<std::size_t>(column)]);
    const int guid = lines_->find("GUIDAPU");
    kept_guid_ = guid >= 0 && row[static_cast<std::size_t>(guid)]
                     ? db::to_text(*row[static_cast<std::size_t>(guid)], run_.regional)
                     : std::string();
  }

  db::WriteOutcome* outcome() override { return &outcomes_.emplace_back(); }

  // A line and its posting stand or fall together: a line rewritten takes
  // the amounts it held out of where they went as its new ones go in, and a
  // line refused as a duplicate posts nothing. The postings of lines written
  // together are made once the store has said what each write replaced.
  void after_write(db::Store& store, bool duplicate, bool one_by_one) override {
    if (!duplicate) {
      numbering_->line_stored(journal_, date_, entry_, kept_guid_);
      const std::array<int, 5> columns = posted_columns();
      std::vector<db::Value> stored(columns.size());
      for (std::size_t i = 0; i < columns.size(); ++i)
        if (columns[i] >= 0 && kept_[i])
          stored[i] = store.as_stored(lines_->columns[static_cast<std::size_t>(columns[i])], *kept_[i]);
      postings_.push_back({&outcomes_.back(), date_.month, std::move(stored)});
    }
    if (!one_by_one) return;
    settle(store);
    if (posting_) posting_->flush(store);
    store.sync();
  }

  void end_group(db::Store& store) override {
    settle(store);
    numbering_->write_counters(store);
    if (posting_) posting_->flush(store);
  }
  void group_started() override { numbering_->save(); }
  void group_undone() override {
    numbering_->restore();
    numbering_->forget();
    postings_.clear();
    outcomes_.clear();
    if (posting_) posting_->discard();
  }
  void record_started() override { numbering_->save_record(); }
  void record_undone() override {
    numbering_->restore_record();
    postings_.clear();
    outcomes_.clear();
    if (posting_) posting_->discard();
  }
  void transaction_ended() override { numbering_->forget(); }

  std::string_view key_column_of(std::string_view field_code) const override {
    if (field_code == "01") return "DIAAPU";
    if (field_code == "02") return "FECAPU";
    if (field_code == "03") return "ASIAPU";
    if (field_code == "04") return "ORDAPU";
    return {};
  }

 private:
  // A line written, to be posted once its write's outcome is known.
  struct Posting {
    const db::WriteOutcome* outcome;
    int month;
    std::vector<db::Value> stored;  // as post() takes them
  };

  // The columns a posting reads, in the order post() takes their values
  // (-1 for a column the table lacks).
  std::array<int, 5> posted_columns() const { return {key_.columns.front(), account_, side_, pesetas_, euros_}; }

  // GUIDAPU, the record's last field, from the rest of the record after its
  // key fields.
  std::string last_field(std::string_view rest) const {
    std::string field;
    for (std::size_t i = 0; i < journal_description().layout.size(); ++i) field = next_field(rest, run_.settings.separator);
    return field;
  }

  // Posts the lines written since the last time, their old amounts out first.
  void settle(db::Store& store) {
    std::vector<Posting> postings = std::move(postings_);
    postings_.clear();
    if (std::any_of(postings.begin(), postings.end(), [](const Posting& p) { return !p.outcome->known; }))
      store.sync();
    for (const Posting& p : postings) {
      if (p.outcome->passed_over) continue;
      if (const std::optional<db::Row>& old = p.outcome->replaced) {
        std::vector<db::Value> taken_out;
        for (int column : posted_columns())
          taken_out.push_back(column < 0 ? db::Value() : (*old)[static_cast<std::size_t>(column)]);
        taken_out[3] = negated(taken_out[3]);
        taken_out[4] = negated(taken_out[4]);
        post(store, taken_out, p.month);
      }
      post(store, p.stored, p.month);
    }
    outcomes_.clear();
  }

  // An amount as the balances take it, of the other sign.
  db::Value negated(const db::Value& amount) const {
    if (amount.is_null()) return amount;
    if (auto c = amount.get_if<Currency>()) return db::Value(Currency{-c->ten_thousandths});
    if (auto d = amount.get_if<double>()) return db::Value(-*d);
    db::ColumnInfo currency;
    currency.kind = db::ColumnKind::Currency;
    return negated(db::convert_for_column(currency, amount, run_.regional));
  }

  // `stored`: the line's journal, account, side, and amounts in pesetas and
  // euros, as the table holds them.
  void post(db::Store& store, const std::vector<db::Value>& stored, int month) {
    // The account comes first: a line without one posts nothing, whatever else
    // it lacks.
    if (account_ < 0) throw failure(ErrorCode::ItemNotFound, "CUEAPU");
    if (db::to_text(stored[1], run_.regional).empty()) return;
    if (side_ < 0) throw failure(ErrorCode::ItemNotFound, "D-HAPU");
    if (pesetas_ < 0) throw failure(ErrorCode::ItemNotFound, "IMPAPU");
    if (euros_ < 0) throw failure(ErrorCode::ItemNotFound, "IMEAPU");
    if (!posting_) posting_.emplace(store.table("F_SAL"), run_.company_levels, run_.regional);
    posting_->post(store, stored[0], stored[1], stored[2], month, stored[3], stored[4]);
  }

  Run& run_;
  std::optional<EntryNumbering> numbering_;
  std::optional<BalancePosting> posting_;
  const db::Table* lines_ = nullptr;
  db::Key key_;
  int account_ = -1, side_ = -1, pesetas_ = -1, euros_ = -1;
  std::int16_t journal_ = 0;
  DateTime date_;
  std::int32_t entry_ = 0;
  std::int32_t order_ = 0;
  std::vector<std::optional<db::Value>> kept_;
  std::string kept_guid_;
  // The outcomes of the writes since the last posting (stable addresses).
  std::deque<db::WriteOutcome> outcomes_;
  std::vector<Posting> postings_;
};

}  // namespace

void import_journal(Run& run) {
  JournalLineSteps steps(run);
  import_file(run, journal_description(), &steps);
}

}  // namespace kavelo

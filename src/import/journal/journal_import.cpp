#include "import/journal/journal_import.h"

#include <optional>

#include "db/record_lookup.h"
#include "import/journal/balance_posting.h"
#include "import/journal/entry_lines.h"
#include "import/journal/entry_numbering.h"
#include "interchange/field_cutting.h"
#include "interchange/import_procedure.h"
#include "interchange/run_state.h"
#include "platform/regional.h"

namespace kavelo {
namespace {

// The fields after the four key fields. The amounts travel as text: the
// engine reads them by the regional settings.
const ImportDescription kJournalLines{
    .file_name = "APU.TXT",
    .recordset_sql = "SELECT * FROM F_APU;",
    .identifier = "A001",
    .error_label = "Apuntes: (",
    // No key column of its own: JournalLineSteps cuts, numbers and writes the
    // four key fields.
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

// A journal line is found by its journal, date, entry number and order, after
// the entry has been numbered, and is posted to the balances once stored.
class JournalLineSteps : public RecordSteps {
 public:
  JournalLineSteps() : settings_(run().settings), posting_(settings_.RutaBase) {}

  void before_open() override {
    numbering_.emplace(db::LeerRegistro("F_AUT", settings_.RutaBase, {{"CODAUT", db::Value(std::int16_t{1})}}),
                       settings_.RutaBase);
  }

  void position(db::Recordset& records, std::string_view& registro, std::string& field_code) override {
    const std::string& separador = settings_.Separador;
    field_code = "01";
    journal_ = read_whole16(prc_Campo(registro, separador));
    field_code = "02";
    date_ = parse_date(prc_Campo(registro, separador));
    field_code = "03";
    entry_ = read_whole32(prc_Campo(registro, separador));
    field_code = "04";
    order_ = read_whole32(prc_Campo(registro, separador));

    // Numbering, look-up and the key columns all stand under the order's code.
    entry_ = numbering_->NumerarAsiento(journal_, date_, entry_, order_);
    records.find_first({{"DIAAPU", db::Value(journal_)},
                        {"FECAPU", db::Value(date_)},
                        {"ASIAPU", db::Value(entry_)},
                        {"ORDAPU", db::Value(order_)}});
    if (records.no_match())
      records.add_new();
    else
      records.edit();
    records.set("DIAAPU", db::Value(journal_));
    records.set("FECAPU", db::Value(date_));
    records.set("ASIAPU", db::Value(entry_));
    records.set("ORDAPU", db::Value(order_));
  }

  // A line and its posting stand or fall together: a posting that fails takes
  // the line and the balance changes made for it back with it.
  std::optional<db::RecordUnit> begin_store() override {
    return db::Engine::instance().begin_record(settings_.RutaBase);
  }

  // The balances are held in memory and written before each commit.
  void after_store() override { posting_.post(journal_, date_, entry_, order_); }

  std::vector<std::string> other_tables_written() const override { return {"F_DIA", "F_SAL"}; }

  std::string_view key_column_of(std::string_view field_code) const override {
    if (field_code == "01") return "DIAAPU";
    if (field_code == "02") return "FECAPU";
    if (field_code == "03") return "ASIAPU";
    if (field_code == "04") return "ORDAPU";
    return {};
  }

 private:
  const RunSettings& settings_;
  BalancePosting posting_;
  std::optional<EntryNumbering> numbering_;
  std::int16_t journal_ = 0;
  DateTime date_;
  std::int32_t entry_ = 0;
  std::int32_t order_ = 0;
};

}  // namespace

void prc_APU() {
  JournalLineSteps steps;
  run_import(kJournalLines, &steps);
}

}  // namespace kavelo

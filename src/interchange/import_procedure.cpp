#include "interchange/import_procedure.h"

#include <fmt/format.h>

#include <chrono>

#include "db/open_retry.h"
#include "interchange/field_cutting.h"
#include "interchange/line_reader.h"
#include "interchange/run_summary.h"
#include "interchange/run_state.h"
#include "platform/failure.h"
#include "platform/window.h"

namespace kavelo {
namespace {

constexpr std::string_view kBadIdentifier = "Identificador de registro no válido.";

// The key of the master files and the registers: one field, a code or a
// number, looked up as the column's value and written under the description's
// code.
class KeyColumnSteps : public RecordSteps {
 public:
  KeyColumnSteps(const ImportDescription& d, const std::string& separador)
      : d_(d), separador_(separador), key_{{std::string(d.key_column), db::Value()}} {}

  void position(db::Recordset& records, std::string_view& registro, std::string& field_code) override {
    std::string code = prc_Campo(registro, separador_);
    db::Value& key = key_.front().value;
    if (d_.key_kind == KeyKind::TextCode)
      key = db::Value(std::move(code));
    else
      key = db::Value(read_whole32(code));
    records.add_or_edit(key_);
    field_code = d_.key_field_code;
    records.set(d_.key_column, key);
  }

 private:
  const ImportDescription& d_;
  const std::string& separador_;
  // COLUMN = the record's key, the one term of each look-up.
  std::vector<db::Equality> key_;
};

bool is_duplicate(const Failure& f) { return f.number() == static_cast<int>(ErrorCode::DuplicateValue); }

}  // namespace

std::string error_line(std::string_view label, long record, std::string_view field_code,
                       std::string_view description) {
  return fmt::format("{}{}/{}) {}\r\n", label, record, field_code, description);
}

std::string with_separator(std::string line, std::string_view separador) {
  if (!line.ends_with(separador)) line += separador;
  return line;
}

void run_import(const ImportDescription& d) { run_import(d, nullptr); }

namespace {

// The counts of the summary, and those of them already committed: a commit
// that fails loses the rows counted since the last one.
struct Counts {
  long added = 0;
  long changed = 0;
  long duplicates = 0;
};

// Adds the file's summary to the run's when the import ends, however it ends.
class SummaryScope {
 public:
  explicit SummaryScope(std::string_view file_name) : started_(std::chrono::steady_clock::now()) {
    summary.file_name = file_name;
  }
  ~SummaryScope() {
    summary.elapsed = std::chrono::steady_clock::now() - started_;
    run().summaries.push_back(std::move(summary));
  }
  SummaryScope(const SummaryScope&) = delete;
  SummaryScope& operator=(const SummaryScope&) = delete;

  FileSummary summary;

 private:
  std::chrono::steady_clock::time_point started_;
};

}  // namespace

std::string_view column_of_field(const ImportDescription& d, const RecordSteps& steps, std::string_view field_code) {
  if (field_code.empty()) return {};
  if (field_code == d.key_field_code && !d.key_column.empty()) return d.key_column;
  for (const LayoutField& field : d.layout)
    if (field.field_code == field_code) return field.column;
  return steps.key_column_of(field_code);
}

void run_import(const ImportDescription& d, RecordSteps* steps) {
  RunState& state = run();
  const RunSettings& settings = state.settings;
  Window& window = main_window();
  window.repaint();

  KeyColumnSteps key_steps(d, settings.Separador);
  if (!steps) steps = &key_steps;

  SummaryScope scope(d.file_name);
  FileSummary& summary = scope.summary;
  Counts counts, committed_counts;
  long record = 0;
  std::string line;
  std::string field_code;
  // The rows of the records up to this one are committed. A commit that fails
  // loses the records after it: the error line then names the first of them.
  long committed = 0;
  bool committing = false;
  auto mark_committed = [&] {
    committed = record;
    committed_counts = counts;
  };
  auto commit = [&] {
    committing = true;
    db::Engine::instance().commit();
    committing = false;
    mark_committed();
  };
  auto stop = [&](long at, std::string_view reason) {
    summary.stopped = true;
    summary.stopped_at = at;
    summary.reason = reason;
    summary.field_code = field_code;
    summary.column = column_of_field(d, *steps, field_code);
    if (at > 0 && at == record) summary.record_start = record_start(line);
  };
  try {
    LineReader file(settings.DirIntercambio + std::string(d.file_name));
    steps->before_open();
    db::Database database = db::try_open_with_retry(settings.RutaBase);
    // Giving up the open ends the run, but the error lines of the files
    // imported before stay in the report.
    if (!database.is_open()) throw db::OpenGaveUp("No es posible abrir la base de datos: " + settings.RutaBase);
    // An empty file has no record to store: its table is only looked for, as
    // opening its record set would, without preparing the set's query.
    const bool empty = file.at_end();
    if (empty) database.check_recordset(d.recordset_sql);
    db::Recordset records =
        empty ? db::Recordset() : database.open_recordset(d.recordset_sql, db::RecordsetType::Dynaset);
    // The layout's columns are looked up once; one the table lacks is named
    // when a record writes it, as any unknown column is.
    // Other writers of these tables wait while a transaction of the import
    // is open, from before its first read.
    std::vector<std::string> tables = steps->other_tables_written();
    if (auto table = db::translate_select(d.recordset_sql).table) tables.push_back(*table);
    std::vector<int> columns;
    if (!empty)
      for (const LayoutField& field : d.layout) columns.push_back(records.column_index(field.column));

    while (!file.at_end()) {
      ++record;
      summary.read = record;
      line = with_separator(file.read_line(), settings.Separador);
      // A comment line is passed over once: the line after it is a record
      // whatever it begins with.
      if (line.starts_with('\'')) line = with_separator(file.read_line(), settings.Separador);

      database.lock_for_writing(tables);
      std::string_view registro = line;
      field_code = "00";
      if (prc_Campo(registro, settings.Separador) != d.identifier) {
        state.TextoErrores += error_line(d.error_label, record, field_code, kBadIdentifier);
        stop(record, kBadIdentifier);
        commit();  // the records before it are stored now
        break;
      }
      steps->position(records, registro, field_code);
      for (std::size_t i = 0; i < d.layout.size(); ++i) {
        const LayoutField& field = d.layout[i];
        field_code = field.field_code;
        if (auto value = convert_field(field.conversion, prc_Campo(registro, settings.Separador))) {
          if (columns[i] >= 0)
            records.set(columns[i], std::move(*value));
          else
            records.set(field.column, *value);
        }
      }
      field_code.clear();
      // An unattended run shows no progress: the record's label is not made.
      if (window.shows_labels()) {
        window.set_label(Label::Label3, fmt::format("{}{} - {}", d.progress_text,
                                                    db::to_text(records.get(d.progress_first)),
                                                    db::to_text(records.get(d.progress_second))));
        window.repaint_label(Label::Label3);
      }
      std::optional<db::RecordUnit> unit = steps->begin_store();
      try {
        ++(records.update() ? counts.added : counts.changed);
      } catch (const Failure& f) {
        // A row that would duplicate a unique value is passed over in silence.
        if (!is_duplicate(f)) throw;
        ++counts.duplicates;
      }
      steps->after_store();
      if (unit) unit->commit();
      committing = true;
      if (db::Engine::instance().record_boundary()) mark_committed();
      committing = false;
    }
    if (!summary.stopped) commit();
  } catch (const Failure& f) {
    if (committing) {
      record = committed + 1, field_code.clear();
      counts = committed_counts;
    }
    state.TextoErrores += error_line(d.error_label, record, field_code, f.description());
    stop(record, f.description());
    // The records before the failing one are kept, unless the disk refuses.
    try {
      db::Engine::instance().commit();
    } catch (const Failure& lost) {
      // When the failing record is the first one lost, its line says it all.
      std::string lost_line = error_line(d.error_label, committed + 1, "", lost.description());
      if (!state.TextoErrores.ends_with(lost_line)) state.TextoErrores += lost_line;
      counts = committed_counts;
    }
  } catch (const db::OpenGaveUp& gave_up) {
    stop(record, gave_up.message());
    summary.added = counts.added, summary.changed = counts.changed, summary.duplicates = counts.duplicates;
    throw;
  }
  summary.added = counts.added, summary.changed = counts.changed, summary.duplicates = counts.duplicates;
}

}  // namespace kavelo

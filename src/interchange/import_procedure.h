#pragma once
// The one import procedure that every interchange file goes through, driven by
// a description of the file: where it is, its table, its record identifier,
// its key and its record layout.
#include <string>
#include <string_view>
#include <vector>

#include "db/store.h"
#include "interchange/conversions.h"
#include "interchange/run.h"

namespace kavelo {

enum class KeyKind {
  TextCode,        // the field as text
  RegisterNumber,  // a 32-bit whole number
};

// One field of the record after the key: the column it is written to, the
// field code in force meanwhile, and its conversion.
struct LayoutField {
  std::string_view column;
  std::string_view field_code;
  Conversion conversion;
};

struct ImportDescription {
  std::string_view file_name;    // "MAE.TXT"
  std::string_view table;        // "F_MAE"
  std::string_view identifier;   // "M001"
  std::string_view error_label;  // "Maestro: ("
  // The column of the one key field ("CODMAE"); none for a file whose steps
  // write the key themselves.
  std::string_view key_column;
  KeyKind key_kind = KeyKind::TextCode;
  std::string_view key_field_code;  // the field code while the key column is written
  std::vector<LayoutField> layout;  // the fields after the key, in their order
  std::string_view progress_text;   // "Convirtiendo cuentas: "
  std::string_view progress_first;  // the columns whose values the progress text shows
  std::string_view progress_second;
};

// What a file does beyond the common procedure: how a record writes its key,
// and what goes with storing it. The master files and the registers have one
// key field (the default steps); the journal has steps of its own.
//
// Records are written in groups: a group's writes are sent together and
// whatever they hold for later (balances) is written at the group's end. When
// anything in a group fails, the group is undone and its records are written
// again one by one, each sent and checked before the next, so that the
// outcome is exactly that of a record-by-record run.
class RecordSteps {
 public:
  virtual ~RecordSteps() = default;
  // After the file is open and before the database is.
  virtual void before_open(Run& /*run*/) {}
  // Before the first record is written, with the file's table.
  virtual void prepare(db::Store& store, const db::Table& table) = 0;
  // The tables a record writes: other writers are kept out of them while
  // the import's transactions are open.
  virtual std::vector<std::string> tables_written(std::string_view table) const { return {std::string(table)}; }
  // Cuts the key fields from `record` and writes the key columns into `row`,
  // setting `field_code` as it goes.
  virtual void position(db::Store& store, std::string_view& record, db::RowValues& row, std::string& field_code,
                        bool one_by_one) = 0;
  // The key by which the row is written.
  virtual const db::Key& key() const = 0;
  // The row about to be written, for what follows the write.
  virtual void keep(const db::RowValues& /*row*/) {}
  // Where the write of the record kept learns what became of it (the row it
  // replaced, or that it was passed over), for steps that need to know; it
  // must stay until the group ends.
  virtual db::WriteOutcome* outcome() { return nullptr; }
  // After the row is written, or refused as a duplicate; one by one, a
  // failure here undoes the row with it.
  virtual void after_write(db::Store& /*store*/, bool /*duplicate*/, bool /*one_by_one*/) {}
  // A group of records ends: what was held for them is written.
  virtual void end_group(db::Store& /*store*/) {}
  // A group starts: what is kept from record to record is noted, to be put
  // back when the group is undone (and its records written again).
  virtual void group_started() {}
  virtual void group_undone() {}
  // One by one in a check run of every error: a record starts, and what is
  // kept from record to record is noted; a record that failed was undone
  // with everything it wrote, and what was noted is put back, as if the
  // record had not been there.
  virtual void record_started() {}
  virtual void record_undone() {}
  // The transaction ended: nothing learnt of the database holds any more.
  virtual void transaction_ended() {}
  // The column of a key field that position() writes under its own field
  // code (for the summary of a record that failed there).
  virtual std::string_view key_column_of(std::string_view /*field_code*/) const { return {}; }
};

// Imports the description's file from the interchange folder into the company
// database. The first failure adds one error line to the run's error text and
// ends this import; the records before it stay. In a check run of every error
// (Run::all_errors) a failing record is undone, its error line added, and the
// import goes on; a record that cannot be read, or a transaction lost, still
// ends it. A database that cannot be
// opened ends the whole run (OpenGaveUp). `steps`: the file's own, or nullptr
// for one key field as the description says.
void import_file(Run& run, const ImportDescription& description, RecordSteps* steps = nullptr);

// The column that a field code stands for in the description's records.
std::string_view column_of_field(const ImportDescription& description, const RecordSteps& steps,
                                 std::string_view field_code);

// "Maestro: (12/04) Overflow" and a line end.
std::string error_line(std::string_view label, long record, std::string_view field_code,
                       std::string_view description);

// The record with the separator at its end, added when it is not there.
std::string with_separator(std::string line, std::string_view separator);

}  // namespace kavelo

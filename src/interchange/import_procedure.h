#pragma once
// The one import procedure that every interchange file goes through, driven by
// a description of the file: where it is, its record identifier, its key and
// its record layout.
#include <optional>
#include <string_view>
#include <vector>

#include "db/engine.h"
#include "interchange/conversions.h"

namespace kavelo {

enum class KeyKind {
  TextCode,        // looked up as COLUMN='code', written as text
  RegisterNumber,  // a 32-bit whole number, looked up as COLUMN=number
};

// One field of the record after the key: the column it is written to, the
// field code in force meanwhile, and its conversion.
struct LayoutField {
  std::string_view column;
  std::string_view field_code;
  Conversion conversion;
};

struct ImportDescription {
  std::string_view file_name;      // "MAE.TXT"
  std::string_view recordset_sql;  // "SELECT * FROM F_MAE;"
  std::string_view identifier;     // "M001"
  std::string_view error_label;    // "Maestro: ("
  std::string_view key_column;     // "CODMAE"
  KeyKind key_kind;
  std::string_view key_field_code;  // the field code while the key column is written
  std::vector<LayoutField> layout;  // the fields after the key, in their order
  std::string_view progress_text;   // "Convirtiendo cuentas: "
  std::string_view progress_first;  // columns read back for the progress text
  std::string_view progress_second;
};

// What a file does beyond the common procedure: how a record finds its row and
// writes its key, and what follows the store. The journal has its own.
class RecordSteps {
 public:
  virtual ~RecordSteps() = default;
  // After the file is open and before the database is.
  virtual void before_open() {}
  // Cuts the key fields from `registro`, finds the row (AddNew or Edit) and
  // writes the key columns, setting `field_code` as it goes.
  virtual void position(db::Recordset& records, std::string_view& registro, std::string& field_code) = 0;
  // Just before the store: a unit that holds the store and after_store
  // together, undone as a whole when either fails. None by default: the row
  // is stored by itself.
  virtual std::optional<db::RecordUnit> begin_store() { return std::nullopt; }
  // After the store, also when it was refused as a duplicate.
  virtual void after_store() {}
  // The tables that a record writes besides the description's own.
  virtual std::vector<std::string> other_tables_written() const { return {}; }
  // The column of a key field that position() writes under its own field
  // code (for the summary of a record that failed there); none by default.
  virtual std::string_view key_column_of(std::string_view /*field_code*/) const { return {}; }
};

// Imports the description's file from the interchange folder into the company
// database of run(). The first failure adds one error line to TextoErrores and
// ends this import. A database that cannot be opened ends the whole run.
void run_import(const ImportDescription& description);
// The same with steps of the file's own (nullptr: look up and write the key
// by the description's key column and kind).
void run_import(const ImportDescription& description, RecordSteps* steps);

// The column that a field code stands for in the description's records.
std::string_view column_of_field(const ImportDescription& description, const RecordSteps& steps,
                                 std::string_view field_code);

// "Maestro: (12/04) Overflow" and a line end.
std::string error_line(std::string_view label, long record, std::string_view field_code,
                       std::string_view description);

// The record with the separator at its end, added when it is not there.
std::string with_separator(std::string line, std::string_view separador);

}  // namespace kavelo

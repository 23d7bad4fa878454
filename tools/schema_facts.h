#pragma once
// What the database check reads from a company database, and the reader that
// reads it from one kind of store: an SQLite file or a database on a server.
// The checks themselves (schema_check.cpp) are one list for every store.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "db/column_type.h"
#include "db/value.h"
#include "schema_check.h"

namespace kavelo::check {

struct Column {
  std::string name;  // as the store spells it
  std::string type;  // as the store names it ("TEXT(50)", "varchar(50)"); empty when it has none
  db::ColumnKind kind = db::ColumnKind::Untyped;
  int text_size = 0;  // 0: any length
  // Of an exact decimal that states them; 0: whatever the store keeps.
  int precision = 0;
  int scale = 0;
  bool required = false;
  // A new row that does not write it still gets a value: a default, or a
  // number the store gives each row.
  bool fills_itself = false;
  std::string fault;  // what keeps kavelo from the column whatever its type
  // A collation that takes codes differing in more than case for one (a
  // server's nondeterministic collation); empty for none.
  std::string merging_collation;
  // A unique index holds its folded form: its keys compare without case.
  bool folded_key = false;
};

struct Table {
  std::string name;
  bool view = false;
  std::string unreadable;  // why its columns could not be read
  std::vector<Column> columns;
  // The primary key and the unique indexes over columns (not partial), each
  // its columns' names.
  std::vector<std::vector<std::string>> unique_keys;
  // What keeps kavelo from the table, whatever its columns.
  std::vector<std::string> faults;
  // What keeps it from adding rows.
  std::vector<std::string> new_row_faults;

  // Names compare without regard to case, as SQL compares them.
  const Column* column(std::string_view wanted) const;
  // Whether the primary key or a unique index is made of exactly these columns.
  bool has_key(const std::vector<std::string>& columns) const;
};

struct Schema {
  std::vector<Table> tables;
  const Table* find(std::string_view name) const;
};

// A read of the database that failed after it was opened: the check being
// made fails with it, the others still run.
class ReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FactReader {
 public:
  virtual ~FactReader() = default;
  // The tables and views, with their columns.
  virtual const Schema& schema() = 0;
  // The rows of a query that both stores read alike: names as the store
  // spells them, quoted with double quotes; "?" for each parameter.
  // Column i is read as kinds[i]. Throws ReadError.
  virtual std::vector<std::vector<db::Value>> rows(const std::string& sql, const std::vector<db::Value>& parameters,
                                                   const std::vector<db::ColumnKind>& kinds) = 0;
  // "column = ?" as the store compares a key of the column (names quoted).
  virtual std::string key_equals(const Column& column) const { return "\"" + column.name + "\" = ?"; }
  // The type of a column of the reference schema, as this store would name it.
  virtual std::string type_name(const Column& reference) const = 0;
};

// The whole checklist, read through `reader`.
std::vector<CheckResult> run_checks(FactReader& reader, const std::optional<std::string>& company);

// The tables and columns of the reference schema, as an SQLite database made
// with it describes them (schema_check_sqlite.cpp).
Schema reference_schema();

}  // namespace kavelo::check

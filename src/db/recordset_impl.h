#pragma once
// The inside of a record set. A set over whole rows of one table is a window
// on the table that reads a row only when the set moves to it; any other query
// is read whole when it opens and cannot be changed.
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/connection.h"
#include "db/jet_sql.h"

namespace kavelo::db {

class RecordsetImpl {
 public:
  RecordsetImpl(std::shared_ptr<Connection> connection, std::string jet_sql, TranslatedSelect select);

  bool eof() {
    settle();
    return eof_;
  }
  void move_first();
  void move_next();
  void move_last();
  std::int64_t record_count();
  int field_count() const;
  const std::string& field_name(int index) const;
  Value get(int index);
  int index_of(std::string_view name) const;  // error 3265 when there is none
  void find_first(std::string_view criteria);
  void find_first(const std::vector<Equality>& terms);
  bool no_match() const { return no_match_; }
  bool adding() {
    if (offering_) decide();
    return mode_ == Mode::Adding;
  }
  void add_new();
  void edit();
  void add_or_edit(const std::vector<Equality>& terms);
  void set(int index, const Value& value);
  void set(int index, Value&& value);
  bool update();

 private:
  enum class Mode { Browse, Adding, Editing };

  bool on_table() const { return table_ != nullptr; }
  void require_table() const;
  void cancel_edit();
  // Runs a query whose first column is the row identity and the others the table's
  // columns, and makes its first row the current one.
  // A prepared statement that reads, inside the connection's transaction.
  // With `kept`, the statement is kept there and renewed next time: the set's
  // own lookup by key does not hash and compare its long SQL text each time.
  Cursor& reading(const std::string& sql, Cursor** kept = nullptr);
  Cursor& prepared(const std::string& sql, Cursor** kept);
  bool fetch(const std::string& sql, const std::vector<Value>& params, std::optional<RowId> rowid = std::nullopt);
  bool fetch(Cursor& cursor, const std::vector<Value>& params, std::optional<RowId> rowid = std::nullopt);
  const std::string& rows_from() const { return table_->rows_from; }  // SELECT rowid, ... FROM "T"
  const std::string& row_id() const { return row_id_; }
  std::string where_with(std::string_view extra) const;
  std::string order() const;
  // The query that finds the first row meeting a condition (as SQL), kept
  // for the last condition: a record is mostly looked up by its key.
  const std::string& find_sql(const std::string& condition);
  // Reads the rowids of an ordered set (and the rows, when it is small) and
  // moves to its first row.
  void load_keys();
  // Reads the first row of a set opened without moving yet.
  void settle();
  // True when the whole set is kept in memory.
  bool complete() const;
  void sort_by_rowid();
  // Whether a kept row meets every term; nullopt when only SQL can tell.
  std::optional<bool> matches_in_memory(const std::vector<Equality>& terms, std::size_t row) const;
  // FindFirst among the rows kept in memory, when the whole set is kept and
  // they tell; false when only SQL can tell.
  bool found_in_memory(const std::vector<Equality>& terms);
  // FindFirst by SQL: the set's own condition and `condition`.
  void find_with_sql(const TranslatedSql& condition);
  void read_row(Cursor& cursor, std::vector<Value>& row) const;
  void move_to_key_position(std::size_t position);
  void read_query(const TranslatedSql& query);
  // The INSERT or UPDATE that stores the row being written, and its statement
  // once it has run.
  struct StoreStatement {
    std::string sql;
    Cursor* cursor = nullptr;
  };
  StoreStatement& store_statement();
  std::string build_store_sql() const;
  // FindFirst by the terms, then Edit of the row found or AddNew.
  void find_for_writing(const std::vector<Equality>& terms);
  // The row offered by add_or_edit is to be looked up after all (the table
  // refused it, or a caller asks what only the look-up tells): FindFirst by
  // its terms, then Edit or AddNew, keeping what was set.
  void decide();
  // Whether the row being offered still holds its key as add_or_edit gave it.
  bool offers_its_key() const;

  std::shared_ptr<Connection> connection_;
  std::string jet_sql_;

  // A set over one table.
  const TableInfo* table_ = nullptr;
  TranslatedSql where_;
  std::string order_by_;
  std::optional<std::vector<RowId>> keys_;  // the rowids in order, for an ordered set
  std::size_t key_position_ = 0;
  static constexpr std::size_t kCachedRows = 64;
  std::vector<std::vector<Value>> cached_rows_;  // the rows of a small ordered set
  bool pending_first_ = false;
  RowId rowid_ = 0;
  std::string row_id_;  // the row identity column, as SQL names it

  // A query read whole.
  std::vector<std::string> names_;
  std::vector<std::vector<Value>> rows_;
  std::size_t row_position_ = 0;

  std::vector<Value> current_;
  bool eof_ = true;
  bool no_match_ = false;
  bool counted_ = false;
  std::int64_t visited_ = 0;
  Mode mode_ = Mode::Browse;
  std::vector<std::optional<Value>> buffer_;
  std::unordered_map<std::string, StoreStatement> store_statements_;
  // The shape of the row being stored, and the last one with its statement.
  std::string shape_;
  std::string last_shape_;
  StoreStatement* last_store_ = nullptr;
  mutable std::size_t next_column_ = 0;  // where index_of looks first
  std::string find_condition_;
  std::string find_sql_;
  Cursor* find_cursor_ = nullptr;  // find_sql_'s statement once it has run
  // add_or_edit left the look-up to the store: the row is added unless the
  // table holds its key (the one term, the unique column at offered_column_).
  bool offering_ = false;
  std::vector<Equality> offered_terms_;
  std::size_t offered_column_ = 0;
  // A refused offer costs a statement, so a row is offered only when the
  // last row stored was new: a file of new keys is offered row after row,
  // and one of known keys is looked up.
  bool last_stored_new_ = true;
};

}  // namespace kavelo::db

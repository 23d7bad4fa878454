#pragma once
// The company database on a PostgreSQL server, through libpq.
//
// Writes are gathered and sent together at the next sync, savepoint,
// release, commit or read: the rows of a table go by COPY into a temporary
// table of the session, then an UPDATE of the rows the table holds and an
// INSERT of the others per group of rows that write the same columns merge
// them (a few rows go by such statements of their own); amounts added to
// numeric columns are summed here and added the same way. The statements of
// a sync go in one pipeline. Text keys compare as the table's key compares
// them, folded to lower case where an index holds their folded form.
#include <memory>
#include <string>

#include "db/store.h"
#include "platform/regional.h"

namespace kavelo::db::pg {

class PgStore final : public Store {
 public:
  // Connects to the server that an ODBC-style connection string names (see
  // conninfo_of); a server out of reach fails naming it.
  PgStore(const std::string& connection_string, const RegionalSettings& regional);
  ~PgStore() override;

  const Table& table(std::string_view name) override;
  bool has_table(std::string_view name) override;

  void begin(std::chrono::milliseconds wait) override;
  void lock(const std::vector<std::string>& tables, std::chrono::milliseconds wait) override;
  void commit() override;
  void roll_back() override;
  bool in_transaction() const override;
  void hold() override;

  void savepoint(const char* name) override;
  void release(const char* name) override;
  void roll_back_to(const char* name) override;

  bool lost() const override;
  bool usable() const override;

  std::optional<Row> find(const Table& table, const Key& key, const std::vector<Value>& values) override;
  std::optional<Value> largest(const Table& table, int column, const Conditions& where, Unsent unsent) override;
  std::vector<Value> distinct(const Table& table, int column, const Conditions& where, Unsent unsent) override;
  void scan(const Table& table, const std::function<void(const Row&)>& each) override;
  std::vector<Row> rows(const Table& table, const std::vector<int>& columns, const Conditions& where,
                        const std::optional<Span>& span,
                        Unsent unsent) override;

  void write(const Table& table, const Key& key, RowValues row, WriteCounts& counts,
             WriteOutcome* outcome = nullptr) override;
  void change(const Table& table, const Key& key, RowValues row) override;
  void add(const Table& table, const Key& key, std::vector<Addition> additions) override;
  void sync() override;

  // An amount rounded to the decimals of its column; any other value as it is.
  Value as_stored(const ColumnInfo& column, const Value& value) const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kavelo::db::pg

#pragma once
// A small C++ surface over the ODBC driver manager: handles that free
// themselves, a connection opened by connection string, statements with bound
// parameters whose rows are read as text or numbers, and transactions. Every
// failure of the driver is a Failure of our catalogue (odbc_failure.h).
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"

namespace kavelo::db::odbc {

// One ODBC handle of a type, freed when the owner goes.
class Handle {
 public:
  Handle() = default;
  Handle(short type, void* parent);  // allocates; throws when it cannot
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept;
  Handle& operator=(Handle&& other) noexcept;
  ~Handle();

  void* get() const { return handle_; }
  short type() const { return type_; }

 private:
  short type_ = 0;
  void* handle_ = nullptr;
};

class Statement;

class Connection {
 public:
  // Connects without prompting. A server that cannot be reached fails with a
  // description naming it, after at most `login_timeout_seconds`.
  explicit Connection(std::string connection_string, int login_timeout_seconds = 10);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // Runs one statement and returns the number of rows it changed (-1 when
  // the driver does not say).
  std::int64_t execute(std::string_view sql, std::span<const Value> parameters = {});

  // With autocommit off every statement joins one transaction until commit or
  // rollback, which start the next one.
  void set_autocommit(bool on);
  bool autocommit() const { return autocommit_; }
  void commit();
  void rollback();

  const std::string& connection_string() const { return connection_string_; }
  void* handle() const { return connection_.get(); }
  // Whether the driver knows the connection to be gone (after a failure).
  bool dead() const;

 private:
  void end_transaction(short completion);

  std::string connection_string_;
  Handle environment_;
  Handle connection_;
  bool connected_ = false;
  bool autocommit_ = true;
};

// A transaction for the life of a scope: autocommit off at the start, rolled
// back unless committed, autocommit back on at the end.
class Transaction {
 public:
  explicit Transaction(Connection& connection);
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction();
  void commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

class Statement {
 public:
  explicit Statement(Connection& connection);
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement();

  // Prepares once; execute() then runs it with each set of parameters.
  void prepare(std::string_view sql);
  // The text a syntax error names (the query as the caller wrote it);
  // without one, the SQL itself.
  void name_query(std::string_view text) { query_name_ = text; }
  // Runs the prepared statement. Parameters are bound by their kind: text,
  // whole numbers, doubles, amounts as exact decimals, dates as timestamps,
  // booleans as bits, Null as Null.
  void execute(std::span<const Value> parameters = {});
  // prepare + execute without keeping the plan.
  void execute_direct(std::string_view sql, std::span<const Value> parameters = {});

  // Rows the last statement changed (-1 when the driver does not say).
  std::int64_t affected_rows() const;
  // Columns of the result of the last statement (0 when it has none).
  int column_count() const;
  std::string column_name(int column) const;
  // The column's SQL type code (SQL_INTEGER, SQL_VARCHAR, ...).
  short column_type(int column) const;

  // Moves to the next row of the result; false after the last one, when the
  // result is closed so that the statement can run again.
  bool fetch();
  // The current row's column (from 0), Null as nullopt.
  std::optional<std::string> text(int column);
  std::optional<double> number(int column);
  std::optional<std::int64_t> whole(int column);

  // Closes an unfinished result.
  void close();

 private:
  void bind(std::span<const Value> parameters);
  void run(short rc);

  Connection& connection_;
  Handle statement_;
  [[noreturn]] void fail() const;

  std::string sql_;  // what the last failure names
  std::string_view query_name_;
  // What bound parameters point at must live until the statement has run.
  struct Bound;
  std::vector<std::unique_ptr<Bound>> bound_;
  bool open_result_ = false;
};

// The first column of the first row of `sql`'s result, as text (nullopt for
// Null or no row).
std::optional<std::string> query_text(Connection& connection, std::string_view sql,
                                      std::span<const Value> parameters = {});

}  // namespace kavelo::db::odbc

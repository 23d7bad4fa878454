#include "db/odbc/odbc_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "db/odbc/driver_manager.h"
#include "db/odbc/odbc_failure.h"

namespace kavelo::db::odbc {
namespace {

bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

[[noreturn]] void fail(const Handle& handle, std::string_view connection_string) {
  throw failure_from(read_diagnostics(handle.type(), handle.get()), connection_string);
}

}  // namespace

Handle::Handle(short type, void* parent) : type_(type) {
  if (!succeeded(driver_manager().AllocHandle(type, parent, &handle_))) {
    handle_ = nullptr;
    throw failure(ErrorCode::EngineFailure, "no se puede reservar un identificador ODBC");
  }
}

Handle::Handle(Handle&& other) noexcept
    : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    if (handle_) driver_manager().FreeHandle(type_, handle_);
    type_ = other.type_;
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

Handle::~Handle() {
  if (handle_) driver_manager().FreeHandle(type_, handle_);
}

Connection::Connection(std::string connection_string, int login_timeout_seconds)
    : connection_string_(std::move(connection_string)), environment_(SQL_HANDLE_ENV, SQL_NULL_HANDLE) {
  if (!succeeded(driver_manager().SetEnvAttr(environment_.get(), SQL_ATTR_ODBC_VERSION,
                               reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_OV_ODBC3)), 0)))
    fail(environment_, connection_string_);
  connection_ = Handle(SQL_HANDLE_DBC, environment_.get());
  driver_manager().SetConnectAttr(connection_.get(), SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(login_timeout_seconds)), 0);
  std::string text = connection_string_;
  SQLRETURN rc = driver_manager().DriverConnect(connection_.get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                  static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!succeeded(rc)) fail(connection_, connection_string_);
  connected_ = true;
}

Connection::~Connection() {
  if (!connected_) return;
  // Closing with work pending would be refused; what was not committed is lost.
  if (!autocommit_) driver_manager().EndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
  driver_manager().Disconnect(connection_.get());
}

std::int64_t Connection::execute(std::string_view sql, std::span<const Value> parameters) {
  Statement statement(*this);
  statement.execute_direct(sql, parameters);
  return statement.affected_rows();
}

bool Connection::dead() const {
  SQLUINTEGER dead = SQL_CD_FALSE;
  SQLRETURN rc = driver_manager().GetConnectAttr(connection_.get(), SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
  return succeeded(rc) && dead == SQL_CD_TRUE;
}

void Connection::set_autocommit(bool on) {
  SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  if (!succeeded(driver_manager().SetConnectAttr(connection_.get(), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(value), 0)))
    fail(connection_, connection_string_);
  autocommit_ = on;
}

void Connection::end_transaction(short completion) {
  if (!succeeded(driver_manager().EndTran(SQL_HANDLE_DBC, connection_.get(), completion))) fail(connection_, connection_string_);
}

void Connection::commit() { end_transaction(SQL_COMMIT); }
void Connection::rollback() { end_transaction(SQL_ROLLBACK); }

Transaction::Transaction(Connection& connection) : connection_(connection) { connection_.set_autocommit(false); }

Transaction::~Transaction() {
  if (!open_) return;
  // Unwinding from a failure: the rollback and the return to autocommit may
  // fail too (a lost connection), and the first failure is the one to report.
  try {
    connection_.rollback();
    connection_.set_autocommit(true);
  } catch (const Failure&) {
  }
}

void Transaction::commit() {
  connection_.commit();
  open_ = false;
  connection_.set_autocommit(true);
}

struct Statement::Bound {
  std::string text;
  union {
    SQLSMALLINT small;
    SQLINTEGER integer;
    SQLDOUBLE real;
    SQLCHAR bit;
    SQL_TIMESTAMP_STRUCT timestamp;
  };
  SQLLEN indicator = 0;
};

Statement::Statement(Connection& connection)
    : connection_(connection), statement_(SQL_HANDLE_STMT, connection.handle()) {}

Statement::~Statement() = default;

void Statement::fail() const {
  throw failure_from(read_diagnostics(statement_.type(), statement_.get()), connection_.connection_string(),
                     query_name_.empty() ? std::string_view(sql_) : query_name_);
}

void Statement::prepare(std::string_view sql) {
  close();
  sql_ = sql;
  if (!succeeded(driver_manager().Prepare(statement_.get(), reinterpret_cast<SQLCHAR*>(sql_.data()),
                            static_cast<SQLINTEGER>(sql_.size()))))
    fail();
}

void Statement::execute(std::span<const Value> parameters) {
  close();
  bind(parameters);
  run(driver_manager().Execute(statement_.get()));
}

void Statement::execute_direct(std::string_view sql, std::span<const Value> parameters) {
  close();
  sql_ = sql;
  bind(parameters);
  run(driver_manager().ExecDirect(statement_.get(), reinterpret_cast<SQLCHAR*>(sql_.data()), static_cast<SQLINTEGER>(sql_.size())));
}

void Statement::run(short rc) {
  // An UPDATE or DELETE that touched no row is no failure.
  if (rc == SQL_NO_DATA) return;
  if (!succeeded(rc)) fail();
  SQLSMALLINT columns = 0;
  open_result_ = succeeded(driver_manager().NumResultCols(statement_.get(), &columns)) && columns > 0;
}

void Statement::bind(std::span<const Value> parameters) {
  driver_manager().FreeStmt(statement_.get(), SQL_RESET_PARAMS);
  bound_.clear();
  SQLUSMALLINT number = 0;
  for (const Value& value : parameters) {
    ++number;
    auto& b = *bound_.emplace_back(std::make_unique<Bound>());
    SQLSMALLINT c_type = SQL_C_CHAR, sql_type = SQL_VARCHAR, digits = 0;
    SQLULEN size = 1;
    SQLPOINTER data = nullptr;
    SQLLEN buffer_length = 0;
    const auto& v = value.storage();
    if (std::holds_alternative<Null>(v)) {
      b.indicator = SQL_NULL_DATA;
    } else if (auto s = std::get_if<std::string>(&v)) {
      b.text = *s;
      data = b.text.data();
      b.indicator = buffer_length = static_cast<SQLLEN>(b.text.size());
      size = std::max<SQLULEN>(b.text.size(), 1);
      if (size > 8000) sql_type = SQL_LONGVARCHAR;
    } else if (auto flag = std::get_if<bool>(&v)) {
      // Yes is -1, as the company database keeps it.
      b.small = *flag ? -1 : 0;
      c_type = SQL_C_SSHORT, sql_type = SQL_SMALLINT, size = 5, data = &b.small;
    } else if (auto byte = std::get_if<std::uint8_t>(&v)) {
      b.small = *byte;
      c_type = SQL_C_SSHORT, sql_type = SQL_SMALLINT, size = 5, data = &b.small;
    } else if (auto small = std::get_if<std::int16_t>(&v)) {
      b.small = *small;
      c_type = SQL_C_SSHORT, sql_type = SQL_SMALLINT, size = 5, data = &b.small;
    } else if (auto whole = std::get_if<std::int32_t>(&v)) {
      b.integer = *whole;
      c_type = SQL_C_SLONG, sql_type = SQL_INTEGER, size = 10, data = &b.integer;
    } else if (auto real = std::get_if<double>(&v)) {
      b.real = *real;
      c_type = SQL_C_DOUBLE, sql_type = SQL_DOUBLE, size = 15, data = &b.real;
    } else if (auto amount = std::get_if<Currency>(&v)) {
      // An exact decimal: going through a double would lose the last digits.
      std::int64_t n = amount->ten_thousandths;
      std::uint64_t magnitude = n < 0 ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
      b.text = fmt::format("{}{}.{:04}", n < 0 ? "-" : "", magnitude / 10000, magnitude % 10000);
      data = b.text.data();
      b.indicator = buffer_length = static_cast<SQLLEN>(b.text.size());
      sql_type = SQL_NUMERIC, size = 19, digits = 4;
    } else if (auto date = std::get_if<DateTime>(&v)) {
      b.timestamp = {static_cast<SQLSMALLINT>(date->year), static_cast<SQLUSMALLINT>(date->month),
                     static_cast<SQLUSMALLINT>(date->day), static_cast<SQLUSMALLINT>(date->hour),
                     static_cast<SQLUSMALLINT>(date->minute), static_cast<SQLUSMALLINT>(date->second), 0};
      c_type = SQL_C_TYPE_TIMESTAMP, sql_type = SQL_TYPE_TIMESTAMP, size = 19, data = &b.timestamp;
    }
    if (!succeeded(driver_manager().BindParameter(statement_.get(), number, SQL_PARAM_INPUT, c_type, sql_type, size, digits, data,
                                    buffer_length, &b.indicator)))
      fail();
  }
}

std::int64_t Statement::affected_rows() const {
  SQLLEN rows = -1;
  if (!succeeded(driver_manager().RowCount(statement_.get(), &rows))) return -1;
  return rows;
}

int Statement::column_count() const {
  SQLSMALLINT columns = 0;
  if (!succeeded(driver_manager().NumResultCols(statement_.get(), &columns))) fail();
  return columns;
}

std::string Statement::column_name(int column) const {
  SQLCHAR name[256] = {};
  SQLSMALLINT length = 0;
  if (!succeeded(driver_manager().ColAttribute(statement_.get(), static_cast<SQLUSMALLINT>(column + 1), SQL_DESC_NAME, name,
                                 sizeof name, &length, nullptr)))
    fail();
  return reinterpret_cast<const char*>(name);
}

short Statement::column_type(int column) const {
  SQLSMALLINT type = 0, digits = 0, nullable = 0, length = 0;
  SQLULEN size = 0;
  SQLCHAR name[256] = {};
  if (!succeeded(driver_manager().DescribeCol(statement_.get(), static_cast<SQLUSMALLINT>(column + 1), name, sizeof name, &length,
                                &type, &size, &digits, &nullable)))
    fail();
  return type;
}

bool Statement::fetch() {
  if (!open_result_) return false;
  SQLRETURN rc = driver_manager().Fetch(statement_.get());
  if (rc == SQL_NO_DATA) {
    close();
    return false;
  }
  if (!succeeded(rc)) fail();
  return true;
}

std::optional<std::string> Statement::text(int column) {
  std::string value;
  char chunk[4096];
  for (;;) {
    SQLLEN length = 0;
    SQLRETURN rc = driver_manager().GetData(statement_.get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_CHAR, chunk,
                              sizeof chunk, &length);
    if (rc == SQL_NO_DATA) break;  // the last call gave the rest
    if (!succeeded(rc)) fail();
    if (length == SQL_NULL_DATA) return std::nullopt;
    // A long value comes in pieces, each ended by a terminating zero.
    std::size_t piece = length == SQL_NO_TOTAL || length >= static_cast<SQLLEN>(sizeof chunk)
                            ? sizeof chunk - 1
                            : static_cast<std::size_t>(length);
    value.append(chunk, piece);
    if (rc == SQL_SUCCESS) break;
  }
  return value;
}

std::optional<double> Statement::number(int column) {
  SQLDOUBLE value = 0;
  SQLLEN length = 0;
  if (!succeeded(driver_manager().GetData(statement_.get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_DOUBLE, &value, 0,
                            &length)))
    fail();
  if (length == SQL_NULL_DATA) return std::nullopt;
  return value;
}

std::optional<std::int64_t> Statement::whole(int column) {
  SQLBIGINT value = 0;
  SQLLEN length = 0;
  if (!succeeded(driver_manager().GetData(statement_.get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_SBIGINT, &value, 0,
                            &length)))
    fail();
  if (length == SQL_NULL_DATA) return std::nullopt;
  return value;
}

void Statement::close() {
  if (open_result_) driver_manager().CloseCursor(statement_.get());
  open_result_ = false;
}

std::optional<std::string> query_text(Connection& connection, std::string_view sql,
                                      std::span<const Value> parameters) {
  Statement statement(connection);
  statement.execute_direct(sql, parameters);
  if (!statement.fetch()) return std::nullopt;
  std::optional<std::string> value = statement.text(0);
  statement.close();
  return value;
}

}  // namespace kavelo::db::odbc

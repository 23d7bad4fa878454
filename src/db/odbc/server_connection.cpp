#include "db/odbc/server_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "db/engine.h"
#include "db/odbc/server_schema.h"
#include "db/odbc/server_types.h"
#include "platform/text.h"

namespace kavelo::db::odbc {
namespace {

std::optional<std::int64_t> whole_of(std::string_view text) {
  std::int64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

std::optional<double> double_of(std::string_view text) {
  double d = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return d;
}

// "-123.4500" as an exact amount.
std::optional<Currency> amount_of(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  std::string digits;
  std::int64_t exponent = 0;
  bool point = false;
  for (char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits += c;
      if (point) --exponent;
    } else {
      return std::nullopt;
    }
  }
  if (digits.empty()) return std::nullopt;
  return currency_from_decimal(negative, digits, exponent);
}

// What a column of an SQL type holds when nothing else says.
ColumnKind kind_of_sql_type(short type) {
  switch (type) {
    case SQL_SMALLINT:
    case SQL_TINYINT: return ColumnKind::Short;
    case SQL_INTEGER: return ColumnKind::Long;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_REAL: return ColumnKind::Double;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return ColumnKind::Currency;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TYPE_DATE: return ColumnKind::DateTime;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return ColumnKind::Text;
    default: return ColumnKind::Untyped;
  }
}

// A value read as text, as a value of the column's kind; the text itself
// when it is none (a value stored by another program).
Value value_of(std::string text, ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Text: return Value(std::move(text));
    case ColumnKind::Byte:
      if (auto n = whole_of(text); n && *n >= 0 && *n <= 255) return Value(static_cast<std::uint8_t>(*n));
      break;
    case ColumnKind::Short:
      if (auto n = whole_of(text); n && *n >= INT16_MIN && *n <= INT16_MAX) return Value(static_cast<std::int16_t>(*n));
      break;
    case ColumnKind::Long:
      if (auto n = whole_of(text); n && *n >= INT32_MIN && *n <= INT32_MAX) return Value(static_cast<std::int32_t>(*n));
      break;
    case ColumnKind::Bit:
      if (auto n = whole_of(text)) return Value(*n != 0);
      break;
    case ColumnKind::Double:
      if (auto d = double_of(text)) return Value(*d);
      break;
    case ColumnKind::Currency:
      if (auto c = amount_of(text)) return Value(*c);
      break;
    case ColumnKind::DateTime:
      if (auto d = from_iso(text)) return Value(*d);
      break;
    case ColumnKind::Untyped:
      if (auto n = whole_of(text)) {
        if (*n >= INT32_MIN && *n <= INT32_MAX) return Value(static_cast<std::int32_t>(*n));
        return Value(static_cast<double>(*n));
      }
      if (auto d = double_of(text)) return Value(*d);
      break;
  }
  return Value(std::move(text));
}

class ServerCursor final : public Cursor {
 public:
  ServerCursor(ServerConnection& owner, Connection& connection, const std::string& sql)
      : owner_(owner), statement_(connection) {
    owner_.noting([&] { statement_.prepare(sql); });
  }

  void bind(int index, const Value& value, Binding) override {
    auto at = static_cast<std::size_t>(index - 1);
    if (parameters_.size() <= at) parameters_.resize(at + 1);
    parameters_[at] = value;
  }
  void bind_row_id(int index, RowId id) override {
    // Row numbers beyond 32 bits travel as exact decimals.
    if (id >= INT32_MIN && id <= INT32_MAX)
      bind(index, Value(static_cast<std::int32_t>(id)), Binding::Copied);
    else
      bind(index, Value(Currency{id * Currency::kScale}), Binding::Copied);
  }
  bool step() override {
    return owner_.noting([&] {
      if (!running_) {
        owner_.before_statement();
        try {
          statement_.execute(parameters_);
        } catch (const Failure&) {
          owner_.after_failed_statement();
          throw;
        }
        running_ = true;
        // The result's shape is read while the result is open: the last
        // fetch closes it. The same statement always gives the same shape.
        if (!described_) {
          int count = statement_.column_count();
          for (int i = 0; i < count; ++i) {
            names_.push_back(upper(statement_.column_name(i)));
            types_.push_back(kind_of_sql_type(statement_.column_type(i)));
          }
          described_ = true;
        }
      }
      return statement_.fetch();
    });
  }
  void reset() override {
    statement_.close();
    running_ = false;
  }
  // Known once the statement has run.
  int column_count() override { return static_cast<int>(names_.size()); }
  // The server's names are the schema's in lower case.
  std::string column_name(int column) override { return names_.at(static_cast<std::size_t>(column)); }
  ColumnKind column_kind(int column) override { return types_.at(static_cast<std::size_t>(column)); }
  Value read(int column, ColumnKind kind) override {
    auto text = owner_.noting([&] { return statement_.text(column); });
    if (!text) return Null{};
    if (kind == ColumnKind::Untyped) kind = column_kind(column);
    return value_of(std::move(*text), kind);
  }
  RowId read_row_id(int column) override {
    return owner_.noting([&] { return statement_.whole(column); }).value_or(0);
  }
  std::int64_t rows_written() override { return statement_.affected_rows(); }

  void renew(std::string_view jet_text) override {
    reset();
    parameters_.clear();
    statement_.name_query(jet_text);
  }

 private:
  ServerConnection& owner_;
  Statement statement_;
  std::vector<Value> parameters_;
  std::vector<std::string> names_;
  std::vector<ColumnKind> types_;
  bool described_ = false;
  bool running_ = false;
};

// A column default as information_schema shows it ('x'::character varying,
// 0, '-1'::integer, nextval(...)), as an SQL literal default_from_sql reads.
std::string default_literal(std::string text) {
  if (text.empty()) return text;
  // The cast the server writes after a literal.
  if (text.front() == '\'') {
    auto close = text.rfind('\'');
    if (close != std::string::npos && close > 0) return text.substr(0, close + 1);
  }
  if (auto cast = text.find("::"); cast != std::string::npos) text = text.substr(0, cast);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') text = text.substr(1, text.size() - 2);
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') text = text.substr(1, text.size() - 2);
  // An expression (a sequence, a function) is the server's to work out.
  return whole_of(text) || double_of(text) ? text : "(" + text + ")";
}

}  // namespace

namespace {

// The driver's own statement savepoints would swallow the engine's record
// savepoints (releasing one made before them releases them too): the engine
// keeps its statements atomic itself.
std::string without_driver_savepoints(std::string connection_string) {
  if (upper(connection_string).find("PROTOCOL=") != std::string::npos) return connection_string;
  if (!connection_string.empty() && connection_string.back() != ';') connection_string += ';';
  return connection_string + "Protocol=7.4-0;";
}

constexpr const char* kStatementSavepoint = "kavelo_statement";

}  // namespace

ServerConnection::ServerConnection(const std::string& path, std::string key, const std::string& connection_string,
                                   std::chrono::milliseconds busy_wait)
    : db::Connection(path, std::move(key), Dialect::Postgres),
      odbc_(without_driver_savepoints(connection_string)),
      commands_(odbc_) {
  busy_wait_ = busy_wait;
}

void ServerConnection::before_statement() {
  // In autocommit every statement is its own transaction already.
  if (odbc_.autocommit()) return;
  noting([&] {
    commands_.execute_direct(guard_open_ ? fmt::format("RELEASE SAVEPOINT {0}; SAVEPOINT {0}", kStatementSavepoint)
                                         : fmt::format("SAVEPOINT {}", kStatementSavepoint));
  });
  guard_open_ = true;
}

void ServerConnection::after_failed_statement() {
  if (!guard_open_ || odbc_.dead()) return;
  try {
    commands_.execute_direct(fmt::format("ROLLBACK TO SAVEPOINT {}", kStatementSavepoint));
  } catch (const Failure&) {
    // The statement's own failure is the one to report.
  }
}

void ServerConnection::run_command(const std::string& sql) {
  noting([&] {
    // A record's savepoint must not be made inside a statement's, whose
    // release would take it along.
    if (guard_open_) {
      guard_open_ = false;
      commands_.execute_direct(fmt::format("RELEASE SAVEPOINT {}", kStatementSavepoint));
    }
    commands_.execute_direct(sql);
  });
}

ServerConnection::~ServerConnection() {
  // The statements go before the connection they belong to.
  statements_.clear();
}

Failure ServerConnection::noted(const Failure& f) {
  if (odbc_.dead()) {
    guard_open_ = false;
    transaction_lost(f);
  }
  return f;
}

Cursor& ServerConnection::prepare(const std::string& sql, std::string_view jet_text) {
  auto it = statements_.find(sql);
  if (it == statements_.end()) {
    auto cursor = std::make_unique<ServerCursor>(*this, odbc_, sql);
    it = statements_.emplace(sql, std::move(cursor)).first;
  }
  it->second->renew(jet_text);
  return *it->second;
}

RowId ServerConnection::last_insert_row_id() {
  // The identity of every table draws on a sequence of its own; the last
  // value drawn in this session is the row just added.
  Cursor& cursor = prepare("SELECT lastval()", {});
  CursorScope scope(cursor);
  if (!cursor.step()) throw failure(ErrorCode::EngineFailure, "lastval()");
  return cursor.read_row_id(0);
}

void ServerConnection::execute(const char* sql) { run_command(sql); }

void ServerConnection::begin_transaction(std::chrono::milliseconds) {
  // With autocommit off the server opens a transaction with the next statement.
  noting([&] {
    if (odbc_.autocommit()) odbc_.set_autocommit(false);
  });
}

void ServerConnection::lock_tables(const std::vector<std::string>& tables, std::chrono::milliseconds wait) {
  // EXCLUSIVE keeps out every writer and lets plain readers on, as a file's
  // write lock does. Table by table, to name the one that stays taken.
  run_command(fmt::format("SET LOCAL lock_timeout = {}", wait.count()));
  for (const std::string& table : tables) {
    try {
      // Inside a statement savepoint: a lock refused leaves the transaction usable.
      noting([&] {
        before_statement();
        try {
          commands_.execute_direct(
              fmt::format("LOCK TABLE {} IN EXCLUSIVE MODE", quote_identifier(table, Dialect::Postgres)));
        } catch (const Failure&) {
          after_failed_statement();
          throw;
        }
      });
    } catch (const Failure& f) {
      if (f.number() != static_cast<int>(ErrorCode::DatabaseInUse)) throw;
      throw failure(ErrorCode::TableInUse, table);
    }
  }
}

void ServerConnection::commit_transaction() {
  guard_open_ = false;
  noting([&] { odbc_.commit(); });
}

void ServerConnection::rollback_transaction() {
  guard_open_ = false;
  noting([&] { odbc_.rollback(); });
}

std::unique_ptr<TableInfo> ServerConnection::load_table(std::string_view name) {
  Cursor& cursor = prepare(
      "SELECT column_name, data_type, coalesce(domain_name, ''), coalesce(character_maximum_length, 0), "
      "is_nullable, coalesce(column_default, ''), coalesce(collation_name, '') FROM information_schema.columns "
      "WHERE table_schema = current_schema() AND table_name = ? ORDER BY ordinal_position",
      {});
  CursorScope scope(cursor);
  cursor.bind(1, Value(lower(name)));
  auto info = std::make_unique<TableInfo>();
  bool identity = false;
  while (cursor.step()) {
    auto text = [&](int column) {
      Value v = cursor.read(column, ColumnKind::Text);
      return v.is_text() ? *v.get_if<std::string>() : std::string();
    };
    ColumnInfo column;
    column.name = text(0);
    if (column.name == kRowIdentity) {
      identity = true;
      continue;
    }
    // Named as the company's schema writes them; SQL names them in lower case.
    column.name = upper(column.name);
    column.kind = kind_of_server_type(text(1), text(2));
    if (column.kind == ColumnKind::Text) column.text_size = static_cast<int>(whole_of(text(3)).value_or(0));
    column.required = text(4) == "NO";
    column.default_value = default_from_sql(default_literal(text(5)), column.kind);
    column.nocase = text(6) == "kavelo_nocase";
    info->add(std::move(column));
  }
  if (info->columns.empty()) return nullptr;
  if (!identity)
    throw failure(ErrorCode::EngineFailure,
                  fmt::format("la tabla {} del servidor no tiene la columna {}, que kavelo-db create pone en cada "
                              "tabla para encontrar sus filas",
                              lower(name), kRowIdentity));
  info->name = std::string(name);
  info->refuses_changes = refuses_changes(lower(name));
  return info;
}

bool ServerConnection::refuses_changes(const std::string& table) {
  // A CHECK rule of the table or of a column's domain, a trigger, a rule or a
  // row security policy may each refuse a change.
  Cursor& cursor = prepare(
      "SELECT CASE WHEN c.relrowsecurity"
      " OR EXISTS (SELECT 1 FROM pg_constraint k WHERE k.conrelid = c.oid AND k.contype = 'c')"
      " OR EXISTS (SELECT 1 FROM pg_trigger t WHERE t.tgrelid = c.oid AND NOT t.tgisinternal)"
      " OR EXISTS (SELECT 1 FROM pg_rewrite r WHERE r.ev_class = c.oid AND r.rulename <> '_RETURN')"
      " OR EXISTS (SELECT 1 FROM pg_attribute a JOIN pg_constraint d ON d.contypid = a.atttypid"
      "            WHERE a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped AND d.contype = 'c')"
      " THEN 1 ELSE 0 END FROM pg_class c WHERE c.oid = to_regclass(?)",
      {});
  CursorScope scope(cursor);
  cursor.bind(1, Value(table));
  if (!cursor.step()) return true;
  Value answer = cursor.read(0, ColumnKind::Long);
  return !(answer.get_if<std::int32_t>() && *answer.get_if<std::int32_t>() == 0);
}

void register_server_backend() {
  Engine::instance().set_server_opener([](const std::string& path, const std::string& key,
                                          const std::string& connection_string, std::chrono::milliseconds wait) {
    return std::make_shared<ServerConnection>(path, key, connection_string, wait);
  });
}

}  // namespace kavelo::db::odbc

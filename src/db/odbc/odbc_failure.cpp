#include "db/odbc/odbc_failure.h"
#include "platform/text.h"

#include <sql.h>
#include <sqlext.h>

#include <cctype>
#include <map>

#include <fmt/format.h>

#include "db/odbc/driver_manager.h"

namespace kavelo::db::odbc {
namespace {

std::string trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

// Drivers write several lines (the error, its detail, what they were doing);
// the report has one line per failure.
std::string one_line(std::string_view message) {
  std::string text;
  bool blank = false;
  for (char c : message) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank = !text.empty();
      continue;
    }
    if (blank) text += ' ';
    blank = false;
    text += c;
  }
  return text;
}

// The name in double quotes after `before` in a server's message.
std::string quoted_after(std::string_view message, std::string_view before) {
  auto at = message.find(before);
  if (at == std::string_view::npos) return {};
  message.remove_prefix(at + before.size());
  auto end = message.find('"');
  return std::string(message.substr(0, end));
}

// Key=value pairs of a connection string, keys in upper case. A value in
// braces may hold semicolons.
std::map<std::string, std::string> attributes(std::string_view text) {
  std::map<std::string, std::string> pairs;
  while (!text.empty()) {
    auto eq = text.find('=');
    if (eq == std::string_view::npos) break;
    std::string key = upper(trim(text.substr(0, eq)));
    text.remove_prefix(eq + 1);
    std::string value;
    if (!text.empty() && text.front() == '{') {
      auto close = text.find('}');
      value = std::string(text.substr(1, close == std::string_view::npos ? close : close - 1));
      text.remove_prefix(close == std::string_view::npos ? text.size() : close + 1);
      auto semi = text.find(';');
      text.remove_prefix(semi == std::string_view::npos ? text.size() : semi + 1);
    } else {
      auto semi = text.find(';');
      value = trim(text.substr(0, semi));
      text.remove_prefix(semi == std::string_view::npos ? text.size() : semi + 1);
    }
    if (!key.empty()) pairs.emplace(key, value);
  }
  return pairs;
}

}  // namespace

std::vector<Diagnostic> read_diagnostics(short handle_type, void* handle) {
  std::vector<Diagnostic> records;
  for (SQLSMALLINT number = 1; number <= 20; ++number) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::vector<SQLCHAR> message(1024);
    SQLRETURN rc = driver_manager().GetDiagRec(handle_type, handle, number, state, &native, message.data(),
                                 static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<std::size_t>(length) + 1);
      rc = driver_manager().GetDiagRec(handle_type, handle, number, state, &native, message.data(),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    records.push_back({reinterpret_cast<const char*>(state), static_cast<int>(native),
                       reinterpret_cast<const char*>(message.data())});
  }
  return records;
}

std::string server_of(std::string_view connection_string) {
  auto pairs = attributes(connection_string);
  auto find = [&](std::initializer_list<const char*> keys) -> std::string {
    for (const char* key : keys)
      if (auto it = pairs.find(key); it != pairs.end() && !it->second.empty()) return it->second;
    return {};
  };
  std::string host = find({"SERVER", "SERVERNAME", "HOST"});
  std::string port = find({"PORT"});
  std::string dsn = find({"DSN"});
  if (!host.empty()) return port.empty() ? fmt::format("'{}'", host) : fmt::format("'{}' (puerto {})", host, port);
  if (!dsn.empty()) return fmt::format("del origen de datos '{}'", dsn);
  return "de la cadena de conexión";
}

Failure failure_from(const std::vector<Diagnostic>& diagnostics, std::string_view connection_string,
                     std::string_view query) {
  if (diagnostics.empty())
    return failure(ErrorCode::EngineFailure, "el controlador ODBC no dio ningún diagnóstico");
  const Diagnostic& first = diagnostics.front();
  const std::string message = one_line(first.message);
  const std::string_view state = first.sqlstate;
  if (state == "23505" ||
      // The SQLite driver says HY000 with SQLite's own constraint code.
      (state == "HY000" && first.native == 19 && message.find("UNIQUE constraint failed") != std::string::npos))
    return failure(ErrorCode::DuplicateValue);
  // The server keeps names in lower case; the catalogue names them as the
  // company's schema writes them.
  if (state == "23502") return failure(ErrorCode::RequiredValue, upper(quoted_after(message, "column \"")));
  if (state == "23514") return failure(ErrorCode::ValidationRule, quoted_after(message, "check constraint \""));
  // A connection lost on the way is told apart from one never made.
  // A server that ends the session (shut down, or by an administrator) is a
  // connection lost too.
  if (state == "08S01" || state == "08003" || state == "08006" || state == "08007" || state == "57P01" ||
      state == "57P02" || state == "57P03")
    return failure(ErrorCode::EngineFailure,
                   fmt::format("se ha perdido la conexión con el servidor de base de datos {} ({}): {}",
                               server_of(connection_string), first.sqlstate, message));
  if (state.starts_with("08"))
    return failure(ErrorCode::EngineFailure,
                   fmt::format("no se puede conectar con el servidor de base de datos {} ({}): {}",
                               server_of(connection_string), first.sqlstate, message));
  if (state == "42P01") return failure(ErrorCode::TableNotFound, upper(quoted_after(message, "relation \"")));
  if (state == "42703") {
    std::string column = quoted_after(message, "column \"");
    if (column.empty()) {
      // Unquoted: "column f_mae.x does not exist".
      auto at = message.find("column ");
      if (at != std::string::npos) {
        column = message.substr(at + 7);
        column = column.substr(0, column.find(' '));
      }
    }
    // "column t.c does not exist" names the table too.
    if (auto dot = column.rfind('.'); dot != std::string::npos) column = column.substr(dot + 1);
    return failure(ErrorCode::TooFewParameters, upper(column));
  }
  if (state == "42601" && !query.empty()) return failure(ErrorCode::QuerySyntax, query);
  if (state == "22003") return failure(ErrorCode::Overflow);
  if (state == "40P01" || state == "55P03") return failure(ErrorCode::DatabaseInUse, server_of(connection_string));
  return failure(ErrorCode::EngineFailure, fmt::format("{} ({})", message, first.sqlstate));
}

}  // namespace kavelo::db::odbc

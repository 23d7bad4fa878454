#include "db/pg/pg_connection.h"

#include <poll.h>

#include <cctype>
#include <cerrno>
#include <exception>

#include <fmt/format.h>

#include "platform/text.h"

namespace kavelo::db::pg {
namespace {

std::string trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

// The link file's keys and the libpq keywords they give.
struct KeyName {
  const char* key;
  const char* keyword;
};
constexpr KeyName kKeywords[] = {
    {"SERVER", "host"},     {"SERVERNAME", "host"},     {"HOST", "host"},         {"PORT", "port"},
    {"DATABASE", "dbname"}, {"DBNAME", "dbname"},       {"UID", "user"},          {"USER", "user"},
    {"USERNAME", "user"},   {"PWD", "password"},        {"PASSWORD", "password"}, {"SSLMODE", "sslmode"},
};

// The name in double quotes after `before` in a server's message.
std::string quoted_after(std::string_view message, std::string_view before) {
  auto at = message.find(before);
  if (at == std::string_view::npos) return {};
  message.remove_prefix(at + before.size());
  return std::string(message.substr(0, message.find('"')));
}

std::string field(const PGresult* result, int code) {
  const char* text = result ? pq().PQresultErrorField(result, code) : nullptr;
  return text ? text : "";
}

void no_notices(void*, const char*) {}

}  // namespace

std::string ConnInfo::get(std::string_view keyword) const {
  for (const auto& [key, value] : settings)
    if (key == keyword) return value;
  return {};
}

ConnInfo conninfo_of(std::string_view text) {
  ConnInfo info;
  auto set = [&](const char* keyword, std::string value) {
    for (auto& [key, old] : info.settings)
      if (key == keyword) {
        old = std::move(value);
        return;
      }
    info.settings.emplace_back(keyword, std::move(value));
  };
  while (!text.empty()) {
    auto eq = text.find('=');
    if (eq == std::string_view::npos) break;
    std::string key = upper(trimmed(text.substr(0, eq)));
    text.remove_prefix(eq + 1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    std::string value;
    if (!text.empty() && text.front() == '{') {
      // Up to the "}" that is not doubled.
      std::size_t i = 1;
      for (; i < text.size(); ++i) {
        if (text[i] != '}') {
          value += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '}') {
          value += '}';
          ++i;
        } else {
          break;
        }
      }
      text.remove_prefix(std::min(i + 1, text.size()));
      auto semi = text.find(';');
      text.remove_prefix(semi == std::string_view::npos ? text.size() : semi + 1);
    } else {
      auto semi = text.find(';');
      value = trimmed(text.substr(0, semi));
      text.remove_prefix(semi == std::string_view::npos ? text.size() : semi + 1);
    }
    if (key == "DRIVER") {
      if (lower(value).find("postgres") == std::string::npos)
        throw failure(ErrorCode::EngineFailure,
                      fmt::format("el controlador '{}' del archivo de enlace no es de PostgreSQL: kavelo solo "
                                  "trabaja con bases de datos de empresa en un servidor PostgreSQL",
                                  value));
      continue;
    }
    for (const KeyName& name : kKeywords)
      if (key == name.key) set(name.keyword, value);
  }
  return info;
}

std::string server_of(const ConnInfo& info) {
  std::string host = info.get("host"), port = info.get("port");
  if (host.empty()) return "de la cadena de conexión";
  return port.empty() ? fmt::format("'{}'", host) : fmt::format("'{}' (puerto {})", host, port);
}

bool means_lost_connection(std::string_view state) {
  return state.starts_with("08") || state == "57P01" || state == "57P02" || state == "57P03";
}

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

std::string quoted(std::string_view name) {
  std::string text = "\"";
  for (char c : name) text += c == '"' ? std::string("\"\"") : std::string(1, c);
  return text + '"';
}

Failure failure_of(const ServerError& error, std::string_view server) {
  const std::string_view state = error.sqlstate;
  const std::string& message = error.message;
  if (state == "23505") return failure(ErrorCode::DuplicateValue);
  // The server keeps the names in lower case; the catalogue names them as
  // kavelo writes them.
  if (state == "23502")
    return failure(ErrorCode::RequiredValue,
                   upper(error.column.empty() ? quoted_after(message, "column \"") : error.column));
  if (state == "23514")
    return failure(ErrorCode::ValidationRule,
                   error.constraint.empty() ? quoted_after(message, "check constraint \"") : error.constraint);
  if (state == "22003") return failure(ErrorCode::Overflow);
  if (state == "42P01") return failure(ErrorCode::TableNotFound, upper(quoted_after(message, "relation \"")));
  if (state == "42703") {
    std::string column = quoted_after(message, "column \"");
    if (column.empty()) {
      // Unquoted: "column f_mae.x does not exist".
      if (auto at = message.find("column "); at != std::string::npos) {
        column = message.substr(at + 7);
        column = column.substr(0, column.find(' '));
      }
    }
    if (auto dot = column.rfind('.'); dot != std::string::npos) column = column.substr(dot + 1);
    return failure(ErrorCode::TooFewParameters, upper(column));
  }
  if (state.empty() || means_lost_connection(state))
    return failure(ErrorCode::EngineFailure,
                   fmt::format("se ha perdido la conexión con el servidor de base de datos {}{}: {}", server,
                               state.empty() ? "" : fmt::format(" ({})", state), message));
  if (state == "40P01" || state == "55P03") return failure(ErrorCode::DatabaseInUse, server);
  return failure(ErrorCode::EngineFailure, fmt::format("{} ({})", message, state));
}

Connection::Connection(const std::string& connection_string) {
  ConnInfo info = conninfo_of(connection_string);
  server_ = server_of(info);
  if (info.get("connect_timeout").empty()) info.settings.emplace_back("connect_timeout", "15");
  info.settings.emplace_back("client_encoding", "UTF8");
  info.settings.emplace_back("application_name", "kavelo");
  // Dates as YYYY-MM-DD HH:MM:SS, doubles in the fewest digits that read back exactly.
  info.settings.emplace_back("options", "-c DateStyle=ISO -c extra_float_digits=3");
  std::vector<const char*> keywords, values;
  for (const auto& [key, value] : info.settings) {
    keywords.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  conn_ = pq().PQconnectdbParams(keywords.data(), values.data(), 0);
  if (!conn_ || pq().PQstatus(conn_) != CONNECTION_OK) {
    std::string reason = conn_ ? one_line(pq().PQerrorMessage(conn_)) : "sin memoria";
    pq().PQfinish(conn_);
    conn_ = nullptr;
    throw kavelo::failure(ErrorCode::EngineFailure,
                          fmt::format("no se puede conectar con el servidor de base de datos {}: {}", server_, reason));
  }
  // Notices (a table that already exists, say) are not for the person running kavelo.
  pq().PQsetNoticeProcessor(conn_, no_notices, nullptr);
}

Connection::~Connection() { pq().PQfinish(conn_); }

ServerError Connection::error_of(const PGresult* result) {
  ServerError error;
  error.sqlstate = field(result, PG_DIAG_SQLSTATE);
  error.message = one_line(field(result, PG_DIAG_MESSAGE_PRIMARY));
  if (error.message.empty()) error.message = one_line(result ? pq().PQresultErrorMessage(result) : pq().PQerrorMessage(conn_));
  if (error.message.empty()) error.message = one_line(pq().PQerrorMessage(conn_));
  error.column = field(result, PG_DIAG_COLUMN_NAME);
  error.constraint = field(result, PG_DIAG_CONSTRAINT_NAME);
  // A session that broke has no state of the server's.
  if (pq().PQstatus(conn_) == CONNECTION_BAD && !means_lost_connection(error.sqlstate)) error.sqlstate.clear();
  return error;
}

Failure Connection::failure(const ServerError& error) {
  if (error.sqlstate.empty() || means_lost_connection(error.sqlstate) || pq().PQstatus(conn_) == CONNECTION_BAD)
    broken_ = true;
  return failure_of(error, server_);
}

Failure Connection::lost(std::string_view message) {
  ServerError error;
  error.message = one_line(message);
  return failure(error);
}

void Connection::wait_socket(bool write) {
  pollfd fd{pq().PQsocket(conn_), static_cast<short>(POLLIN | (write ? POLLOUT : 0)), 0};
  while (poll(&fd, 1, -1) < 0)
    if (errno != EINTR) throw lost("poll");
}

std::optional<Refusal> Connection::run(std::vector<Command>& commands) {
  if (broken_) throw lost("la sesión ya se había perdido");
  if (commands.empty()) return std::nullopt;
  if (!pq().PQenterPipelineMode(conn_)) throw lost(pq().PQerrorMessage(conn_));
  // Without blocking, the results are read while the statements are still
  // being sent: neither side then waits for the other with full buffers.
  pq().PQsetnonblocking(conn_, 1);
  struct Expected {
    std::size_t index;
    std::string prepared;  // the name a Parse gives, or empty for a statement
  };
  std::vector<Expected> expected;
  auto send = [&](Command& command, std::size_t index) {
    std::vector<const char*> values;
    for (const auto& p : command.params) values.push_back(p ? p->c_str() : nullptr);
    const int count = static_cast<int>(values.size());
    if (!command.prepared)
      return pq().PQsendQueryParams(conn_, command.sql.c_str(), count, nullptr, values.data(), nullptr, nullptr, 0);
    auto it = prepared_.find(command.sql);
    if (it == prepared_.end()) {
      std::string name = fmt::format("kavelo_{}", ++statements_named_);
      if (!pq().PQsendPrepare(conn_, name.c_str(), command.sql.c_str(), count, nullptr)) return 0;
      expected.push_back({index, name});
      it = prepared_.emplace(command.sql, name).first;
    }
    return pq().PQsendQueryPrepared(conn_, it->second.c_str(), count, values.data(), nullptr, nullptr, 0);
  };
  for (std::size_t i = 0; i < commands.size(); ++i) {
    if (!send(commands[i], i)) {
      pq().PQsetnonblocking(conn_, 0);
      throw lost(pq().PQerrorMessage(conn_));
    }
    expected.push_back({i, {}});
  }
  if (!pq().PQpipelineSync(conn_)) {
    pq().PQsetnonblocking(conn_, 0);
    throw lost(pq().PQerrorMessage(conn_));
  }

  std::optional<Refusal> refusal;
  std::size_t at = 0;  // which expected result comes next
  std::size_t refused_at = 0;
  std::exception_ptr thrown;
  bool got_result = false;
  auto broke = [&](std::string_view message) {
    pq().PQsetnonblocking(conn_, 0);
    // Statements prepared on a session that is gone are gone with it.
    prepared_.clear();
    return lost(message);
  };
  for (;;) {
    int flushed = pq().PQflush(conn_);
    if (flushed < 0) throw broke(pq().PQerrorMessage(conn_));
    if (pq().PQisBusy(conn_)) {
      wait_socket(flushed == 1);
      if (!pq().PQconsumeInput(conn_)) throw broke(pq().PQerrorMessage(conn_));
      continue;
    }
    PGresult* raw = pq().PQgetResult(conn_);
    if (!raw) {
      // The end of one statement's results.
      if (got_result) ++at;
      got_result = false;
      if (pq().PQstatus(conn_) == CONNECTION_BAD) throw broke(pq().PQerrorMessage(conn_));
      continue;
    }
    std::unique_ptr<PGresult, void (*)(PGresult*)> result(raw, pq().PQclear);
    got_result = true;
    ExecStatusType status = pq().PQresultStatus(raw);
    if (status == PGRES_PIPELINE_SYNC) break;
    if (status == PGRES_PIPELINE_ABORTED) continue;
    if (status == PGRES_FATAL_ERROR || status == PGRES_BAD_RESPONSE || status == PGRES_NONFATAL_ERROR) {
      ServerError error = error_of(raw);
      if (error.sqlstate.empty() || means_lost_connection(error.sqlstate) || pq().PQstatus(conn_) == CONNECTION_BAD) {
        pq().PQsetnonblocking(conn_, 0);
        prepared_.clear();
        throw failure(error);
      }
      if (!refusal && at < expected.size()) {
        refused_at = at;
        refusal = Refusal{expected[at].index, std::move(error)};
      }
      continue;
    }
    if (!refusal && at < expected.size() && expected[at].prepared.empty()) {
      Command& command = commands[expected[at].index];
      // The pipeline is read to its end whatever a reader throws.
      try {
        if (command.on_result) command.on_result(*raw);
      } catch (...) {
        if (!thrown) thrown = std::current_exception();
      }
    }
  }
  pq().PQsetnonblocking(conn_, 0);
  if (!pq().PQexitPipelineMode(conn_)) throw broke(pq().PQerrorMessage(conn_));
  // A statement whose Parse failed, or was skipped after a refusal, is not
  // prepared: it is prepared again the next time.
  if (refusal)
    for (std::size_t i = refused_at; i < expected.size(); ++i)
      if (!expected[i].prepared.empty())
        std::erase_if(prepared_, [&](const auto& p) { return p.second == expected[i].prepared; });
  if (thrown) std::rethrow_exception(thrown);
  return refusal;
}

void Connection::run_or_throw(std::vector<Command>& commands) {
  if (auto refusal = run(commands)) throw failure(refusal->error);
}

void Connection::execute(const std::string& sql) {
  if (broken_) throw lost("la sesión ya se había perdido");
  std::unique_ptr<PGresult, void (*)(PGresult*)> result(pq().PQexec(conn_, sql.c_str()), pq().PQclear);
  ExecStatusType status = pq().PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw failure(error_of(result.get()));
}

std::unique_ptr<PGresult, void (*)(PGresult*)> Connection::query(const std::string& sql, const Params& params) {
  if (broken_) throw lost("la sesión ya se había perdido");
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  std::unique_ptr<PGresult, void (*)(PGresult*)> result(
      pq().PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 0),
      pq().PQclear);
  ExecStatusType status = pq().PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) throw failure(error_of(result.get()));
  return result;
}

void Connection::copy_in(const std::string& sql, std::string_view data) {
  if (broken_) throw lost("la sesión ya se había perdido");
  if (!pq().PQsendQuery(conn_, sql.c_str())) throw lost(pq().PQerrorMessage(conn_));
  std::optional<ServerError> error;
  while (PGresult* raw = pq().PQgetResult(conn_)) {
    std::unique_ptr<PGresult, void (*)(PGresult*)> result(raw, pq().PQclear);
    switch (pq().PQresultStatus(raw)) {
      case PGRES_COPY_IN: {
        // libpq sends as much as it can take at once; big rows go in parts.
        constexpr std::size_t kPart = 1 << 20;
        for (std::size_t at = 0; at < data.size(); at += kPart) {
          auto part = data.substr(at, kPart);
          if (pq().PQputCopyData(conn_, part.data(), static_cast<int>(part.size())) != 1) break;
        }
        if (pq().PQputCopyEnd(conn_, nullptr) != 1) throw lost(pq().PQerrorMessage(conn_));
        break;
      }
      case PGRES_COMMAND_OK:
      case PGRES_TUPLES_OK: break;
      default:
        if (!error) error = error_of(raw);
        break;
    }
    if (pq().PQstatus(conn_) == CONNECTION_BAD) break;
  }
  if (pq().PQstatus(conn_) == CONNECTION_BAD) throw failure(error ? *error : error_of(nullptr));
  if (error) throw failure(*error);
}

}  // namespace kavelo::db::pg

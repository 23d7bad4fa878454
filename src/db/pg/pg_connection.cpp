#include "db/pg/pg_connection.h"

#include <poll.h>

#include <cctype>
#include <cerrno>
#include <exception>
#include <future>
#include <thread>

#include <fmt/format.h>

#include "db/open_store.h"
#include "db/pg/pg_connect.h"
#include "db/store.h"
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

// What a session given up waits at most for its cancel request to go.
constexpr std::chrono::seconds kCancelWait{5};

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
  if (state == "23505") return failure(ErrorCode::DuplicateValue);
  // The server keeps the names in lower case; the catalogue names them as
  // kavelo writes them.
  if (state == "23502") return failure(ErrorCode::RequiredValue, upper(error.column));
  if (state == "23514") return failure(ErrorCode::ValidationRule, error.constraint);
  if (state == "22003") return failure(ErrorCode::Overflow);
  if (state == "42P01") return failure(ErrorCode::TableNotFound, upper(error.table));
  if (state == "42703") return failure(ErrorCode::TooFewParameters, upper(error.column));
  if (state.empty() || means_lost_connection(state))
    return failure(ErrorCode::EngineFailure,
                   fmt::format("se ha perdido la conexión con el servidor de base de datos {}{}: {}", server,
                               state.empty() ? "" : fmt::format(" ({})", state), error.message));
  if (state == "40P01" || state == "55P03") {
    // The catalogue's text quotes the name itself.
    std::string name(server);
    std::erase(name, '\'');
    return failure(ErrorCode::DatabaseInUse, name);
  }
  return failure(ErrorCode::EngineFailure, fmt::format("{} ({})", error.message, state));
}

Connection::Connection(const std::string& connection_string) {
  ConnInfo info;
  try {
    info = conninfo_of(connection_string);
  } catch (const Failure& refused) {
    throw OpenRefused(refused);
  }
  server_ = server_of(info);
  // The mode the README promises, whatever the environment says.
  if (info.get("sslmode").empty()) info.settings.emplace_back("sslmode", "prefer");
  // A peer that is gone is noticed while nothing is sent (keepalives) and
  // while sent data waits for its acknowledgement (tcp_user_timeout).
  info.settings.emplace_back("keepalives", "1");
  info.settings.emplace_back("keepalives_idle", "10");
  info.settings.emplace_back("keepalives_interval", "5");
  info.settings.emplace_back("keepalives_count", "3");
  info.settings.emplace_back("tcp_user_timeout", std::to_string(kSilence.count()));
  info.settings.emplace_back("client_encoding", "UTF8");
  info.settings.emplace_back("application_name", "kavelo");
  // Dates as YYYY-MM-DD HH:MM:SS, doubles in the fewest digits that read back exactly.
  info.settings.emplace_back("options", "-c DateStyle=ISO -c extra_float_digits=3");
  conn_ = connect(info, server_);
  // Never blocking: every wait is this object's own, and bounded.
  pq().PQsetnonblocking(conn_, 1);
  // Notices (a table that already exists, say) are not for the person running kavelo.
  pq().PQsetNoticeProcessor(conn_, no_notices, nullptr);
  // The session's bounds, those of them that the server knows (an older one
  // lacks some): set once, outside any transaction, so that no rollback
  // takes them back.
  try {
    execute(fmt::format(
        "SELECT set_config(s.name, v.setting, false) FROM (VALUES ('lock_timeout', '{0}'), "
        "('idle_in_transaction_session_timeout', '{1}'), ('client_connection_check_interval', '5000'), "
        "('tcp_keepalives_idle', '10'), ('tcp_keepalives_interval', '5'), ('tcp_keepalives_count', '3'), "
        "('tcp_user_timeout', '{1}')) AS v(name, setting) JOIN pg_settings s ON s.name = v.name",
        kWriteBusyWait.count(), kSilence.count()));
  } catch (const Failure& failed) {
    pq().PQfinish(conn_);
    conn_ = nullptr;
    throw ServerNotReady(failed, server_);
  }
  silence_ = kSilence;
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
  error.table = field(result, PG_DIAG_TABLE_NAME);
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
  for (;;) {
    const int ready = poll(&fd, 1, static_cast<int>(silence_.count()));
    if (ready > 0) return;
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) throw lost("poll");
    abandon();
    throw lost(fmt::format("el servidor no ha contestado en {} s", silence_.count() / 1000));
  }
}

void Connection::abandon() {
  broken_ = true;
  prepared_.clear();
  if (!conn_) return;
  if (PGcancel* cancel = pq().PQgetCancel(conn_)) {
    // The request goes on a connection of its own, which may hang as this
    // one did: it is waited for a moment, then left to itself.
    auto sent = std::make_shared<std::promise<void>>();
    std::future<void> done = sent->get_future();
    std::thread([cancel, sent] {
      char error[256];
      pq().PQcancel(cancel, error, sizeof error);
      pq().PQfreeCancel(cancel);
      sent->set_value();
    }).detach();
    done.wait_for(kCancelWait);
  }
  // Without blocking, closing sends what the socket takes and no more.
  pq().PQfinish(conn_);
  conn_ = nullptr;
}

void Connection::wait_for_result() {
  for (;;) {
    const int flushed = pq().PQflush(conn_);
    if (flushed < 0) throw lost(pq().PQerrorMessage(conn_));
    if (!pq().PQisBusy(conn_)) return;
    wait_socket(flushed == 1);
    if (!pq().PQconsumeInput(conn_)) throw lost(pq().PQerrorMessage(conn_));
  }
}

void Connection::put_copy(std::string_view data) {
  // In parts, each queued once libpq has room for it.
  constexpr std::size_t kPart = 1 << 20;
  auto make_room = [&] {
    wait_socket(true);
    if (!pq().PQconsumeInput(conn_)) throw lost(pq().PQerrorMessage(conn_));
  };
  for (std::size_t at = 0; at < data.size();) {
    auto part = data.substr(at, kPart);
    const int queued = pq().PQputCopyData(conn_, part.data(), static_cast<int>(part.size()));
    if (queued < 0) break;  // the end below says why
    if (queued == 1)
      at += part.size();
    else
      make_room();
  }
  for (;;) {
    const int ended = pq().PQputCopyEnd(conn_, nullptr);
    if (ended < 0) throw lost(pq().PQerrorMessage(conn_));
    if (ended == 1) return;
    make_room();
  }
}

std::optional<ServerError> Connection::finish_statement(std::unique_ptr<PGresult, void (*)(PGresult*)>* last,
                                                        std::string_view copy_data) {
  std::optional<ServerError> error;
  for (;;) {
    wait_for_result();
    PGresult* raw = pq().PQgetResult(conn_);
    if (!raw) break;
    std::unique_ptr<PGresult, void (*)(PGresult*)> result(raw, pq().PQclear);
    const ExecStatusType status = pq().PQresultStatus(raw);
    if (status == PGRES_COPY_IN) {
      put_copy(copy_data);
    } else if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      if (!error) error = error_of(raw);
    } else if (last) {
      *last = std::move(result);
    }
    if (pq().PQstatus(conn_) == CONNECTION_BAD) break;
  }
  if (pq().PQstatus(conn_) == CONNECTION_BAD) throw failure(error ? *error : error_of(nullptr));
  return error;
}

std::optional<Refusal> Connection::run(std::vector<Command>& commands) {
  if (broken_) throw lost("la sesión ya se había perdido");
  if (commands.empty()) return std::nullopt;
  // The connection does not block: the results are read while the
  // statements are still being sent, so neither side waits for the other
  // with full buffers.
  if (!pq().PQenterPipelineMode(conn_)) throw lost(pq().PQerrorMessage(conn_));
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
    if (!send(commands[i], i)) throw lost(pq().PQerrorMessage(conn_));
    expected.push_back({i, {}});
  }
  if (!pq().PQpipelineSync(conn_)) throw lost(pq().PQerrorMessage(conn_));

  std::optional<Refusal> refusal;
  std::size_t at = 0;  // which expected result comes next
  std::size_t refused_at = 0;
  std::exception_ptr thrown;
  bool got_result = false;
  auto broke = [&](std::string_view message) {
    // Statements prepared on a session that is gone are gone with it.
    prepared_.clear();
    return lost(message);
  };
  for (;;) {
    try {
      wait_for_result();
    } catch (const Failure&) {
      prepared_.clear();
      throw;
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
  if (!pq().PQsendQuery(conn_, sql.c_str())) throw lost(pq().PQerrorMessage(conn_));
  if (auto error = finish_statement()) throw failure(*error);
}

std::unique_ptr<PGresult, void (*)(PGresult*)> Connection::query(const std::string& sql, const Params& params) {
  if (broken_) throw lost("la sesión ya se había perdido");
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p ? p->c_str() : nullptr);
  if (!pq().PQsendQueryParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                              nullptr, 0))
    throw lost(pq().PQerrorMessage(conn_));
  std::unique_ptr<PGresult, void (*)(PGresult*)> result(nullptr, pq().PQclear);
  if (auto error = finish_statement(&result)) throw failure(*error);
  return result;
}

void Connection::copy_in(const std::string& sql, std::string_view data) {
  if (broken_) throw lost("la sesión ya se había perdido");
  if (!pq().PQsendQuery(conn_, sql.c_str())) throw lost(pq().PQerrorMessage(conn_));
  if (auto error = finish_statement(nullptr, data)) throw failure(*error);
}

}  // namespace kavelo::db::pg

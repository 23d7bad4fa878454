#include "db/pg/pg_connect.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include <fmt/format.h>

#include "db/open_store.h"

namespace kavelo::db::pg {
namespace {

using Clock = std::chrono::steady_clock;

bool is_code_character(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

// The modes that make libpq give up rather than go on without SSL.
bool ssl_required(const ConnInfo& info) {
  const std::string mode = info.get("sslmode");
  return mode == "require" || mode == "verify-ca" || mode == "verify-full";
}

[[noreturn]] void give_up(bool lasting, const std::string& server, const std::string& reason) {
  Failure why = failure(ErrorCode::EngineFailure,
                        fmt::format("no se puede conectar con el servidor de base de datos {}: {}", server, reason));
  if (lasting) throw OpenRefused(why);
  throw ServerNotReady(why, server);
}

}  // namespace

std::string sqlstate_in(std::string_view message) {
  // libpq writes a server's error as "SEVERITY:  CODE: text": the severity
  // may be in any language, the two blanks and the code are not.
  std::string found;
  for (std::size_t at = message.find(":  "); at != std::string_view::npos; at = message.find(":  ", at + 1)) {
    std::string_view rest = message.substr(at + 3);
    if (rest.size() >= 7 && rest.substr(5, 2) == ": " &&
        std::all_of(rest.begin(), rest.begin() + 5, is_code_character))
      found = rest.substr(0, 5);
  }
  return found;
}

std::string reason_in(std::string_view message, std::string_view sqlstate) {
  if (sqlstate.empty()) return one_line(message);
  // The last error of that code: the one that ended the attempt. The lines
  // after its own (where the server's source has it) are not for a person.
  const std::string code = fmt::format(":  {}: ", sqlstate);
  std::string_view text = message.substr(message.rfind(code) + code.size());
  text = text.substr(0, text.find('\n'));
  return fmt::format("{} ({})", one_line(text), sqlstate);
}

bool passes_by_itself(std::string_view state) {
  return state == "57P03" || state == "57P01" || state == "57P02" || state.starts_with("53") ||
         state.starts_with("08");
}

PGconn* connect(const ConnInfo& info, const std::string& server) {
  std::vector<const char*> keywords, values;
  for (const auto& [key, value] : info.settings) {
    keywords.push_back(key.c_str());
    values.push_back(value.c_str());
  }
  keywords.push_back(nullptr);
  values.push_back(nullptr);

  const auto deadline = Clock::now() + kConnectWait;
  PGconn* conn = pq().PQconnectStartParams(keywords.data(), values.data(), 0);
  if (!conn) give_up(false, server, "sin memoria");
  auto failed = [&](bool lasting) {
    // libpq's own lines say why first, then the server's text in full.
    const std::string message = pq().PQerrorMessage(conn);
    const std::string state = sqlstate_in(message);
    if (!state.empty()) lasting = !passes_by_itself(state);
    if (pq().PQconnectionNeedsPassword(conn)) lasting = true;
    const std::string reason = reason_in(message, state);
    pq().PQfinish(conn);
    give_up(lasting, server, reason);
  };
  if (pq().PQstatus(conn) == CONNECTION_BAD) {
    // Before any answer: settings libpq refuses (an SSL mode it does not
    // know), or no server to reach (a name not found, a refused port). libpq
    // tells the first by making no attempt at all.
    failed(pq().PQpingParams(keywords.data(), values.data(), 0) == PQPING_NO_ATTEMPT);
  }
  // The server's refusal, with its code, in the messages that follow.
  pq().PQsetErrorVerbosity(conn, PQERRORS_VERBOSE);
  PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
  ConnStatusType phase = pq().PQstatus(conn);
  while (polling != PGRES_POLLING_OK) {
    if (polling == PGRES_POLLING_FAILED) failed(phase == CONNECTION_SSL_STARTUP && ssl_required(info));
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fd{pq().PQsocket(conn), static_cast<short>(polling == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
    const int ready = left.count() > 0 ? ::poll(&fd, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) {
      pq().PQfinish(conn);
      give_up(false, server, fmt::format("no contesta en {} s", kConnectWait.count() / 1000));
    }
    polling = pq().PQconnectPoll(conn);
    if (pq().PQstatus(conn) != CONNECTION_BAD) phase = pq().PQstatus(conn);
  }
  return conn;
}

}  // namespace kavelo::db::pg

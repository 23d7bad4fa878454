#pragma once
// A connection to a PostgreSQL server through libpq: the link file's
// connection string read as libpq's settings, statements run alone or sent
// together in a pipeline, COPY of text rows, and the server's errors as
// failures of the catalogue.
#include "db/pg/libpq.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/failure.h"

namespace kavelo::db::pg {

// libpq's settings for a connection, in the order given.
struct ConnInfo {
  std::vector<std::pair<std::string, std::string>> settings;  // libpq keyword, value

  // The value of a keyword; empty when it is not set.
  std::string get(std::string_view keyword) const;
};

// Reads an ODBC-style connection string ("Driver={PostgreSQL Unicode};
// Server=h;Port=5432;Database=d;Uid=u;Pwd=p;"): keys without regard to case,
// values possibly in braces ("}}" inside them is one "}"). Server, Servername
// and Host give host; Port; Database and DBName give dbname; Uid, User and
// Username give user; Pwd and Password give password; SSLmode; anything else
// is left out. A Driver that names no PostgreSQL driver fails.
ConnInfo conninfo_of(std::string_view connection_string);

// The server for a person: "'host' (puerto N)", "'host'", or "local" words
// when the string names no host.
std::string server_of(const ConnInfo& info);

// An attempt to connect that has no session after this long gives up: the
// server does not answer (a port where something listens and says nothing).
inline constexpr std::chrono::milliseconds kConnectWait{10000};
// A session whose server sends nothing for this long while kavelo waits for
// an answer counts as lost: longer than the longest wait for a lock (30 s)
// and the work of the statement that waited.
inline constexpr std::chrono::milliseconds kSilence{45000};

// What the server said about a statement it refused.
struct ServerError {
  std::string sqlstate;  // five characters; empty when the server said nothing
  std::string message;   // on one line
  // The objects concerned, when the server names them.
  std::string column;
  std::string constraint;
  std::string table;
};

// Whether the state means the server has ended the session.
bool means_lost_connection(std::string_view sqlstate);

// The catalogue's failure for an error, by its state and the objects the
// server names (never by the words of its message, which may be in any
// language): 23505 is 3022, 23502 is 3314 naming the column in upper case,
// 23514 is 3317 naming the rule, 22003 is 6, an unknown table 3078 and an
// unknown column 3061; a lock waited for too long or a deadlock is 3045
// naming `server`; a lost session says so naming `server`; anything else is
// an engine failure with the server's message.
Failure failure_of(const ServerError& error, std::string_view server);

// The server's text on one line: libpq writes several (the error, its
// detail, a hint).
std::string one_line(std::string_view message);

// An identifier in double quotes, as SQL writes a name of any case.
std::string quoted(std::string_view name);

using Params = std::vector<std::optional<std::string>>;  // texts; nullopt is NULL

// One statement of a pipeline.
struct Command {
  std::string sql;
  Params params;
  // Kept on the server as a prepared statement, for statements run often.
  bool prepared = false;
  // Sees the statement's result when it succeeds.
  std::function<void(const PGresult&)> on_result;
};

// The first statement of a pipeline that the server refused, by position.
struct Refusal {
  std::size_t index = 0;
  ServerError error;
};

// Every wait for the server is bounded: connecting (kConnectWait), each lock
// (lock_timeout of 30 s for the whole session), each answer (kSilence).
// The server, for its part, ends the session when it stays idle in a
// transaction for kSilence, or when the client goes away, so that locks of
// a session kavelo has given up do not stay held.
class Connection {
 public:
  // Connects with client_encoding UTF8, application_name kavelo, DateStyle
  // ISO, floats written exactly, sslmode prefer unless the string sets one,
  // TCP keepalives and the bounds above; a server that cannot be reached
  // fails naming it (see connect()).
  explicit Connection(const std::string& connection_string);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // True once the session is gone for good.
  bool broken() const { return broken_; }
  const std::string& server() const { return server_; }

  // Runs the statements in one pipeline: sent together, their results read
  // afterwards. The first refusal stops the rest (the server skips them) and
  // is returned; a session lost on the way throws.
  std::optional<Refusal> run(std::vector<Command>& commands);
  // The same, with a refusal thrown as its failure.
  void run_or_throw(std::vector<Command>& commands);
  // One statement (it may be several, separated by ";", without parameters);
  // a refusal throws.
  void execute(const std::string& sql);
  // One query's rows; a refusal throws.
  std::unique_ptr<PGresult, void (*)(PGresult*)> query(const std::string& sql, const Params& params = {});

  // Runs `sql`, whose last statement is a COPY ... FROM STDIN, sending `data`
  // (text format rows) to it; a refusal throws.
  void copy_in(const std::string& sql, std::string_view data);

  // The failure for an error, noting a lost session.
  Failure failure(const ServerError& error);

 private:
  ServerError error_of(const PGresult* result);
  // Marks the session lost and gives its failure.
  Failure lost(std::string_view message);
  // Waits until the socket can be read, or written too when `write`; a
  // server silent for kSilence is given up (abandon()) and throws.
  void wait_socket(bool write);
  // Sends what is pending and reads until libpq holds a result (or the end
  // of one) to give without waiting.
  void wait_for_result();
  // The results of the statement sent last, to their end: the first error
  // among them, if any; `last` takes the last that succeeded, and a COPY
  // FROM STDIN gets `copy_data`.
  std::optional<ServerError> finish_statement(std::unique_ptr<PGresult, void (*)(PGresult*)>* last = nullptr,
                                              std::string_view copy_data = {});
  // Sends the rows of a COPY FROM STDIN and its end.
  void put_copy(std::string_view data);
  // Gives the session up: what the server is doing for it is cancelled
  // (waiting a moment at most), and the connection is closed.
  void abandon();

  PGconn* conn_ = nullptr;
  std::string server_;
  // An answer to the first statement, still part of connecting, is waited
  // for no longer than the connection was.
  std::chrono::milliseconds silence_ = kConnectWait;
  bool broken_ = false;
  std::unordered_map<std::string, std::string> prepared_;  // SQL text -> statement name
  long statements_named_ = 0;
};

}  // namespace kavelo::db::pg

#pragma once
// Connecting to a PostgreSQL server: one attempt, bounded in time, and what
// its failure means: whether trying again may mend it, and why, for a person.
#include "db/pg/libpq.h"

#include <string>
#include <string_view>

#include "db/pg/pg_connection.h"

namespace kavelo::db::pg {

// The SQLSTATE of the server's refusal in libpq's message of a failed
// connection written in its verbose form ("...: FATAL:  3D000: database ..."):
// the code after the severity, whatever the language of the words; empty
// when the server sent no error.
std::string sqlstate_in(std::string_view message);

// The reason in such a message, on one line: the server's own text with its
// code after it, or libpq's message when the server sent no error.
std::string reason_in(std::string_view message, std::string_view sqlstate);

// Whether a refusal with this state may pass by itself: the server is
// starting or stopping, has too many sessions or too few resources, or the
// connection broke.
bool passes_by_itself(std::string_view sqlstate);

// Connects with the settings of `info`. A session that cannot be made throws
// db::OpenRefused when trying again does not mend it (a password, user or
// database the server refuses, an SSL mode the server refuses or libpq does
// not know), and db::ServerNotReady otherwise (no answer within kConnectWait,
// a server starting or out of reach), naming `server`.
PGconn* connect(const ConnInfo& info, const std::string& server);

}  // namespace kavelo::db::pg

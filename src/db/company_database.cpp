#include "db/company_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include <fmt/format.h>

namespace kavelo::db {

namespace {

// A connection of this file's own, closed on every path out.
class Connection {
 public:
  Connection(const std::string& path, int flags) : path_(path) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
      std::string reason = db_ ? sqlite3_errmsg(db_) : "sin memoria";
      sqlite3_close(db_);
      throw std::runtime_error(fmt::format("No se puede abrir la base de datos '{}': {}", path, reason));
    }
    sqlite3_extended_result_codes(db_, 1);
    // The connector may be using the database for a moment.
    sqlite3_busy_timeout(db_, 5000);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { sqlite3_close(db_); }

  sqlite3* get() const { return db_; }

  void exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(fmt::format("{}: {}", path_, sqlite3_errmsg(db_)));
  }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }
  sqlite3_stmt** out() { return &stmt_; }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// The start of a statement, on one line, to say which one failed.
std::string excerpt(std::string_view sql) {
  std::string text;
  bool blank = false;
  for (char c : sql) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      blank = !text.empty();
      continue;
    }
    if (blank) text += ' ';
    blank = false;
    text += c;
    if (text.size() >= 70) return text + "...";
  }
  return text;
}

struct ScriptGuard {
  bool refused_transaction = false;
};

// The script runs inside our transaction, so a BEGIN, COMMIT or ROLLBACK of its
// own would break the promise that all of it or none of it takes effect.
int refuse_transactions(void* data, int action, const char*, const char*, const char*, const char*) {
  if (action != SQLITE_TRANSACTION) return SQLITE_OK;
  static_cast<ScriptGuard*>(data)->refused_transaction = true;
  return SQLITE_DENY;
}

// Runs every statement of `sql` in one transaction; rolls it back and throws on
// the first failure.
void run_in_transaction(Connection& db, const std::string& sql) {
  db.exec("BEGIN IMMEDIATE");
  ScriptGuard guard;
  sqlite3_set_authorizer(db.get(), refuse_transactions, &guard);
  try {
    const char* rest = sql.c_str();
    const char* end = rest + sql.size();
    int number = 0;
    while (rest < end) {
      Statement statement;
      const char* tail = nullptr;
      const char* start = rest;
      int rc = sqlite3_prepare_v2(db.get(), rest, static_cast<int>(end - rest), statement.out(), &tail);
      rest = tail ? tail : end;
      if (rc == SQLITE_OK && statement.get() == nullptr) continue;  // only blanks or comments were left
      ++number;
      if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        }
        if (rc == SQLITE_DONE) continue;
      }
      std::string reason = guard.refused_transaction
                               ? std::string("el guion no puede abrir ni terminar transacciones")
                               : std::string(sqlite3_errmsg(db.get()));
      throw std::runtime_error(fmt::format("Error en la sentencia {} ({}): {}", number,
                                           excerpt(std::string_view(start, static_cast<std::size_t>(rest - start))),
                                           reason));
    }
    sqlite3_set_authorizer(db.get(), nullptr, nullptr);
    db.exec("COMMIT");
  } catch (...) {
    sqlite3_set_authorizer(db.get(), nullptr, nullptr);
    sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::string quoted_identifier(const std::string& name) {
  std::string text = "\"";
  for (char c : name) {
    if (c == '"') text += '"';
    text += c;
  }
  return text + "\"";
}

}  // namespace

void create_database(const std::string& path, const std::string& schema_sql) {
  // Creating the file exclusively refuses an existing one without a gap in
  // which another program could make it.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST)
      throw std::runtime_error(fmt::format("Ya existe el archivo '{}': no se sobrescribe una base de datos.", path));
    throw std::runtime_error(fmt::format("No se puede crear el archivo '{}': {}", path, std::strerror(errno)));
  }
  ::close(fd);
  try {
    Connection db(path, SQLITE_OPEN_READWRITE);
    run_in_transaction(db, schema_sql);
  } catch (...) {
    std::remove((path + "-journal").c_str());
    std::remove(path.c_str());
    throw;
  }
}

void create_company_database(const std::string& path) { create_database(path, company_schema_sql()); }

void run_sql_script(const std::string& path, const std::string& sql) {
  Connection db(path, SQLITE_OPEN_READWRITE);
  run_in_transaction(db, sql);
}

std::vector<std::pair<std::string, std::int64_t>> count_rows(const std::string& path) {
  Connection db(path, SQLITE_OPEN_READONLY);
  std::vector<std::pair<std::string, std::int64_t>> counts;
  {
    Statement tables;
    if (sqlite3_prepare_v2(db.get(),
                           "SELECT name FROM sqlite_schema WHERE type = 'table' "
                           "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid",
                           -1, tables.out(), nullptr) != SQLITE_OK)
      throw std::runtime_error(fmt::format("No se pueden leer las tablas de '{}': {}", path, sqlite3_errmsg(db.get())));
    int rc;
    while ((rc = sqlite3_step(tables.get())) == SQLITE_ROW)
      counts.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 0)), 0);
    if (rc != SQLITE_DONE)
      throw std::runtime_error(fmt::format("No se pueden leer las tablas de '{}': {}", path, sqlite3_errmsg(db.get())));
  }
  for (auto& [table, rows] : counts) {
    Statement count;
    std::string sql = "SELECT COUNT(*) FROM " + quoted_identifier(table);
    if (sqlite3_prepare_v2(db.get(), sql.c_str(), -1, count.out(), nullptr) != SQLITE_OK ||
        sqlite3_step(count.get()) != SQLITE_ROW)
      throw std::runtime_error(fmt::format("No se pueden contar las filas de {}: {}", table, sqlite3_errmsg(db.get())));
    rows = sqlite3_column_int64(count.get(), 0);
  }
  return counts;
}

}  // namespace kavelo::db

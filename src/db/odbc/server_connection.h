#pragma once
// A company database on a database server (PostgreSQL), reached through ODBC
// and named by a link file at the company's database path.
#include <memory>
#include <string>
#include <unordered_map>

#include "db/connection.h"
#include "db/odbc/odbc_connection.h"

namespace kavelo::db::odbc {

class ServerConnection final : public db::Connection {
 public:
  // Connects; a server that cannot be reached fails with a description naming it.
  ServerConnection(const std::string& path, std::string key, const std::string& connection_string,
                   std::chrono::milliseconds busy_wait);
  ~ServerConnection() override;

  Cursor& prepare(const std::string& sql, std::string_view jet_text) override;
  RowId last_insert_row_id() override;
  void execute(const char* sql) override;
  bool usable() const override { return !odbc_.dead(); }

  // Seen by every failure of a statement: a connection found dead has lost
  // its transaction with it.
  Failure noted(const Failure& f);
  // Calls the driver; a failure is noted before it goes on.
  template <class F>
  auto noting(F&& call) -> decltype(call()) {
    try {
      return call();
    } catch (const Failure& f) {
      throw noted(f);
    }
  }

  // A failed statement undoes only itself, as in SQLite: the server would
  // otherwise refuse every statement after it until the transaction ends.
  // Each statement is therefore run inside a savepoint of its own.
  void before_statement();
  void after_failed_statement();

 protected:
  void begin_transaction(std::chrono::milliseconds wait) override;
  void commit_transaction() override;
  void rollback_transaction() override;
  std::unique_ptr<TableInfo> load_table(std::string_view name) override;
  void lock_tables(const std::vector<std::string>& tables, std::chrono::milliseconds wait) override;

 private:
  // Whether the table may refuse a change to one of its rows.
  bool refuses_changes(const std::string& table);
  // Runs the engine's own savepoint commands, outside any statement's savepoint.
  void run_command(const std::string& sql);


  odbc::Connection odbc_;
  Statement commands_;
  std::unordered_map<std::string, std::unique_ptr<Cursor>> statements_;
  bool guard_open_ = false;
};

// Makes the engine open link files with this backend.
void register_server_backend();

}  // namespace kavelo::db::odbc

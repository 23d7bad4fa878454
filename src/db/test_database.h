#pragma once
// For tests: a company database in a fresh temporary folder, made from an SQL
// script, removed with the folder. Built with KAVELO_TEST_SERVER and run with
// KAVELO_TEST_BACKEND=postgres, the same script makes a database on the test
// server instead, and the path is a link file that names it.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef KAVELO_TEST_SERVER
#include "db/odbc/server_connection.h"
#include "db/odbc/server_schema.h"
#include "db/odbc/test_cluster.h"
#endif

namespace kavelo::db::testing {

// Whether the tests run on the server.
inline bool on_server() {
  const char* backend = std::getenv("KAVELO_TEST_BACKEND");
  return backend && std::string(backend) == "postgres";
}

// The statements of a script that write rows (the rest makes tables).
inline std::vector<std::string> row_statements(const std::string& script) {
  std::vector<std::string> statements;
  std::string current;
  bool quoted = false;
  for (char c : script) {
    if (c == '\'') quoted = !quoted;
    if (c == ';' && !quoted) {
      auto start = current.find_first_not_of(" \t\r\n");
      if (start != std::string::npos) {
        std::string statement = current.substr(start);
        for (const char* verb : {"INSERT", "UPDATE", "DELETE"})
          if (statement.starts_with(verb)) statements.push_back(statement);
      }
      current.clear();
      continue;
    }
    current += c;
  }
  return statements;
}

class TestDatabase {
 public:
  explicit TestDatabase(const std::string& script) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavelo-db-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    path_ = (dir_ / "COMPANY.MDB").string();
#ifdef KAVELO_TEST_SERVER
    if (on_server()) {
      make_on_server(script);
      return;
    }
#endif
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    char* error = nullptr;
    if (sqlite3_exec(db, script.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      std::string message = error ? error : "script";
      sqlite3_free(error);
      sqlite3_close(db);
      throw std::runtime_error(message);
    }
    sqlite3_close(db);
  }
  ~TestDatabase() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return path_; }
  const std::filesystem::path& dir() const { return dir_; }

  // Runs one query on a connection of its own (another program's view) and
  // gives the first column of its first row as text, "" when there is none.
  std::string outside_query(const std::string& sql) const {
#ifdef KAVELO_TEST_SERVER
    if (server_) {
      odbc::Connection connection(server_->connection_string());
      return odbc::query_text(connection, sql).value_or("");
    }
#endif
    sqlite3* db = nullptr;
    sqlite3_open(path_.c_str(), &db);
    sqlite3_busy_timeout(db, 2000);
    sqlite3_stmt* s = nullptr;
    std::string result;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW &&
        sqlite3_column_text(s, 0))
      result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return result;
  }

 private:
#ifdef KAVELO_TEST_SERVER
  void make_on_server(const std::string& script) {
    if (auto missing = odbc::testing::cluster_missing()) throw std::runtime_error(*missing);
    odbc::register_server_backend();
    server_ = std::make_unique<odbc::testing::ScratchDatabase>();
    odbc::Connection connection(server_->connection_string());
    for (const std::string& statement : odbc::postgres_schema_statements(script)) connection.execute(statement);
    for (const std::string& statement : row_statements(script)) connection.execute(statement);
    std::ofstream(path_, std::ios::binary) << "ODBC;" << server_->connection_string() << "\r\n";
    ::chmod(path_.c_str(), 0600);
  }
  std::unique_ptr<odbc::testing::ScratchDatabase> server_;
#endif

  std::filesystem::path dir_;
  std::string path_;
};

}  // namespace kavelo::db::testing

// Skips a test that is about the SQLite file itself when the tests run on the server.
#define KAVELO_SQLITE_ONLY(why)                                      \
  do {                                                               \
    if (::kavelo::db::testing::on_server()) GTEST_SKIP() << (why);   \
  } while (false)

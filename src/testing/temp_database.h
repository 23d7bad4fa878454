#pragma once
// For unit tests: an SQLite database in a fresh temporary folder, made from an
// SQL script, removed with the folder.
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace kavelo::testing {

class TempDatabase {
 public:
  explicit TempDatabase(const std::string& script) {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavelo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    path_ = (dir_ / "COMPANY.MDB").string();
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
  ~TempDatabase() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;

  const std::string& path() const { return path_; }
  const std::filesystem::path& dir() const { return dir_; }

  // The first column of the first row of `sql`, read on a connection of its
  // own, as text; "" when there is none.
  std::string query(const std::string& sql) const {
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
  std::filesystem::path dir_;
  std::string path_;
};

}  // namespace kavelo::testing

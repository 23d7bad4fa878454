#pragma once
// The throwaway PostgreSQL server of the tests (scripts/pg-cluster.sh, started
// by the CTest fixture "postgres"): its connection string, and a fresh
// database per test.
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

#include "db/pg/pg_connection.h"

namespace kavelo::db::pg::testing {

// The cluster folder's file `name`, first line; nullopt when it is not there.
inline std::optional<std::string> cluster_file(const std::string& name) {
  const char* dir = std::getenv("KAVELO_PG_DIR");
  if (!dir || !*dir) return std::nullopt;
  std::ifstream in(std::string(dir) + "/" + name);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return line;
}

// Why the tests that need the server cannot run, or nullopt when they can.
inline std::optional<std::string> cluster_missing() {
  if (!std::getenv("KAVELO_PG_DIR")) return "KAVELO_PG_DIR no está definida (la prueba se ejecuta fuera de CTest)";
  if (auto reason = cluster_file("unavailable")) return "no hay servidor PostgreSQL de pruebas: " + *reason;
  if (!cluster_file("connection")) return "el servidor PostgreSQL de pruebas no está en marcha";
  return std::nullopt;
}

// The cluster's connection string, to its database "postgres".
inline std::string admin_connection_string() { return cluster_file("connection").value_or(""); }

// A connection string like `base` naming database `name` instead.
inline std::string with_database(const std::string& base, const std::string& name) {
  std::string text = base;
  auto at = text.find("Database=");
  if (at == std::string::npos) return text + ";Database=" + name + ";";
  auto end = text.find(';', at);
  return text.replace(at, end == std::string::npos ? std::string::npos : end - at, "Database=" + name);
}

// A database made for one test (a copy of `template_name` when given) and
// dropped after it.
class ScratchDatabase {
 public:
  explicit ScratchDatabase(const std::string& template_name = "") {
    static int made = 0;
    name_ = "kavelo_pg_test_" + std::to_string(getpid()) + "_" + std::to_string(++made);
    Connection admin(admin_connection_string());
    admin.execute("CREATE DATABASE " + name_ + (template_name.empty() ? "" : " TEMPLATE " + template_name));
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  ~ScratchDatabase() {
    try {
      Connection admin(admin_connection_string());
      admin.execute("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (const std::exception&) {
      // The whole cluster goes when the fixture stops it.
    }
  }
  const std::string& name() const { return name_; }
  std::string connection_string() const { return with_database(admin_connection_string(), name_); }

 private:
  std::string name_;
};

}  // namespace kavelo::db::pg::testing

// Skips the test when the server is not there, saying why.
#define KAVELO_REQUIRE_PG_SERVER()                                             \
  do {                                                                         \
    if (auto kavelo_missing = ::kavelo::db::pg::testing::cluster_missing())    \
      GTEST_SKIP() << *kavelo_missing;                                         \
  } while (false)

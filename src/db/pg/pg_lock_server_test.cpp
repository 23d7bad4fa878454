// A store's lock() against a real server: its wait is its own, and a table
// another session keeps from readers fails naming it with the transaction
// left usable.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "db/pg/pg_admin.h"
#include "db/pg/pg_connection.h"
#include "db/pg/pg_store.h"
#include "db/pg/test_server.h"

namespace kavelo::db::pg {
namespace {

using namespace std::chrono_literals;

TEST(PgStoreLock, ItsWaitIsItsOwnAndATableKeptFromReadersIsNamed) {
  KAVELO_REQUIRE_PG_SERVER();
  testing::ScratchDatabase database;
  create_server_company(database.connection_string());
  PgStore store(database.connection_string(), RegionalSettings::spanish());
  Connection other(database.connection_string());

  // Not read yet, and held in the mode that keeps readers out: the wait for
  // its definition is the lock's.
  other.execute("BEGIN; LOCK TABLE f_pro IN ACCESS EXCLUSIVE MODE");
  store.begin(1s);
  try {
    store.lock({"F_MAE", "F_PRO"}, 200ms);
    ADD_FAILURE() << "locked a table another session holds";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 3211);
    EXPECT_NE(f.description().find("'F_PRO'"), std::string::npos) << f.description();
  }
  const Table& accounts = store.table("F_MAE");
  EXPECT_FALSE(store.find(accounts, accounts.key({"CODMAE"}), {Value("X")})) << "the transaction was lost";
  other.execute("COMMIT");
  store.roll_back();

  // After a lock's short wait, a read of the same transaction waits as long
  // as the session does: here, until the other session lets go a second later.
  store.begin(1s);
  store.lock({"F_MAE"}, 100ms);
  other.execute("BEGIN; LOCK TABLE f_cli IN ACCESS EXCLUSIVE MODE");
  std::thread release([&] {
    std::this_thread::sleep_for(1s);
    other.execute("COMMIT");
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NO_THROW({
    const Table& customers = store.table("F_CLI");
    store.find(customers, customers.key({"CODCLI"}), {Value("X")});
  });
  release.join();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
  store.roll_back();
}

}  // namespace
}  // namespace kavelo::db::pg

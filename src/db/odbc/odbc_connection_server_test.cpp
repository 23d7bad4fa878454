#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "db/odbc/odbc_connection.h"
#include "db/odbc/test_cluster.h"
#include "platform/failure.h"

namespace kavelo::db::odbc {
namespace {

using testing::ScratchDatabase;

std::int64_t count(Connection& connection, const std::string& sql) {
  return std::stoll(query_text(connection, sql).value());
}

TEST(OdbcConnection, ValuesGoInAndComeBackByTheirKind) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  Connection connection(database.connection_string());
  struct Case {
    std::string type;
    Value value;
    std::optional<std::string> text;  // as the server gives it back
  };
  const Case cases[] = {
      {"varchar(20)", Value("año 2024 €"), "año 2024 €"},
      {"varchar(20)", Value(""), ""},
      {"text", Value(std::string(10000, 'x')), std::string(10000, 'x')},
      {"smallint", Value(std::int16_t{-32768}), "-32768"},
      {"smallint", Value(std::uint8_t{255}), "255"},
      {"integer", Value(std::int32_t{2147483647}), "2147483647"},
      {"double precision", Value(0.1), "0.1"},
      {"numeric(19,4)", Value(Currency{1234567890123440001}), "123456789012344.0001"},
      {"numeric(19,4)", Value(Currency{-5}), "-0.0005"},
      {"timestamp", Value(DateTime{2024, 2, 29, 23, 59, 58}), "2024-02-29 23:59:58"},
      {"timestamp", Value(DateTime{2011, 6, 15}), "2011-06-15 00:00:00"},
      // Yes and no as the company database keeps them.
      {"smallint", Value(true), "-1"},
      {"smallint", Value(false), "0"},
      {"integer", Value(Null{}), std::nullopt},
      // Text into a number column: the server converts it.
      {"integer", Value("42"), "42"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type + " #" + std::to_string(++n));
    std::string table = "t" + std::to_string(n);
    connection.execute("CREATE TABLE " + table + " (v " + c.type + ")");
    const Value parameters[] = {c.value};
    EXPECT_EQ(connection.execute("INSERT INTO " + table + " VALUES (?)", parameters), 1);
    EXPECT_EQ(query_text(connection, "SELECT v FROM " + table), c.text);
  }
}

TEST(OdbcConnection, PreparedOnceRunManyTimesAndRowsReadInOrder) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  Connection connection(database.connection_string());
  connection.execute("CREATE TABLE t (k integer PRIMARY KEY, name varchar(10), amount numeric(19,4))");
  Statement insert(connection);
  insert.prepare("INSERT INTO t VALUES (?, ?, ?)");
  for (std::int32_t k = 1; k <= 3; ++k) {
    const Value row[] = {k, Value("n" + std::to_string(k)), Value(Currency{k * 15000})};
    insert.execute(row);
    EXPECT_EQ(insert.affected_rows(), 1);
  }
  Statement select(connection);
  const Value minimum[] = {std::int32_t{2}};
  select.execute_direct("SELECT k, name, amount FROM t WHERE k >= ? ORDER BY k", minimum);
  ASSERT_EQ(select.column_count(), 3);
  EXPECT_EQ(select.column_name(1), "name");
  std::vector<std::tuple<std::int64_t, std::string, double>> rows;
  while (select.fetch()) rows.emplace_back(*select.whole(0), *select.text(1), *select.number(2));
  EXPECT_EQ(rows, (std::vector<std::tuple<std::int64_t, std::string, double>>{{2, "n2", 3.0}, {3, "n3", 4.5}}));
  // An UPDATE that finds nothing is no failure.
  EXPECT_EQ(connection.execute("UPDATE t SET name = 'x' WHERE k = 99"), 0);
}

TEST(OdbcConnection, TransactionsCommitAndRollBack) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  Connection connection(database.connection_string());
  Connection other(database.connection_string());
  connection.execute("CREATE TABLE t (k integer PRIMARY KEY)");

  connection.set_autocommit(false);
  connection.execute("INSERT INTO t VALUES (1)");
  EXPECT_EQ(count(other, "SELECT count(*) FROM t"), 0) << "seen before the commit";
  connection.commit();
  EXPECT_EQ(count(other, "SELECT count(*) FROM t"), 1);
  connection.execute("INSERT INTO t VALUES (2)");
  connection.rollback();
  connection.set_autocommit(true);
  EXPECT_EQ(count(other, "SELECT count(*) FROM t"), 1);

  {
    Transaction transaction(connection);
    connection.execute("INSERT INTO t VALUES (3)");
  }  // not committed: rolled back
  EXPECT_TRUE(connection.autocommit());
  EXPECT_EQ(count(other, "SELECT count(*) FROM t"), 1);
}

TEST(OdbcConnection, AFailedStatementLeavesTheRestOfItsTransaction) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  Connection connection(database.connection_string());
  connection.execute("CREATE TABLE t (k integer PRIMARY KEY)");
  Transaction transaction(connection);
  connection.execute("INSERT INTO t VALUES (1)");
  EXPECT_THROW(connection.execute("INSERT INTO t VALUES (1)"), Failure);
  connection.execute("INSERT INTO t VALUES (2)");
  transaction.commit();
  EXPECT_EQ(count(connection, "SELECT sum(k) FROM t"), 3);
}

TEST(OdbcConnection, ConstraintFailuresAreTheEngineErrors) {
  KAVELO_REQUIRE_POSTGRES();
  ScratchDatabase database;
  Connection connection(database.connection_string());
  connection.execute(
      "CREATE TABLE t (k integer PRIMARY KEY, name varchar(5) NOT NULL DEFAULT 'a', "
      "n integer CONSTRAINT n_positive CHECK (n > 0))");
  connection.execute("INSERT INTO t (k) VALUES (1)");
  struct Case {
    const char* sql;
    int number;
    std::string in_description;
  };
  const Case cases[] = {
      {"INSERT INTO t (k) VALUES (1)", 3022, "duplicados"},
      {"INSERT INTO t (k, name) VALUES (2, NULL)", 3314, "'NAME'"},
      {"INSERT INTO t (k, n) VALUES (3, 0)", 3317, "'n_positive'"},
      {"INSERT INTO t (k, name) VALUES (4, 'too long')", 3000, "(22001)"},
      {"SELECT * FROM missing", 3078, "'MISSING'"},
  };
  for (const Case& c : cases) {
    try {
      connection.execute(c.sql);
      ADD_FAILURE() << c.sql << " did not fail";
    } catch (const Failure& f) {
      EXPECT_EQ(f.number(), c.number) << c.sql << ": " << f.description();
      EXPECT_NE(f.description().find(c.in_description), std::string::npos) << f.description();
    }
  }
}

// A port on which nothing listens: the system's free port, closed again.
int unused_port() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  close(s);
  return ntohs(address.sin_port);
}

TEST(OdbcConnection, NoServerOnThePortSaysWhichServer) {
  // Only the driver is needed, through the cluster's odbcinst.ini.
  if (!testing::cluster_file("odbcinst.ini")) GTEST_SKIP() << "no hay odbcinst.ini del servidor de pruebas";
  const int port = unused_port();
  const std::string text =
      "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port) + ";Database=postgres;Uid=postgres;";
  try {
    Connection connection(text, 5);
    FAIL() << "connected to a port with no server";
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 3000);
    EXPECT_NE(f.description().find("no se puede conectar con el servidor de base de datos '127.0.0.1' (puerto " +
                                   std::to_string(port) + ") (08"),
              std::string::npos)
        << f.description();
  }
}

}  // namespace
}  // namespace kavelo::db::odbc

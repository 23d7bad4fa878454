#include "db/pg/pg_connection.h"

#include <gtest/gtest.h>

namespace kavelo::db::pg {
namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

TEST(ConnInfo, ReadsTheLinkFileStringAndNamesItsServer) {
  struct Case {
    const char* text;
    Settings settings;
  };
  const Case cases[] = {
      {"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=55432;Database=postgres;Uid=postgres;",
       {{"host", "127.0.0.1"}, {"port", "55432"}, {"dbname", "postgres"}, {"user", "postgres"}}},
      // Keys in any case, synonyms, blanks, the last value of a key, others left out.
      {" host = db.example ; DBNAME=empresa;USERNAME=ana;pwd=x;PASSWORD=y;sslMode=require;Protocol=7.4;DSN=z",
       {{"host", "db.example"}, {"dbname", "empresa"}, {"user", "ana"}, {"password", "y"}, {"sslmode", "require"}}},
      // Braces keep semicolons and blanks; "}}" is one "}".
      {"SERVERNAME=h;PWD={a;b }}c};User=u", {{"host", "h"}, {"password", "a;b }c"}, {"user", "u"}}},
      {"driver=postgresql;servername=h", {{"host", "h"}}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(conninfo_of(c.text).settings, c.settings) << c.text;

  // The server as a person reads it. (kavelo-db's refusals show one with a
  // port, and a connection string that names none.)
  EXPECT_EQ(server_of(conninfo_of("Host=h")), "'h'");

  // Only a PostgreSQL driver.
  try {
    conninfo_of("Driver={SQL Server};Server=h");
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_NE(f.description().find("'SQL Server'"), std::string::npos) << f.description();
    EXPECT_NE(f.description().find("PostgreSQL"), std::string::npos) << f.description();
  }
}

TEST(ServerFailure, StatesMeanTheCatalogueEntries) {
  struct Case {
    ServerError error;
    int number;
    const char* description_holds;
  };
  const Case cases[] = {
      {{"23505", "duplicate key value violates unique constraint \"f_cli_pkey\"", "", "f_cli_pkey"}, 3022, "duplicados"},
      {{"23502", "null value in column \"fecapu\" of relation \"f_apu\"", "fecapu", ""}, 3314, "'FECAPU'"},
      {{"23502", "null value in column \"cuesal\" of relation \"f_sal\"", "", ""}, 3314, "'CUESAL'"},
      {{"23514", "new row violates check constraint \"nomcli_bueno\"", "", "nomcli_bueno"}, 3317, "'nomcli_bueno'"},
      {{"22003", "numeric field overflow", "", ""}, 6, "Desbordamiento"},
      {{"42P01", "relation \"f_nada\" does not exist", "", ""}, 3078, "'F_NADA'"},
      {{"42703", "column f_mae.codx does not exist", "", ""}, 3061, "'CODX'"},
      {{"42703", "column \"codx\" of relation \"f_mae\" does not exist", "", ""}, 3061, "'CODX'"},
      {{"55P03", "canceling statement due to lock timeout", "", ""}, 3045, "'h' (puerto 1)"},
      {{"57P01", "terminating connection due to administrator command", "", ""}, 3000,
       "se ha perdido la conexión con el servidor de base de datos 'h' (puerto 1) (57P01)"},
      {{"", "server closed the connection unexpectedly", "", ""}, 3000, "se ha perdido la conexión"},
      {{"P0001", "asiento descuadrado", "", ""}, 3000, "asiento descuadrado (P0001)"},
  };
  for (const Case& c : cases) {
    Failure f = failure_of(c.error, "'h' (puerto 1)");
    EXPECT_EQ(f.number(), c.number) << c.error.sqlstate;
    EXPECT_NE(f.description().find(c.description_holds), std::string::npos) << f.description();
  }
}

}  // namespace
}  // namespace kavelo::db::pg

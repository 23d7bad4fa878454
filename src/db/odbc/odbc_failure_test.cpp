#include "db/odbc/odbc_failure.h"

#include <gtest/gtest.h>

namespace kavelo::db::odbc {
namespace {

TEST(OdbcFailure, DiagnosticsBecomeTheCatalogueFailures) {
  const std::string server = "Driver={PostgreSQL Unicode};Server=db.example;Port=5433;Database=abc;";
  struct Case {
    Diagnostic diagnostic;
    int number;
    std::string in_description;  // part of the description
  };
  const Case cases[] = {
      {{"23505", 1,
        "ERROR: duplicate key value violates unique constraint \"F_EMP_pkey\"\nDETAIL: Key (\"CODEMP\")=(abc) "
        "already exists.;\nError while executing the query"},
       3022, "valores duplicados"},
      // The SQLite driver's duplicate.
      {{"HY000", 19, "[SQLite]UNIQUE constraint failed: F_EMP.CODEMP (19)"}, 3022, "valores duplicados"},
      {{"HY000", 1, "[SQLite]no such table: F_XYZ (1)"}, 3000, "no such table: F_XYZ"},
      {{"23502", 1, "ERROR: null value in column \"FECAPU\" of relation \"F_APU\" violates not-null constraint"},
       3314, "'FECAPU'"},
      {{"23514", 1, "ERROR: new row for relation \"F_DIA\" violates check constraint \"asidia_positive\""}, 3317,
       "'asidia_positive'"},
      {{"08001", 101, "could not connect to server: Connection refused\n\tIs the server running?"}, 3000,
       "no se puede conectar con el servidor de base de datos 'db.example' (puerto 5433) (08001): could not "
       "connect to server: Connection refused Is the server running?"},
      {{"08S01", 35, "The connection has been lost"}, 3000,
       "se ha perdido la conexión con el servidor de base de datos 'db.example' (puerto 5433)"},
      {{"57P01", 1, "FATAL: terminating connection due to administrator command"}, 3000,
       "se ha perdido la conexión con el servidor de base de datos 'db.example' (puerto 5433) (57P01)"},
      // The server's names are in lower case; the catalogue's as the schema writes them.
      {{"42P01", 7, "ERROR: relation \"f_xyz\" does not exist;\nError while executing the query"}, 3078, "'F_XYZ'"},
      {{"42703", 7, "ERROR: column f_mae.nommaex does not exist"}, 3061, "NOMMAEX"},
      {{"42703", 7, "ERROR: column \"nommaex\" does not exist"}, 3061, "NOMMAEX"},
      {{"22003", 7, "ERROR: numeric field overflow"}, 6, "Desbordamiento"},
      {{"55P03", 7, "ERROR: could not obtain lock on row in relation \"f_sal\""}, 3045, "'db.example' (puerto 5433)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.diagnostic.sqlstate + " " + c.diagnostic.message);
    Failure f = failure_from({c.diagnostic}, server);
    EXPECT_EQ(f.number(), c.number);
    EXPECT_NE(f.description().find(c.in_description), std::string::npos) << f.description();
  }
}

TEST(OdbcFailure, TheFirstRecordDecidesAndNoRecordIsStillAFailure) {
  Failure f = failure_from({{"23505", 1, "duplicate"}, {"01000", 0, "note"}}, "");
  EXPECT_EQ(f.number(), 3022);
  EXPECT_EQ(failure_from({}, "").number(), 3000);
}

TEST(OdbcFailure, ServerNamedByTheConnectionString) {
  const std::pair<std::string, std::string> cases[] = {
      {"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=55432;Database=postgres;", "'127.0.0.1' (puerto 55432)"},
      {"driver={x;y};servername=db1;uid=a", "'db1'"},
      {"DSN=contabilidad;UID=kavelo", "del origen de datos 'contabilidad'"},
      {" host = h2 ; port = 1 ", "'h2' (puerto 1)"},
      {"Database=abc", "de la cadena de conexión"},
      {"", "de la cadena de conexión"},
  };
  for (const auto& [text, server] : cases) EXPECT_EQ(server_of(text), server) << text;
}

}  // namespace
}  // namespace kavelo::db::odbc

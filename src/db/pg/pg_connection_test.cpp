#include "db/pg/pg_connection.h"
#include "db/pg/pg_connect.h"

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

// By the state and the objects the server names, never the words: the
// messages here are those of a server whose lc_messages is Spanish.
TEST(ServerFailure, StatesAndNamedObjectsMeanTheCatalogueEntries) {
  struct Case {
    ServerError error;
    int number;
    const char* description;
  };
  const Case cases[] = {
      {{"23505", "llave duplicada viola restricción de unicidad «f_cli_pkey»", "", "f_cli_pkey", "f_cli"}, 3022,
       "Los cambios solicitados en la tabla no se realizaron correctamente porque crearían valores duplicados en el "
       "índice, clave principal o relación."},
      {{"23502", "el valor nulo en la columna «fecapu» de la relación «f_apu» viola la restricción de no nulo",
        "fecapu", "", "f_apu"},
       3314, "El campo 'FECAPU' no puede contener un valor nulo."},
      {{"23514", "el nuevo registro para la relación «f_cli» viola la restricción «check» «nomcli_bueno»", "",
        "nomcli_bueno", "f_cli"},
       3317, "Uno o más valores no son válidos según la regla de validación de 'nomcli_bueno'."},
      {{"22003", "desbordamiento de campo numeric", "", "", ""}, 6, "Desbordamiento"},
      {{"42P01", "no existe la relación «f_nada»", "", "", ""}, 3078,
       "No se encuentra la tabla o consulta de entrada ''."},
      {{"42703", "no existe la columna «codx» en la relación «f_mae»", "codx", "", "f_mae"}, 3061,
       "Pocos parámetros: no existe la columna 'CODX'."},
      {{"55P03", "cancelando la sentencia debido a que se agotó el tiempo de espera de candados", "", "", ""}, 3045,
       "No se pudo usar 'h (puerto 1)'; el archivo ya está en uso."},
      {{"40P01", "se ha detectado un deadlock", "", "", ""}, 3045,
       "No se pudo usar 'h (puerto 1)'; el archivo ya está en uso."},
      {{"57P01", "terminando la conexión debido a una orden del administrador", "", "", ""}, 3000,
       "Error del motor de base de datos: se ha perdido la conexión con el servidor de base de datos 'h' (puerto 1) "
       "(57P01): terminando la conexión debido a una orden del administrador"},
      {{"", "server closed the connection unexpectedly", "", "", ""}, 3000,
       "Error del motor de base de datos: se ha perdido la conexión con el servidor de base de datos 'h' (puerto 1): "
       "server closed the connection unexpectedly"},
      {{"P0001", "asiento descuadrado", "", "", ""}, 3000,
       "Error del motor de base de datos: asiento descuadrado (P0001)"},
  };
  for (const Case& c : cases) {
    Failure f = failure_of(c.error, "'h' (puerto 1)");
    EXPECT_EQ(f.number(), c.number) << c.error.sqlstate;
    EXPECT_EQ(f.description(), c.description) << c.error.sqlstate;
  }
}

// libpq's messages of a failed connection, as it writes them in verbose form
// (the server's own lines in English and in Spanish, libpq's own lines).
TEST(ConnectFailure, TheServerCodeAndReasonWhateverTheLanguage) {
  struct Case {
    const char* message;
    const char* sqlstate;
    const char* reason;
    bool passes;
  };
  const Case cases[] = {
      {"connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  3D000: database \"nada\" does not exist\n"
       "LOCATION:  InitPostgres, postinit.c:948\n",
       "3D000", "database \"nada\" does not exist (3D000)", false},
      {"falló la conexión al servidor en «127.0.0.1», puerto 5432: FATAL:  28P01: la autentificación password falló "
       "para el usuario «ana»\nUBICACIÓN:  auth_failed, auth.c:334\n",
       "28P01", "la autentificación password falló para el usuario «ana» (28P01)", false},
      // The first host failed on its own; the second refused: that one counts.
      {"connection to server at \"a\" (::1), port 5432 failed: Connection refused\n\tIs the server running?\n"
       "connection to server at \"a\" (127.0.0.1), port 5432 failed: FATAL:  57P03: the database system is "
       "starting up\n",
       "57P03", "the database system is starting up (57P03)", true},
      {"connection to server failed: FATAL:  53300: sorry, too many clients already\n", "53300",
       "sorry, too many clients already (53300)", true},
      {"connection to server at \"h\", port 1 failed: server does not support SSL, but SSL was required\n", "",
       "connection to server at \"h\", port 1 failed: server does not support SSL, but SSL was required", false},
      {"invalid sslmode value: \"bogus\"\n", "", "invalid sslmode value: \"bogus\"", false},
      // A colon and two blanks that introduce no code.
      {"could not connect:  x: no\n", "", "could not connect: x: no", false},
  };
  for (const Case& c : cases) {
    const std::string state = sqlstate_in(c.message);
    EXPECT_EQ(state, c.sqlstate) << c.message;
    EXPECT_EQ(reason_in(c.message, state), c.reason);
    if (!state.empty()) {
      EXPECT_EQ(passes_by_itself(state), c.passes) << state;
    }
  }
}

}  // namespace
}  // namespace kavelo::db::pg

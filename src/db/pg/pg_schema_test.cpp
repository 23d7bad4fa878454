#include "db/pg/pg_schema.h"

#include <gtest/gtest.h>


#include "db/company_database.h"

namespace kavelo::db::pg {
namespace {

TEST(ScriptStatements, CutsAtSemicolonsOutsideQuotesBodiesAndComments) {
  const std::string script = R"(
    INSERT INTO f_mae VALUES ('a;b', "c;d"); -- a comment; with a semicolon
    CREATE FUNCTION f() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'x;y'; END; $$ LANGUAGE plpgsql;
    CREATE FUNCTION g() RETURNS int AS $body$ SELECT 1; $body$ LANGUAGE sql;
    PREPARE p AS SELECT $1; /* a block; /* nested; */ comment */ SELECT 'it''s;';
    SELECT E'it\'s; fine', e'a\\', 'b\'; SELECT E'x''y;z', NAME'c\'; SELECT 1;
    ;
  )";
  EXPECT_EQ(script_statements(script),
            (std::vector<std::string>{
                "INSERT INTO f_mae VALUES ('a;b', \"c;d\")",
                "CREATE FUNCTION f() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION 'x;y'; END; $$ LANGUAGE plpgsql",
                "CREATE FUNCTION g() RETURNS int AS $body$ SELECT 1; $body$ LANGUAGE sql",
                "PREPARE p AS SELECT $1",
                "SELECT 'it''s;'",
                // Backslashes escape only in E'...' (e'...'): not in plain texts, nor after a word.
                "SELECT E'it\\'s; fine', e'a\\\\', 'b\\'",
                "SELECT E'x''y;z', NAME'c\\'",
                "SELECT 1",
            }));
}

TEST(ServerSchema, TheReferenceSchemaWithoutColumnsOfKavelo) {
  std::vector<std::string> statements = server_schema_statements(company_schema_sql());
  std::string all;
  for (const std::string& s : statements) all += s + ";\n";
  // The application's tables as they are: nothing of kavelo's.
  EXPECT_EQ(all.find("kavelo"), std::string::npos) << all;
  // (The server's check of a database made with them finds the keys, the
  // types and the balances' defaults as in a file.) A key without case is a
  // unique index of its folded form, beside the primary key; a unique rule is
  // that index alone.
  EXPECT_NE(all.find("PRIMARY KEY (\"codcli\")"), std::string::npos);
  EXPECT_NE(all.find("CREATE UNIQUE INDEX \"f_cli_codcli_nocase\" ON \"f_cli\" (" + folded_key("\"codcli\"") + ")"),
            std::string::npos);
  EXPECT_NE(all.find("CREATE UNIQUE INDEX \"f_sal_diasal_cuesal_key\" ON \"f_sal\" (\"diasal\", " +
                     folded_key("\"cuesal\"") + ")"),
            std::string::npos);
  EXPECT_EQ(all.find("UNIQUE (\"diasal\""), std::string::npos) << all;
  EXPECT_NE(all.find("\"347ivr\" double precision DEFAULT 0"), std::string::npos);
  EXPECT_NE(all.find("CREATE INDEX \"f_apu_diaapu_asiapu\" ON \"f_apu\" (\"diaapu\", \"asiapu\")"), std::string::npos);
}

TEST(ServerSchema, RefusesWhatItCannotTranslate) {
  EXPECT_THROW(server_schema_statements("CREATE TABLE t (a TEXT(5) DEFAULT (upper('x')))"), std::runtime_error);
  EXPECT_THROW(server_schema_statements("CREATE TABLE t (a BLOB)"), std::runtime_error);
  EXPECT_THROW(server_schema_statements("CREATE TABLE t (a LONG); CREATE UNIQUE INDEX i ON t (a) WHERE a > 0"),
               std::runtime_error);
}

}  // namespace
}  // namespace kavelo::db::pg

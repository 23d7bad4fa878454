#include "db/odbc/server_schema.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kavelo::db::odbc {
namespace {

std::string script_of(const std::vector<std::string>& statements) {
  std::string text;
  for (const std::string& s : statements) text += s + ";\n";
  return text;
}

TEST(ServerSchema, TranslatesColumnsKeysAndDefaults) {
  struct Case {
    std::string sqlite;
    std::vector<std::string> in_ddl;  // each a part of the server's script
  };
  const Case cases[] = {
      {"CREATE TABLE T (A TEXT(10), B LONGTEXT, C BYTE, D SHORT, E LONG, F DOUBLE, G CURRENCY, H DATETIME, I BIT)",
       {"CREATE TABLE \"T\" (\n  \"A\" varchar(10),\n  \"B\" text,\n  \"C\" smallint,\n  \"D\" smallint,\n"
        "  \"E\" integer,\n  \"F\" double precision,\n  \"G\" numeric(19,4),\n  \"H\" timestamp,\n  \"I\" boolean\n)"}},
      {"CREATE TABLE F_EMP (CODEMP TEXT(10) NOT NULL COLLATE NOCASE PRIMARY KEY, NOMEMP TEXT(100))",
       {"CREATE COLLATION IF NOT EXISTS kavelo_nocase (provider = icu, locale = 'und-u-ks-level2', "
        "deterministic = false);\nCREATE TABLE",
        "\"CODEMP\" varchar(10) COLLATE kavelo_nocase NOT NULL,", "PRIMARY KEY (\"CODEMP\")"}},
      {"CREATE TABLE T (A SHORT DEFAULT 0, B DOUBLE DEFAULT -1.5, C CURRENCY NOT NULL DEFAULT 0, D BIT DEFAULT -1, "
       "E BIT DEFAULT 0, F TEXT(5) DEFAULT 'it''s', G TEXT(5) DEFAULT 7, H DATETIME DEFAULT '2024-02-29', "
       "I LONG DEFAULT NULL, J LONG DEFAULT (1))",
       {"\"A\" smallint DEFAULT 0,", "\"B\" double precision DEFAULT -1.5,", "\"C\" numeric(19,4) DEFAULT 0 NOT NULL,",
        "\"D\" boolean DEFAULT true,", "\"E\" boolean DEFAULT false,", "\"F\" varchar(5) DEFAULT 'it''s',",
        "\"G\" varchar(5) DEFAULT '7',", "\"H\" timestamp DEFAULT '2024-02-29',", "\"I\" integer,",
        "\"J\" integer DEFAULT 1\n"}},
      {"CREATE TABLE \"T-1\" (\"D-H\" TEXT(1), \"347X\" LONG, K SHORT, PRIMARY KEY (K, \"347X\"), UNIQUE (\"D-H\", K));"
       "CREATE INDEX T1_K ON \"T-1\" (K, \"D-H\"); CREATE UNIQUE INDEX T1_X ON \"T-1\" (\"347X\")",
       {"CREATE TABLE \"T-1\" (", "PRIMARY KEY (\"K\", \"347X\"),\n  UNIQUE (\"D-H\", \"K\")\n)",
        "CREATE INDEX \"T1_K\" ON \"T-1\" (\"K\", \"D-H\")", "CREATE UNIQUE INDEX \"T1_X\" ON \"T-1\" (\"347X\")"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sqlite);
    std::string ddl = script_of(postgres_schema_statements(c.sqlite));
    for (const std::string& part : c.in_ddl) EXPECT_NE(ddl.find(part), std::string::npos) << part << "\n" << ddl;
  }
}

TEST(ServerSchema, NoCollationWithoutCaselessText) {
  auto statements = postgres_schema_statements("CREATE TABLE T (A TEXT(3) PRIMARY KEY)");
  ASSERT_EQ(statements.size(), 1u);
  EXPECT_EQ(statements[0].find("COLLATE"), std::string::npos);
}

TEST(ServerSchema, RefusesWhatItCannotTranslate) {
  const char* cases[] = {
      "CREATE TABLE T (A BLOB)",
      "CREATE TABLE T (A DATETIME DEFAULT CURRENT_TIMESTAMP)",
      "CREATE TABLE T (A LONG DEFAULT (1 + 1))",
      "CREATE TABLE T (A LONG); CREATE INDEX I ON T (A) WHERE A > 0",
      "CREATE TABLE T (A LONG); CREATE INDEX I ON T (A + 1)",
      "CREATE TABLE T (A LONG",  // not even SQLite takes it
  };
  for (const char* sqlite : cases) EXPECT_THROW(postgres_schema_statements(sqlite), std::runtime_error) << sqlite;
}

TEST(ServerSchema, ReferenceSchema) {
  const std::string ddl = postgres_company_schema_ddl();
  for (const char* table : {"F_EMP", "F_AUT", "F_DIA", "F_MAE", "F_CLI", "F_PRO", "F_APU", "F_SAL", "F_IVR", "F_IVS"})
    EXPECT_NE(ddl.find(std::string("CREATE TABLE \"") + table + "\" ("), std::string::npos) << table;
  for (const char* part : {"\"D-HAPU\" varchar(1),", "\"347IVR\" double precision DEFAULT 0,",
                           "\"FECAPU\" timestamp NOT NULL,", "UNIQUE (\"DIAAPU\", \"FECAPU\", \"ASIAPU\", \"ORDAPU\")",
                           "\"CUESAL\" varchar(12) COLLATE kavelo_nocase NOT NULL,", "\"ASIDIA\" integer DEFAULT 1,",
                           "CREATE INDEX \"F_APU_DIAAPU_ASIAPU\" ON \"F_APU\" (\"DIAAPU\", \"ASIAPU\")"})
    EXPECT_NE(ddl.find(part), std::string::npos) << part;
}

}  // namespace
}  // namespace kavelo::db::odbc

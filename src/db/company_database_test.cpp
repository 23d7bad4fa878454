#include "db/company_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/column_type.h"

namespace kavelo::db {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "kavelo-company-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A direct connection, so that the checks do not go through the code under test.
class Sqlite {
 public:
  explicit Sqlite(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path);
    sqlite3_extended_result_codes(db_, 1);
  }
  ~Sqlite() { sqlite3_close(db_); }

  // The result code of running `sql`.
  int exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr); }

  // Every row of a query, each as its columns' texts ("<null>" for Null).
  std::vector<std::vector<std::string>> rows(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db_));
    std::vector<std::vector<std::string>> result;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const unsigned char* text = sqlite3_column_text(stmt, i);
        row.push_back(text ? reinterpret_cast<const char*>(text) : "<null>");
      }
      result.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return result;
  }

  bool prepares(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr);
    sqlite3_finalize(stmt);
    return rc == SQLITE_OK;
  }

 private:
  sqlite3* db_ = nullptr;
};

struct ColumnFacts {
  std::string name, type, default_value;
  bool not_null = false;
  bool primary_key = false;
};

std::vector<ColumnFacts> columns_of(Sqlite& db, const std::string& table) {
  std::vector<ColumnFacts> columns;
  for (auto& row : db.rows("PRAGMA table_info(" + table + ")"))
    columns.push_back({row[1], row[2], row[4], row[3] == "1", row[5] != "0"});
  return columns;
}

// What the importers write to each column (T text, N number, A amount, D date,
// S 16-bit and L 32-bit whole number), in the order of the record layouts.
// Columns written only when their field is not empty hold dates.
struct Layout {
  const char* table;
  const char* columns;
};
const Layout kLayouts[] = {
    {"F_EMP", "CODEMP:T NOMEMP:T FRMEMP:T"},
    {"F_AUT", "CODAUT:S NAAAUT:S NAMAUT:S"},
    {"F_DIA", "CODDIA:S NOMDIA:T ASIDIA:L"},
    {"F_MAE", "CODMAE:T NOMMAE:T NEXMAE:T NATMAE:N RACMAE:N RSCMAE:N MEMMAE:T"},
    {"F_CLI",
     "CODCLI:T TFCCLI:N NOMCLI:T IFICLI:N CIFCLI:T IMPCLI:N CONCLI:T CHACLI:T CCOCLI:T CC2CLI:T "
     "CC3CLI:T CBACLI:T CARCLI:T TIPCLI:N TRECLI:N RETCLI:A COPCLI:N ACPCLI:N TPICLI:N IVACLI:A "
     "RECCLI:A NCOCLI:T SIGCLI:T DOMCLI:T NUMCLI:T CPOCLI:T POBCLI:T POVCLI:T PAICLI:T TELCLI:T "
     "MOVCLI:T FAXCLI:T BANCLI:T ENTCLI:T OFICLI:T DCOCLI:T CTACLI:T IBACLI:T FPACLI:T PCOCLI:T "
     "EMACLI:T WEBCLI:T MEMCLI:T FELCLI:N DEPCLI:N SUBCLI:N CPA1CLI:T CPA2CLI:T CPA3CLI:T "
     "CPA4CLI:T CPA5CLI:T"},
    {"F_PRO",
     "CODPRO:T NOMPRO:T IFIPRO:N CIFPRO:T IMPPRO:N CONPRO:T CHAPRO:T CCOPRO:T CC2PRO:T CC3PRO:T "
     "CBAPRO:T CARPRO:T TIPPRO:N TREPRO:N RETPRO:A TDEPRO:N COPPRO:N ACPPRO:N TPIPRO:N IVAPRO:A "
     "RECPRO:A NCOPRO:T SIGPRO:T DOMPRO:T NUMPRO:T CPOPRO:N POBPRO:T POVPRO:T PAIPRO:T TELPRO:T "
     "MOVPRO:T FAXPRO:T BANPRO:T ENTPRO:T OFIPRO:T DCOPRO:T CTAPRO:T IBAPRO:T FPAPRO:T PCOPRO:T "
     "EMAPRO:T WEBPRO:T MEMPRO:T DEPPRO:N SUBPRO:N CPA1PRO:T CPA2PRO:T CPA3PRO:T CPA4PRO:T "
     "CPA5PRO:T"},
    // The line amounts travel as text but are posted to the balances as amounts.
    {"F_APU",
     "DIAAPU:S FECAPU:D ASIAPU:L ORDAPU:L CUEAPU:T CONAPU:T DOCAPU:T D-HAPU:T IMEAPU:A IMPAPU:A "
     "MONAPU:T PUNAPU:T TIVAPU:T CIVAPU:N DEPAPU:T SUBAPU:T IMAAPU:T UCRAPU:N FCRAPU:D UUMAPU:N "
     "FUMAPU:D GUIDAPU:T"},
    {"F_IVR",
     "CODIVR:L LIBIVR:T COPIVR:N FACIVR:T NFAIVR:N PNUIVR:T UNUIVR:T NFRIVR:T BICIVR:A FFAIVR:D "
     "FECIVR:D TIPIVR:T TOIIVR:N PLAIVR:N EMIIVR:T DBIIVR:T OFDIVR:T IELIVR:N 347IVR:N CUEIVR:T "
     "NOMIVR:T IFIIVR:N CIFIVR:T IMPIVR:N TOTIVR:A SUPIVR:A TRETIVR:A PRETIVR:A IRETIVR:A "
     "PI1IVR:A PI2IVR:A PI3IVR:A PR1IVR:A PR2IVR:A PR3IVR:A BA0IVR:A BA1IVR:A BA2IVR:A BA3IVR:A "
     "CI1IVR:A CI2IVR:A CI3IVR:A CR1IVR:A CR2IVR:A CR3IVR:A FFRIVR:D TFRIVR:A IRFRIVR:A "
     "PIFR1IVR:A PIFR2IVR:A PIFR3IVR:A PRFR1IVR:A PRFR2IVR:A PRFR3IVR:A BFR0IVR:A BFR1IVR:A "
     "BFR2IVR:A BFR3IVR:A CFR1IVR:A CFR2IVR:A CFR3IVR:A RFR1IVR:A RFR2IVR:A RFR3IVR:A"},
    {"F_IVS",
     "CODIVS:L LIBIVS:T COPIVS:N FACIVS:T NFAIVS:N PNUIVS:T UNUIVS:T NFRIVS:T BICIVS:A FFAIVS:D "
     "FECIVS:D TIPIVS:T TOIIVS:N PLAIVS:N EMIIVS:T DBIIVS:T OFDIVS:T DEDIVS:T PDEIVS:A INVIVS:T "
     "IIDEIVS:T IPROIVS:A IFINIVS:D IRAIIVS:A IIENIVS:T IRDEIVS:A 347IVS:N CUEIVS:T NOMIVS:T "
     "IFIIVS:N CIFIVS:T IMPIVS:N TOTIVS:A SUPIVS:A TRETIVS:A PRETIVS:A IRETIVS:A PI1IVS:A "
     "PI2IVS:A PI3IVS:A PR1IVS:A PR2IVS:A PR3IVS:A BA0IVS:A BA1IVS:A BA2IVS:A BA3IVS:A CI1IVS:A "
     "CI2IVS:A CI3IVS:A CR1IVS:A CR2IVS:A CR3IVS:A FFRIVS:D TFRIVS:A IRFRIVS:A PIFR1IVS:A "
     "PIFR2IVS:A PIFR3IVS:A PRFR1IVS:A PRFR2IVS:A PRFR3IVS:A BFR0IVS:A BFR1IVS:A BFR2IVS:A "
     "BFR3IVS:A CFR1IVS:A CFR2IVS:A CFR3IVS:A RFR1IVS:A RFR2IVS:A RFR3IVS:A"},
};

bool type_fits(char kind, const std::string& type) {
  switch (kind) {
    case 'T': return type == "LONGTEXT" || (type.rfind("TEXT(", 0) == 0 && type.back() == ')');
    case 'N': return type == "DOUBLE";
    case 'A': return type == "CURRENCY";
    case 'D': return type == "DATETIME";
    case 'S': return type == "SHORT";
    case 'L': return type == "LONG";
  }
  return false;
}

class CompanyDatabase : public ::testing::Test {
 protected:
  void SetUp() override { create_company_database(path_); }
  TempFolder folder_;
  std::string path_ = folder_ / "DEMO01.MDB";
};

TEST_F(CompanyDatabase, EveryTableHoldsTheColumnsTheImportersWriteInLayoutOrder) {
  Sqlite db(path_);
  for (const Layout& layout : kLayouts) {
    SCOPED_TRACE(layout.table);
    std::vector<ColumnFacts> columns = columns_of(db, layout.table);
    std::istringstream expected(layout.columns);
    std::string item;
    std::size_t i = 0;
    for (; expected >> item; ++i) {
      std::string name = item.substr(0, item.size() - 2);
      ASSERT_LT(i, columns.size()) << name << " is missing";
      EXPECT_EQ(columns[i].name, name);
      EXPECT_TRUE(type_fits(item.back(), columns[i].type)) << name << " is declared " << columns[i].type;
    }
    EXPECT_EQ(columns.size(), i) << "columns beyond the layout";
    // The engine tells rows apart by rowid.
    EXPECT_TRUE(db.prepares(std::string("SELECT rowid FROM ") + layout.table));
  }
}

TEST_F(CompanyDatabase, TheEngineKnowsEveryDeclaredType) {
  Sqlite db(path_);
  for (auto& table : db.rows("SELECT name FROM sqlite_schema WHERE type = 'table'")) {
    for (const ColumnFacts& column : columns_of(db, table[0])) {
      int size = -1;
      EXPECT_NE(column_kind(column.type, &size), ColumnKind::Untyped) << table[0] << "." << column.name;
      EXPECT_EQ(size == 0, column.type == "LONGTEXT" || column.type.find('(') == std::string::npos)
          << table[0] << "." << column.name;
    }
  }
}

TEST_F(CompanyDatabase, BalancesHaveTheMonthlyColumnsOfBothSidesAtZero) {
  Sqlite db(path_);
  std::vector<ColumnFacts> columns = columns_of(db, "F_SAL");
  ASSERT_EQ(columns.size(), 50u);
  EXPECT_EQ(columns[0].name, "CUESAL");
  EXPECT_TRUE(type_fits('T', columns[0].type));
  EXPECT_EQ(columns[1].name, "DIASAL");
  EXPECT_EQ(columns[1].type, "SHORT");
  std::string sum;
  for (const char* prefix : {"PD", "PH", "ED", "EH"}) {
    for (int month = 1; month <= 12; ++month) {
      std::string name = prefix + std::to_string(month) + "SAL";
      bool found = false;
      for (const ColumnFacts& column : columns) {
        if (column.name != name) continue;
        found = true;
        EXPECT_EQ(column.type, "CURRENCY") << name;
        EXPECT_TRUE(column.not_null) << name;
        EXPECT_EQ(column.default_value, "0") << name;
      }
      EXPECT_TRUE(found) << name;
      sum += (sum.empty() ? "" : " + ") + name;
    }
  }
  // Posting adds to a new row's columns: they must hold 0, not Null.
  ASSERT_EQ(db.exec("INSERT INTO F_SAL (CUESAL, DIASAL) VALUES ('430', 1)"), SQLITE_OK);
  EXPECT_EQ(db.rows("SELECT " + sum + ", typeof(PD1SAL) FROM F_SAL")[0], (std::vector<std::string>{"0", "integer"}));
}

TEST_F(CompanyDatabase, NumbersDefaultToZeroAndTextsToNull) {
  Sqlite db(path_);
  for (const Layout& layout : kLayouts) {
    for (const ColumnFacts& column : columns_of(db, layout.table)) {
      SCOPED_TRACE(std::string(layout.table) + "." + column.name);
      if (column.primary_key) {
        EXPECT_TRUE(column.not_null);
      } else if (column.name == "ASIDIA") {
        EXPECT_EQ(column.default_value, "1");  // entry 0 asks for a number, so counters start at 1
      } else if (column.type == "DOUBLE" || column.type == "CURRENCY" || column.type == "SHORT" ||
                 column.type == "LONG") {
        EXPECT_EQ(column.default_value, "0");
      } else {
        EXPECT_EQ(column.default_value, "<null>");
      }
    }
  }
  // A row added with its key alone.
  ASSERT_EQ(db.exec("INSERT INTO F_CLI (CODCLI) VALUES ('1')"), SQLITE_OK);
  EXPECT_EQ(db.rows("SELECT RETCLI = 0, TFCCLI = 0, NOMCLI IS NULL, MEMCLI IS NULL FROM F_CLI")[0],
            (std::vector<std::string>{"1", "1", "1", "1"}));
}

struct DuplicateCase {
  const char* name;
  const char* first;      // stored
  const char* other;      // a different key: stored
  const char* duplicate;  // refused
};

TEST_F(CompanyDatabase, UniqueKeysRefuseDuplicatesAndTextKeysIgnoreCase) {
  const DuplicateCase cases[] = {
      {"company", "INSERT INTO F_EMP (CODEMP) VALUES ('demo')", "INSERT INTO F_EMP (CODEMP) VALUES ('demo2')",
       "INSERT INTO F_EMP (CODEMP) VALUES ('DEMO')"},
      {"settings", "INSERT INTO F_AUT (CODAUT) VALUES (1)", "INSERT INTO F_AUT (CODAUT) VALUES (2)",
       "INSERT INTO F_AUT (CODAUT) VALUES (1)"},
      {"journal", "INSERT INTO F_DIA (CODDIA) VALUES (1)", "INSERT INTO F_DIA (CODDIA) VALUES (2)",
       "INSERT INTO F_DIA (CODDIA) VALUES (1)"},
      {"account", "INSERT INTO F_MAE (CODMAE) VALUES ('43a')", "INSERT INTO F_MAE (CODMAE) VALUES ('43b')",
       "INSERT INTO F_MAE (CODMAE) VALUES ('43A')"},
      {"customer", "INSERT INTO F_CLI (CODCLI) VALUES ('c1')", "INSERT INTO F_CLI (CODCLI) VALUES ('c2')",
       "INSERT INTO F_CLI (CODCLI) VALUES ('C1')"},
      {"supplier", "INSERT INTO F_PRO (CODPRO) VALUES ('p1')", "INSERT INTO F_PRO (CODPRO) VALUES ('p2')",
       "INSERT INTO F_PRO (CODPRO) VALUES ('P1')"},
      {"line", "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU) VALUES (1, '2011-03-15', 5, 1)",
       "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU) VALUES (1, '2011-03-15', 5, 2)",
       "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU) VALUES (1, '2011-03-15', 5, 1)"},
      {"balance", "INSERT INTO F_SAL (DIASAL, CUESAL) VALUES (1, '430a')",
       "INSERT INTO F_SAL (DIASAL, CUESAL) VALUES (2, '430a')",
       "INSERT INTO F_SAL (DIASAL, CUESAL) VALUES (1, '430A')"},
      {"output VAT", "INSERT INTO F_IVR (CODIVR) VALUES (7)", "INSERT INTO F_IVR (CODIVR) VALUES (8)",
       "INSERT INTO F_IVR (CODIVR) VALUES (7)"},
      {"input VAT", "INSERT INTO F_IVS (CODIVS) VALUES (7)", "INSERT INTO F_IVS (CODIVS) VALUES (8)",
       "INSERT INTO F_IVS (CODIVS) VALUES (7)"},
  };
  Sqlite db(path_);
  for (const DuplicateCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(db.exec(c.first), SQLITE_OK);
    EXPECT_EQ(db.exec(c.other), SQLITE_OK);
    int rc = db.exec(c.duplicate);
    EXPECT_TRUE(rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE) << "result " << rc;
  }
}

TEST_F(CompanyDatabase, CreatedFileKeepsTheDefaultRollbackJournal) {
  std::string header = read_file(path_);
  ASSERT_GE(header.size(), 100u);
  EXPECT_EQ(header.substr(0, 16), std::string("SQLite format 3\0", 16));
  // Bytes 18 and 19 are 2 in WAL mode.
  EXPECT_EQ(header[18], 1);
  EXPECT_EQ(header[19], 1);
}

TEST_F(CompanyDatabase, RefusesToOverwriteAnExistingFile) {
  std::string before = read_file(path_);
  try {
    create_company_database(path_);
    FAIL() << "an existing database was overwritten";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
  }
  EXPECT_EQ(read_file(path_), before);

  std::string other = folder_ / "NOTES.TXT";
  std::ofstream(other, std::ios::binary) << "not a database";
  EXPECT_THROW(create_company_database(other), std::runtime_error);
  EXPECT_EQ(read_file(other), "not a database");
}

TEST(CreateDatabase, LeavesNoFileBehindWhenTheSchemaFails) {
  TempFolder folder;
  std::string path = folder / "BAD01.MDB";
  EXPECT_THROW(create_database(path, "CREATE TABLE F_X (A SHORT); CREATE TABLE F_X (B SHORT);"), std::runtime_error);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(fs::exists(path + "-journal"));

  EXPECT_THROW(create_company_database(folder / "missing/DEMO01.MDB"), std::runtime_error);
  EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST_F(CompanyDatabase, ScriptRunsWhollyOrNotAtAll) {
  run_sql_script(path_,
                 "-- the company\n"
                 "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('DEMO', 'Peñalara', '1110000');\n"
                 "INSERT INTO F_DIA (CODDIA, NOMDIA) VALUES (1, 'General');");
  Sqlite db(path_);
  EXPECT_EQ(db.rows("SELECT NOMEMP, (SELECT ASIDIA FROM F_DIA) FROM F_EMP")[0],
            (std::vector<std::string>{"Peñalara", "1"}));

  try {
    run_sql_script(path_,
                   "INSERT INTO F_MAE (CODMAE) VALUES ('430');\n"
                   "INSERT INTO F_MAE (CODMAE) VALUES ('4300001');\n"
                   "INSERT INTO F_MAE (CODMAE) VALUES ('430');");
    FAIL() << "a duplicate key was stored";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("sentencia 3"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(db.rows("SELECT * FROM F_MAE").empty());
}

TEST_F(CompanyDatabase, ScriptCannotEndTheTransactionItRunsIn) {
  for (const char* script : {"INSERT INTO F_AUT (CODAUT) VALUES (1); COMMIT; INSERT INTO F_AUT (CODAUT) VALUES (1);",
                             "INSERT INTO F_AUT (CODAUT) VALUES (1); ROLLBACK;", "BEGIN; INSERT INTO F_AUT VALUES (1, 1, 0);"}) {
    SCOPED_TRACE(script);
    EXPECT_THROW(run_sql_script(path_, script), std::runtime_error);
    Sqlite db(path_);
    EXPECT_TRUE(db.rows("SELECT * FROM F_AUT").empty());
  }
}

TEST(RunSqlScript, RefusesAMissingDatabaseWithoutCreatingIt) {
  TempFolder folder;
  std::string path = folder / "NONE01.MDB";
  EXPECT_THROW(run_sql_script(path, "CREATE TABLE T (A SHORT);"), std::runtime_error);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(CompanyDatabase, CountsTheRowsOfEveryTableInCreationOrder) {
  run_sql_script(path_,
                 "INSERT INTO F_MAE (CODMAE) VALUES ('4'), ('43'), ('430');"
                 "INSERT INTO F_IVS (CODIVS) VALUES (1);");
  std::vector<std::pair<std::string, std::int64_t>> expected = {
      {"F_EMP", 0}, {"F_AUT", 0}, {"F_DIA", 0}, {"F_MAE", 3}, {"F_CLI", 0},
      {"F_PRO", 0}, {"F_APU", 0}, {"F_SAL", 0}, {"F_IVR", 0}, {"F_IVS", 1}};
  EXPECT_EQ(count_rows(path_), expected);
}

}  // namespace
}  // namespace kavelo::db

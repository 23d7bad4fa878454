#include "db/company_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/column_type.h"
#include "test_support.h"

namespace kavelo::db {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using test::exists;
using test::read_bytes;
using test::TempDir;

// A direct connection, so that the checks do not go through the code under test.
class Sqlite {
 public:
  explicit Sqlite(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path);
    sqlite3_extended_result_codes(db_, 1);
  }
  ~Sqlite() { sqlite3_close(db_); }
  // The result code of the statements; each row they give goes to `rows`, as
  // its columns' texts ("<null>" for Null).
  int exec(const std::string& sql, Rows* rows = nullptr) {
    int (*each)(void*, int, char**, char**) = [](void* out, int n, char** values, char**) {
      auto& row = static_cast<Rows*>(out)->emplace_back();
      for (int i = 0; i < n; ++i) row.push_back(values[i] ? values[i] : "<null>");
      return 0;
    };
    return sqlite3_exec(db_, sql.c_str(), rows ? each : nullptr, rows, nullptr);
  }
  Rows rows(const std::string& sql) {
    Rows result;
    if (exec(sql, &result) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(db_));
    return result;
  }

 private:
  sqlite3* db_ = nullptr;
};

// What the importers write to each column (T text, N number, A amount, D date,
// S 16-bit and L 32-bit whole number), in the order of the record layouts.
// Columns written only when their field is not empty hold dates.
struct Layout {
  std::string table, columns;
};
std::vector<Layout> layouts() {
  std::vector<Layout> all = {
      {"F_EMP", "CODEMP:T NOMEMP:T FRMEMP:T"},
      {"F_AUT", "CODAUT:S NAAAUT:S NAMAUT:S"},
      {"F_DIA", "CODDIA:S NOMDIA:T ASIDIA:L"},
      {"F_MAE", "CODMAE:T NOMMAE:T NEXMAE:T NATMAE:N RACMAE:N RSCMAE:N MEMMAE:T"},
      {"F_CLI",
       "CODCLI:T TFCCLI:N NOMCLI:T IFICLI:N CIFCLI:T IMPCLI:N CONCLI:T CHACLI:T CCOCLI:T CC2CLI:T CC3CLI:T CBACLI:T "
       "CARCLI:T TIPCLI:N TRECLI:N RETCLI:A COPCLI:N ACPCLI:N TPICLI:N IVACLI:A RECCLI:A NCOCLI:T SIGCLI:T DOMCLI:T "
       "NUMCLI:T CPOCLI:T POBCLI:T POVCLI:T PAICLI:T TELCLI:T MOVCLI:T FAXCLI:T BANCLI:T ENTCLI:T OFICLI:T DCOCLI:T "
       "CTACLI:T IBACLI:T FPACLI:T PCOCLI:T EMACLI:T WEBCLI:T MEMCLI:T FELCLI:N DEPCLI:N SUBCLI:N CPA1CLI:T "
       "CPA2CLI:T CPA3CLI:T CPA4CLI:T CPA5CLI:T"},
      {"F_PRO",
       "CODPRO:T NOMPRO:T IFIPRO:N CIFPRO:T IMPPRO:N CONPRO:T CHAPRO:T CCOPRO:T CC2PRO:T CC3PRO:T CBAPRO:T CARPRO:T "
       "TIPPRO:N TREPRO:N RETPRO:A TDEPRO:N COPPRO:N ACPPRO:N TPIPRO:N IVAPRO:A RECPRO:A NCOPRO:T SIGPRO:T DOMPRO:T "
       "NUMPRO:T CPOPRO:N POBPRO:T POVPRO:T PAIPRO:T TELPRO:T MOVPRO:T FAXPRO:T BANPRO:T ENTPRO:T OFIPRO:T DCOPRO:T "
       "CTAPRO:T IBAPRO:T FPAPRO:T PCOPRO:T EMAPRO:T WEBPRO:T MEMPRO:T DEPPRO:N SUBPRO:N CPA1PRO:T CPA2PRO:T "
       "CPA3PRO:T CPA4PRO:T CPA5PRO:T"},
      // The line amounts travel as text but are posted to the balances as amounts.
      {"F_APU",
       "DIAAPU:S FECAPU:D ASIAPU:L ORDAPU:L CUEAPU:T CONAPU:T DOCAPU:T D-HAPU:T IMEAPU:A IMPAPU:A MONAPU:T PUNAPU:T "
       "TIVAPU:T CIVAPU:N DEPAPU:T SUBAPU:T IMAAPU:T UCRAPU:N FCRAPU:D UUMAPU:N FUMAPU:D GUIDAPU:T"},
      {"F_SAL", "CUESAL:T DIASAL:S"},
      {"F_IVR",
       "CODIVR:L LIBIVR:T COPIVR:N FACIVR:T NFAIVR:N PNUIVR:T UNUIVR:T NFRIVR:T BICIVR:A FFAIVR:D FECIVR:D TIPIVR:T "
       "TOIIVR:N PLAIVR:N EMIIVR:T DBIIVR:T OFDIVR:T IELIVR:N 347IVR:N CUEIVR:T NOMIVR:T IFIIVR:N CIFIVR:T IMPIVR:N "
       "TOTIVR:A SUPIVR:A TRETIVR:A PRETIVR:A IRETIVR:A PI1IVR:A PI2IVR:A PI3IVR:A PR1IVR:A PR2IVR:A PR3IVR:A "
       "BA0IVR:A BA1IVR:A BA2IVR:A BA3IVR:A CI1IVR:A CI2IVR:A CI3IVR:A CR1IVR:A CR2IVR:A CR3IVR:A FFRIVR:D TFRIVR:A "
       "IRFRIVR:A PIFR1IVR:A PIFR2IVR:A PIFR3IVR:A PRFR1IVR:A PRFR2IVR:A PRFR3IVR:A BFR0IVR:A BFR1IVR:A BFR2IVR:A "
       "BFR3IVR:A CFR1IVR:A CFR2IVR:A CFR3IVR:A RFR1IVR:A RFR2IVR:A RFR3IVR:A"},
      {"F_IVS",
       "CODIVS:L LIBIVS:T COPIVS:N FACIVS:T NFAIVS:N PNUIVS:T UNUIVS:T NFRIVS:T BICIVS:A FFAIVS:D FECIVS:D TIPIVS:T "
       "TOIIVS:N PLAIVS:N EMIIVS:T DBIIVS:T OFDIVS:T DEDIVS:T PDEIVS:A INVIVS:T IIDEIVS:T IPROIVS:A IFINIVS:D "
       "IRAIIVS:A IIENIVS:T IRDEIVS:A 347IVS:N CUEIVS:T NOMIVS:T IFIIVS:N CIFIVS:T IMPIVS:N TOTIVS:A SUPIVS:A "
       "TRETIVS:A PRETIVS:A IRETIVS:A PI1IVS:A PI2IVS:A PI3IVS:A PR1IVS:A PR2IVS:A PR3IVS:A BA0IVS:A BA1IVS:A "
       "BA2IVS:A BA3IVS:A CI1IVS:A CI2IVS:A CI3IVS:A CR1IVS:A CR2IVS:A CR3IVS:A FFRIVS:D TFRIVS:A IRFRIVS:A "
       "PIFR1IVS:A PIFR2IVS:A PIFR3IVS:A PRFR1IVS:A PRFR2IVS:A PRFR3IVS:A BFR0IVS:A BFR1IVS:A BFR2IVS:A BFR3IVS:A "
       "CFR1IVS:A CFR2IVS:A CFR3IVS:A RFR1IVS:A RFR2IVS:A RFR3IVS:A"},
  };
  // The monthly balances of both sides.
  for (const char* side : {"PD", "PH", "ED", "EH"})
    for (int month = 1; month <= 12; ++month) all[7].columns += " " + (side + std::to_string(month)) + "SAL:A";
  return all;
}

class CompanyDatabase : public ::testing::Test {
 protected:
  void SetUp() override { create_company_database(path_); }
  TempDir dir_;
  std::string path_ = dir_ / "DEMO01.MDB";
};

// Every table, column by column: name and order, declared type and the kind
// the engine reads from it, default and NOT NULL.
TEST_F(CompanyDatabase, EveryTableHoldsTheColumnsTheImportersWriteInLayoutOrder) {
  struct Type {
    std::string spelling;  // "TEXT" is TEXT(n) or LONGTEXT
    ColumnKind kind;
  };
  const std::map<char, Type> types = {{'T', {"TEXT", ColumnKind::Text}},         {'N', {"DOUBLE", ColumnKind::Double}},
                                      {'A', {"CURRENCY", ColumnKind::Currency}}, {'D', {"DATETIME", ColumnKind::DateTime}},
                                      {'S', {"SHORT", ColumnKind::Short}},       {'L', {"LONG", ColumnKind::Long}}};
  Sqlite db(path_);
  EXPECT_EQ(db.rows("SELECT count(*) FROM sqlite_schema WHERE type = 'table'"), (Rows{{"10"}}));
  for (const Layout& layout : layouts()) {
    Rows columns = db.rows("SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info('" + layout.table + "')");
    std::istringstream expected(layout.columns);
    std::size_t i = 0;
    for (std::string item; expected >> item; ++i) {
      const std::string name = item.substr(0, item.size() - 2);
      SCOPED_TRACE(layout.table + "." + name);
      ASSERT_LT(i, columns.size()) << "missing";
      const std::string &type = columns[i][1], &not_null = columns[i][2], &default_value = columns[i][3],
                        &key = columns[i][4];
      EXPECT_EQ(columns[i][0], name);
      const Type& want = types.at(item.back());
      int size = -1;
      EXPECT_EQ(column_kind(type, &size), want.kind) << type;
      if (want.kind == ColumnKind::Text) {
        EXPECT_TRUE(type == "LONGTEXT" ? size == 0 : type == "TEXT(" + std::to_string(size) + ")") << type << size;
      } else {
        EXPECT_EQ(type, want.spelling);
        EXPECT_EQ(size, 0);
      }
      if (key != "0" || layout.table == "F_SAL") {
        EXPECT_EQ(not_null, "1");
      }
      // Entry 0 asks for a number, so counters start at 1; other numbers at 0;
      // texts and dates hold Null.
      if (name == "ASIDIA") {
        EXPECT_EQ(default_value, "1");
      } else if (key == "0") {
        EXPECT_EQ(default_value, item.back() == 'T' || item.back() == 'D' ? "<null>" : "0");
      }
    }
    EXPECT_EQ(columns.size(), i) << layout.table << ": columns beyond the layout";
    // The engine tells rows apart by rowid.
    EXPECT_EQ(db.exec("SELECT rowid FROM " + layout.table), SQLITE_OK) << layout.table;
  }
}

TEST_F(CompanyDatabase, UniqueKeysRefuseDuplicatesAndTextKeysIgnoreCase) {
  struct Case {
    const char* table;
    const char* key;
    const char* first;      // stored
    const char* other;      // a different key: stored
    const char* duplicate;  // refused
  };
  const Case cases[] = {
      {"F_EMP", "CODEMP", "'demo'", "'demo2'", "'DEMO'"},
      {"F_AUT", "CODAUT", "1", "2", "1"},
      {"F_DIA", "CODDIA", "1", "2", "1"},
      {"F_MAE", "CODMAE", "'43a'", "'43b'", "'43A'"},
      {"F_CLI", "CODCLI", "'c1'", "'c2'", "'C1'"},
      {"F_PRO", "CODPRO", "'p1'", "'p2'", "'P1'"},
      {"F_APU", "DIAAPU, FECAPU, ASIAPU, ORDAPU", "1, '2011-03-15', 5, 1", "1, '2011-03-15', 5, 2",
       "1, '2011-03-15', 5, 1"},
      {"F_SAL", "DIASAL, CUESAL", "1, '430a'", "2, '430a'", "1, '430A'"},
      {"F_IVR", "CODIVR", "7", "8", "7"},
      {"F_IVS", "CODIVS", "7", "8", "7"},
  };
  Sqlite db(path_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const std::string insert = std::string("INSERT INTO ") + c.table + " (" + c.key + ") VALUES (";
    EXPECT_EQ(db.exec(insert + c.first + ")"), SQLITE_OK);
    EXPECT_EQ(db.exec(insert + c.other + ")"), SQLITE_OK);
    int rc = db.exec(insert + c.duplicate + ")");
    EXPECT_TRUE(rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE) << "result " << rc;
  }
}

TEST_F(CompanyDatabase, CreatedFileKeepsTheDefaultRollbackJournal) {
  std::string header = read_bytes(path_);
  ASSERT_GE(header.size(), 100u);
  EXPECT_EQ(header.substr(0, 16), std::string("SQLite format 3\0", 16));
  // Bytes 18 and 19 are 2 in WAL mode.
  EXPECT_EQ(header.substr(18, 2), "\x01\x01");
}

// A schema that fails leaves no file behind. (kavelo-db's tests check that
// create refuses any file that is there, and that sql needs a database.)
TEST_F(CompanyDatabase, FailedCreateLeavesNothing) {
  EXPECT_THROW(create_database(dir_ / "BAD01.MDB", "CREATE TABLE F_X (A SHORT); CREATE TABLE F_X (B SHORT);"),
               std::runtime_error);
  for (const char* left : {"BAD01.MDB", "BAD01.MDB-journal"}) EXPECT_FALSE(exists(dir_ / left)) << left;
}

// A script's text is stored as it is written, and it may not end the
// transaction it runs in. (kavelo-db's tests check that a failing script
// changes nothing and names its statement.)
TEST_F(CompanyDatabase, ScriptKeepsItsTextAndCannotEndItsTransaction) {
  run_sql_script(path_, "INSERT INTO F_EMP (CODEMP, NOMEMP) VALUES ('DEMO', 'Peñalara');");
  Sqlite db(path_);
  EXPECT_EQ(db.rows("SELECT NOMEMP FROM F_EMP"), (Rows{{"Peñalara"}}));
  for (const char* script : {"INSERT INTO F_AUT (CODAUT) VALUES (1); COMMIT; INSERT INTO F_AUT (CODAUT) VALUES (1);",
                             "INSERT INTO F_AUT (CODAUT) VALUES (1); ROLLBACK;", "BEGIN; INSERT INTO F_AUT VALUES (1, 1, 0);"}) {
    EXPECT_THROW(run_sql_script(path_, script), std::runtime_error) << script;
    EXPECT_EQ(db.rows("SELECT count(*) FROM F_AUT"), (Rows{{"0"}})) << script;
  }
}

}  // namespace
}  // namespace kavelo::db

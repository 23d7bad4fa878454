// The Jet SQL translator over any text: it refuses or gives SQL that SQLite
// either prepares or refuses, never a second statement, and every literal
// becomes a parameter. The translation kept by the text's shape (made by
// this text or by an earlier one of the same shape) is the one made anew. A
// condition of equalities binds what its columns with their values bind.
#include <sqlite3.h>

#include <cstdlib>
#include <string>

#include "db/jet_sql.h"
#include "platform/failure.h"

namespace {

sqlite3* schema_database() {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_exec(db,
               "CREATE TABLE F_MAE (CODMAE TEXT(12) PRIMARY KEY, NOMMAE TEXT(100), NATMAE DOUBLE);"
               "CREATE TABLE F_APU (DIAAPU SHORT, FECAPU DATETIME, ASIAPU LONG, ORDAPU LONG, \"D-HAPU\" TEXT(1));",
               nullptr, nullptr, nullptr);
  return db;
}

void check(sqlite3* db, const kavelo::db::TranslatedSql& sql) {
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, sql.sql.c_str(), static_cast<int>(sql.sql.size()), &statement, &tail) == SQLITE_OK &&
      statement) {
    if (sqlite3_bind_parameter_count(statement) != static_cast<int>(sql.params.size())) std::abort();
    if (tail && *tail) std::abort();  // a second statement slipped through
    if (!sqlite3_stmt_readonly(statement)) std::abort();
  }
  sqlite3_finalize(statement);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static sqlite3* db = schema_database();
  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    auto select = kavelo::db::translate_select(text);
    check(db, select.query);
    auto again = kavelo::db::translate_select_afresh(text);
    if (again.query.sql != select.query.sql || again.query.params != select.query.params ||
        again.table != select.table || again.where.sql != select.where.sql ||
        again.where.params != select.where.params || again.order_by != select.order_by)
      std::abort();
  } catch (const kavelo::Failure&) {
  }
  try {
    auto condition = kavelo::db::translate_condition(text);
    check(db, {"SELECT * FROM F_APU WHERE (" + condition.sql + ")", condition.params});
    auto again = kavelo::db::translate_condition_afresh(text);
    if (again.sql != condition.sql || again.params != condition.params) std::abort();
    if (auto terms = kavelo::db::equalities_of(text)) {
      auto direct = kavelo::db::condition_of(*terms);
      if (direct.params != condition.params) std::abort();
      check(db, {"SELECT * FROM F_APU WHERE (" + direct.sql + ")", direct.params});
    }
  } catch (const kavelo::Failure&) {
  }
  return 0;
}

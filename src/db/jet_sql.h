#pragma once
// The subset of Jet SQL that the importers write, translated to the SQL of
// the store (SQLite, or PostgreSQL through ODBC). Literals become bound
// parameters, so texts that differ only in their values share one prepared
// statement.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"

namespace kavelo::db {

// The SQL of a store. The two differ in how names are written (PostgreSQL
// keeps them in lower case), in where Null sorts, and in the column that
// identifies a row.
enum class Dialect { Sqlite, Postgres };

struct TranslatedSql {
  std::string sql;
  std::vector<Value> params;
};

struct TranslatedSelect {
  // The whole query.
  TranslatedSql query;
  // Set when the query reads whole rows of one table ("SELECT * FROM t
  // [WHERE ...] [ORDER BY ...]"), whose rows can then be changed.
  std::optional<std::string> table;
  TranslatedSql where;   // empty sql when there is no WHERE
  std::string order_by;  // empty when there is no ORDER BY
};

// A refused text is a Failure (a syntax error naming the text).
TranslatedSelect translate_select(std::string_view jet_sql, Dialect dialect = Dialect::Sqlite);
TranslatedSql translate_condition(std::string_view jet_condition, Dialect dialect = Dialect::Sqlite);
// The same, translated anew without the translations kept by shape: what
// the kept ones must always give.
TranslatedSelect translate_select_afresh(std::string_view jet_sql, Dialect dialect = Dialect::Sqlite);
TranslatedSql translate_condition_afresh(std::string_view jet_condition, Dialect dialect = Dialect::Sqlite);

std::string quote_identifier(std::string_view name, Dialect dialect = Dialect::Sqlite);
// The column by which a row is found again: SQLite's rowid, or the identity
// column every table has on the server.
std::string row_id_column(Dialect dialect);

// A condition made only of Column = literal terms joined by AND: each column
// (upper-cased, without its table) with its value. nullopt for anything else.
struct Equality {
  std::string column;
  Value value;
};
std::optional<std::vector<Equality>> equalities_of(std::string_view jet_condition);
// The condition that each column equals its value, joined by AND, as
// translate_condition makes it of "COL1=v1 AND COL2=v2" with those values,
// without a text to write and read back. No terms is a syntax error.
TranslatedSql condition_of(const std::vector<Equality>& terms, Dialect dialect = Dialect::Sqlite);

}  // namespace kavelo::db

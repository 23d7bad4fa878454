#include "schema_check_server.h"

#include <libpq-fe.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "db/pg/pg_connection.h"
#include "db/pg/pg_schema.h"
#include "db/pg/pg_values.h"
#include "platform/failure.h"
#include "platform/text.h"
#include "schema_facts.h"

namespace kavelo::check {
namespace {

using db::ColumnKind;

// A column as information_schema.columns describes it.
struct ServerColumn {
  std::string table;
  std::string name;
  std::string data_type;
  std::string domain;
  int length = 0;
  int precision = 0;
  int scale = 0;
  bool nullable = true;
  std::string default_expression;
  bool identity = false;
  bool generated = false;
};

// The checklist's texts show values as the Spanish conventions write them.
const RegionalSettings kRegional = RegionalSettings::spanish();

// The type as a person writes it in the server's DDL.
std::string shown_type(const ServerColumn& c, ColumnKind kind) {
  if (kind == ColumnKind::Byte || (kind == ColumnKind::Bit && !c.domain.empty())) return c.domain;
  if (c.data_type == "character varying") return c.length ? fmt::format("varchar({})", c.length) : "varchar";
  if (c.data_type == "character") return fmt::format("char({})", c.length);
  if (c.data_type == "numeric" && c.precision) return fmt::format("numeric({},{})", c.precision, c.scale);
  if (c.data_type == "timestamp without time zone") return "timestamp";
  return c.data_type;
}

// A default the server writes as NULL::type is no default.
bool has_default(const std::string& expression) {
  return !expression.empty() && !upper(expression).starts_with("NULL");
}

class ServerReader final : public FactReader {
 public:
  explicit ServerReader(const std::string& connection_string) : connection_(connection_string) {}

  const Schema& schema() override {
    if (!schema_) schema_ = read_schema();
    return *schema_;
  }

  std::vector<std::vector<db::Value>> rows(const std::string& sql, const std::vector<db::Value>& parameters,
                                           const std::vector<ColumnKind>& kinds) override {
    // The "?" of the checks are the server's $1, $2...
    std::string server_sql;
    int next = 0;
    for (char c : sql) server_sql += c == '?' ? "$" + std::to_string(++next) : std::string(1, c);
    db::pg::Params params;
    for (const db::Value& value : parameters) params.push_back(db::pg::server_text(value));
    try {
      auto result = connection_.query(server_sql, params);
      std::vector<std::vector<db::Value>> out;
      for (int r = 0; r < PQntuples(result.get()); ++r) {
        auto& row = out.emplace_back();
        for (std::size_t i = 0; i < kinds.size(); ++i) {
          const int c = static_cast<int>(i);
          if (PQgetisnull(result.get(), r, c)) {
            row.emplace_back();
            continue;
          }
          ColumnKind kind = kinds[i] == ColumnKind::Untyped ? ColumnKind::Text : kinds[i];
          db::Value value = db::pg::value_of(PQgetvalue(result.get(), r, c), kind);
          // A count or a sum the check reads as a number.
          if (kinds[i] == ColumnKind::Untyped) value = db::Value(db::to_double(value, kRegional));
          row.push_back(std::move(value));
        }
      }
      return out;
    } catch (const Failure& f) {
      throw ReadError(f.description());
    }
  }

  std::string key_equals(const Column& column) const override {
    const std::string name = "\"" + column.name + "\"";
    return column.folded_key ? db::pg::folded_key(name) + " = " + db::pg::folded_key("?") : name + " = ?";
  }

  std::string type_name(const Column& reference) const override {
    return db::pg::server_type_name(reference.kind, reference.text_size);
  }

 private:
  Schema read_schema() {
    Schema schema;
    std::map<std::string, std::size_t> at;
    for (const auto& row : rows("SELECT table_name, table_type FROM information_schema.tables "
                                "WHERE table_schema = current_schema() ORDER BY table_name",
                                {}, {ColumnKind::Text, ColumnKind::Text})) {
      Table table;
      table.name = db::to_text(row[0], kRegional);
      table.view = db::to_text(row[1], kRegional) == "VIEW";
      at.emplace(table.name, schema.tables.size());
      schema.tables.push_back(std::move(table));
    }
    // Rules are kept only by writing through a temporary table.
    for (const auto& row : rows("SELECT DISTINCT c.relname FROM pg_rewrite w JOIN pg_class c ON c.oid = w.ev_class "
                                "WHERE c.relnamespace = current_schema()::regnamespace AND w.rulename <> '_RETURN' "
                                "AND c.relkind = 'r' AND NOT has_database_privilege(current_database(), 'TEMP')",
                                {}, {ColumnKind::Text}))
      if (auto table = at.find(db::to_text(row[0], kRegional)); table != at.end())
        schema.tables[table->second].faults.push_back(
            "tiene reglas, que kavelo solo cumple escribiendo sus filas a través de una tabla temporal, y el usuario "
            "del servidor no puede crearlas (permiso TEMP de la base de datos)");

    const std::vector<ColumnKind> kinds = {ColumnKind::Text, ColumnKind::Text, ColumnKind::Text, ColumnKind::Text,
                                           ColumnKind::Long, ColumnKind::Long, ColumnKind::Long, ColumnKind::Text,
                                           ColumnKind::Text, ColumnKind::Text, ColumnKind::Text, ColumnKind::Text,
                                           ColumnKind::Text};
    for (const auto& row : rows("SELECT table_name, column_name, data_type, coalesce(domain_name, ''), "
                                "coalesce(character_maximum_length, 0), "
                                "CASE WHEN data_type = 'numeric' THEN coalesce(numeric_precision, 0) ELSE 0 END, "
                                "CASE WHEN data_type = 'numeric' THEN coalesce(numeric_scale, 0) ELSE 0 END, "
                                "is_nullable, coalesce(column_default, ''), is_identity, is_generated, udt_name, "
                                "coalesce((SELECT co.collname FROM pg_collation co WHERE co.collname = "
                                "collation_name AND NOT co.collisdeterministic LIMIT 1), '') "
                                "FROM information_schema.columns WHERE table_schema = current_schema() "
                                "ORDER BY table_name, ordinal_position",
                                {}, kinds)) {
      ServerColumn c;
      c.table = db::to_text(row[0], kRegional);
      c.name = db::to_text(row[1], kRegional);
      c.data_type = db::to_text(row[2], kRegional);
      c.domain = db::to_text(row[3], kRegional);
      c.length = db::to_int32(row[4], kRegional);
      c.precision = db::to_int32(row[5], kRegional);
      c.scale = db::to_int32(row[6], kRegional);
      c.nullable = db::to_text(row[7], kRegional) != "NO";
      c.default_expression = db::to_text(row[8], kRegional);
      c.identity = db::to_text(row[9], kRegional) == "YES";
      c.generated = db::to_text(row[10], kRegional) == "ALWAYS";
      auto table = at.find(c.table);
      if (table == at.end()) continue;
      Column column;
      column.name = c.name;
      column.kind = db::pg::kind_of_server_type(db::to_text(row[11], kRegional), c.domain);
      column.type = shown_type(c, column.kind);
      if (column.kind == ColumnKind::Text) column.text_size = c.length;
      column.precision = c.precision;
      column.scale = c.scale;
      column.required = !c.nullable;
      column.fills_itself = has_default(c.default_expression) || c.identity || c.generated;
      column.merging_collation = db::to_text(row[12], kRegional);
      schema.tables[table->second].columns.push_back(std::move(column));
    }
    // The primary key and the unique indexes, not partial, over columns or
    // the folded form of a column (as kavelo-db create makes a key without
    // case); an index over anything else is no key kavelo finds rows by.
    // A column held in its folded form comes with a "~" before its name.
    for (const auto& row : rows("SELECT t.relname, array_to_string(array(SELECT CASE WHEN i.indkey[k] = 0 "
                                "THEN '~' ELSE '' END || coalesce(a.attname, '') "
                                "FROM generate_series(0, i.indnkeyatts - 1) AS k LEFT JOIN pg_attribute a ON "
                                "a.attrelid = i.indrelid AND a.attnum > 0 AND NOT a.attisdropped AND (a.attnum = "
                                "i.indkey[k] OR (i.indkey[k] = 0 AND pg_get_indexdef(i.indexrelid, k + 1, false) IN "
                                "(format('lower(((%s)::text COLLATE \"und-x-icu\"))', quote_ident(a.attname)), "
                                "format('lower((%s COLLATE \"und-x-icu\"))', quote_ident(a.attname))))) "
                                "ORDER BY k), ' ') "
                                "FROM pg_index i JOIN pg_class t ON t.oid = i.indrelid "
                                "WHERE t.relnamespace = current_schema()::regnamespace AND i.indisunique "
                                "AND i.indpred IS NULL",
                                {}, {ColumnKind::Text, ColumnKind::Text})) {
      auto table = at.find(db::to_text(row[0], kRegional));
      if (table == at.end()) continue;
      std::vector<std::string> columns;
      std::string names = db::to_text(row[1], kRegional);
      bool plain = true;
      std::vector<std::string> folded;
      for (std::size_t start = 0; start <= names.size();) {
        std::size_t end = names.find(' ', start);
        if (end == std::string::npos) end = names.size();
        std::string name = names.substr(start, end - start);
        if (name.starts_with('~')) folded.push_back(name = name.substr(1));
        plain = plain && !name.empty();
        columns.push_back(std::move(name));
        start = end + 1;
      }
      if (!plain) continue;
      Table& t = schema.tables[table->second];
      for (Column& column : t.columns)
        if (std::find(folded.begin(), folded.end(), column.name) != folded.end()) column.folded_key = true;
      t.unique_keys.push_back(std::move(columns));
    }
    return schema;
  }

  db::pg::Connection connection_;
  std::optional<Schema> schema_;
};

}  // namespace

std::vector<CheckResult> check_server_database(const std::string& connection_string,
                                               const std::optional<std::string>& company) {
  std::unique_ptr<ServerReader> reader;
  try {
    reader = std::make_unique<ServerReader>(connection_string);
  } catch (const Failure& f) {
    throw std::runtime_error("No se puede abrir la base de datos del servidor: " + f.description());
  }
  try {
    reader->schema();
  } catch (const std::runtime_error& e) {
    // A read that failed, or a value the catalogue should never hold.
    throw std::runtime_error(
        fmt::format("No se pueden leer las tablas de la base de datos del servidor: {}", e.what()));
  }
  return run_checks(*reader, company);
}

}  // namespace kavelo::check

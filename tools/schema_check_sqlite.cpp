// The database check's reader of an SQLite file, which is only read, and the
// check of one.
#include "schema_check.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "db/column_type.h"
#include "db/company_database.h"
#include "db/value.h"
#include "platform/text.h"
#include "schema_facts.h"

namespace kavelo::check {
namespace {

using db::ColumnKind;

// The checklist's texts show values as the Spanish conventions write them.
const RegionalSettings kRegional = RegionalSettings::spanish();

class Sqlite {
 public:
  Sqlite(const std::string& path, int flags) {
    int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string reason = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close(db_);
      db_ = nullptr;
      throw ReadError(reason);
    }
    // kavelo may be writing to it for a moment.
    sqlite3_busy_timeout(db_, 5000);
  }
  Sqlite(const Sqlite&) = delete;
  Sqlite& operator=(const Sqlite&) = delete;
  ~Sqlite() { sqlite3_close(db_); }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) throw ReadError(sqlite3_errmsg(db));
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(statement_); }

  bool step() {
    int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw ReadError(sqlite3_errmsg(db_));
  }
  sqlite3_stmt* get() const { return statement_; }
  std::string text(int index) const {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(statement_, index));
    return p ? p : "";
  }
  bool is_null(int index) const { return sqlite3_column_type(statement_, index) == SQLITE_NULL; }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

void read_columns(sqlite3* db, Table& table) {
  Statement info(db, "SELECT name, type, \"notnull\", dflt_value, pk FROM pragma_table_info(?)");
  sqlite3_bind_text(info.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<int> key_positions;
  while (info.step()) {
    Column c;
    c.name = info.text(0);
    c.type = info.text(1);
    c.kind = db::column_kind(c.type, &c.text_size);
    c.required = sqlite3_column_int(info.get(), 2) != 0;
    c.fills_itself = !info.is_null(3);
    key_positions.push_back(sqlite3_column_int(info.get(), 4));
    table.columns.push_back(std::move(c));
  }
  if (table.view) return;
  // The primary key and the unique indexes over columns, not partial.
  Statement indexes(db, "SELECT name, origin FROM pragma_index_list(?) WHERE \"unique\" AND NOT partial");
  sqlite3_bind_text(indexes.get(), 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
  bool primary_indexed = false;
  std::vector<std::string> names;
  while (indexes.step()) names.push_back(indexes.text(0)), primary_indexed |= indexes.text(1) == "pk";
  for (const std::string& index : names) {
    Statement parts(db, "SELECT name FROM pragma_index_xinfo(?) WHERE key");
    sqlite3_bind_text(parts.get(), 1, index.c_str(), -1, SQLITE_TRANSIENT);
    std::vector<std::string> columns;
    bool plain = true;
    while (parts.step()) {
      if (parts.is_null(0)) plain = false;
      columns.push_back(parts.text(0));
    }
    if (plain) table.unique_keys.push_back(columns);
  }
  // An INTEGER PRIMARY KEY is the rowid itself, without an index of its own;
  // it fills itself in.
  std::vector<std::string> primary;
  for (std::size_t i = 0; i < table.columns.size(); ++i)
    if (key_positions[i] > 0) primary.push_back(table.columns[i].name);
  if (!primary.empty() && !primary_indexed) {
    table.unique_keys.push_back(primary);
    for (std::size_t i = 0; i < table.columns.size(); ++i)
      if (key_positions[i] == 1 && primary.size() == 1 && upper(table.columns[i].type) == "INTEGER")
        table.columns[i].fills_itself = true;
  }
}

// The tables and views of the database. A failure to list them means the file
// is no database that can be read; a table whose columns cannot be read is
// noted on the table.
Schema read_schema(sqlite3* db) {
  Schema schema;
  Statement list(db,
                 "SELECT name, type FROM sqlite_schema WHERE type IN ('table', 'view') "
                 "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY rowid");
  while (list.step()) {
    Table table;
    table.name = list.text(0);
    table.view = list.text(1) == "view";
    schema.tables.push_back(std::move(table));
  }
  for (Table& table : schema.tables) {
    try {
      read_columns(db, table);
    } catch (const ReadError& e) {
      table.unreadable = e.what();
    }
  }
  return schema;
}

class SqliteReader final : public FactReader {
 public:
  // Only reads: checking must not change the database, nor wait for writing.
  explicit SqliteReader(const std::string& path) {
    auto cannot_open = [&](const std::string& reason) {
      return std::runtime_error(fmt::format("No se puede abrir la base de datos '{}': {}", path, reason));
    };
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw cannot_open(ec ? ec.message() : "no existe el archivo");
    if (std::filesystem::is_directory(path, ec)) throw cannot_open("es una carpeta");
    try {
      db_ = std::make_unique<Sqlite>(path, SQLITE_OPEN_READONLY);
      schema_ = read_schema(db_->get());
    } catch (const ReadError& e) {
      int code = db_ ? sqlite3_errcode(db_->get()) & 0xff : SQLITE_CANTOPEN;
      if (code == SQLITE_NOTADB) throw cannot_open("no es una base de datos SQLite");
      if (code == SQLITE_BUSY) throw cannot_open("otro programa la tiene bloqueada");
      if (code == SQLITE_CANTOPEN || code == SQLITE_PERM) throw cannot_open("no se puede leer el archivo");
      throw cannot_open(e.what());
    }
  }

  const Schema& schema() override { return schema_; }

  std::vector<std::vector<db::Value>> rows(const std::string& sql, const std::vector<db::Value>& parameters,
                                           const std::vector<ColumnKind>& kinds) override {
    Statement s(db_->get(), sql);
    for (std::size_t i = 0; i < parameters.size(); ++i) db::bind_value(s.get(), static_cast<int>(i + 1), parameters[i]);
    std::vector<std::vector<db::Value>> out;
    while (s.step()) {
      auto& row = out.emplace_back();
      for (std::size_t i = 0; i < kinds.size(); ++i)
        row.push_back(db::read_value(s.get(), static_cast<int>(i), kinds[i], kRegional));
    }
    return out;
  }

  std::string type_name(const Column& reference) const override { return reference.type; }

 private:
  std::unique_ptr<Sqlite> db_;
  Schema schema_;
};

}  // namespace

Schema reference_schema() {
  Sqlite db(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (sqlite3_exec(db.get(), db::company_schema_sql(), nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error(fmt::format("El esquema de referencia no se puede crear: {}", sqlite3_errmsg(db.get())));
  return read_schema(db.get());
}

std::vector<CheckResult> check_company_database(const std::string& path, const std::optional<std::string>& company) {
  SqliteReader reader(path);
  return run_checks(reader, company);
}

}  // namespace kavelo::check

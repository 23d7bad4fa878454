// How long the store takes to write a customer file, against a bare COPY of
// the same rows into a table of the same columns and key, in the same run.
//
//   kavelo_pg_write_measure CONNECTION_STRING [ROWS] [ROUNDS]
//
// CONNECTION_STRING names the server (as a link file does) and a database in
// which a scratch database may be created. Each round writes ROWS rows of 52
// texts with a key without case: by COPY; through PgStore::write in syncs of
// 1,000 rows, all new; the same rows again (nothing to change); and once more
// with one column of each row changed. The best time of the rounds is shown.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "db/pg/pg_connection.h"
#include "db/pg/pg_store.h"
#include "db/pg/pg_values.h"

namespace {

using namespace kavelo;
using namespace kavelo::db;
using Clock = std::chrono::steady_clock;

constexpr int kColumns = 52;
constexpr int kSync = 1000;

std::string with_database(const std::string& base, const std::string& name) {
  std::string text = base;
  auto at = text.find("Database=");
  if (at == std::string::npos) return text + ";Database=" + name + ";";
  auto end = text.find(';', at);
  return text.replace(at, end == std::string::npos ? std::string::npos : end - at, "Database=" + name);
}

std::string table_sql(const char* name) {
  std::string sql = fmt::format("CREATE TABLE {} (c01 varchar(10) COLLATE kavelo_nocase NOT NULL PRIMARY KEY", name);
  for (int i = 2; i <= kColumns; ++i) sql += fmt::format(", c{:02} varchar(60)", i);
  return sql + ")";
}

// Customer-like texts: a code, then names, addresses, numbers of varied length.
std::vector<Row> make_rows(int count, int variant) {
  std::vector<Row> rows;
  rows.reserve(static_cast<std::size_t>(count));
  for (int r = 0; r < count; ++r) {
    Row row;
    row.emplace_back(fmt::format("C{:07}", r));
    for (int c = 2; c <= kColumns; ++c) {
      std::string text = fmt::format("Valor {} de la fila {}", c, r);
      if (c % 3 == 0) text += " con algo más de texto, Ñandú";
      if (c == 2 && variant) text += fmt::format(" v{}", variant);
      row.emplace_back(std::move(text));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double copy_rows(pg::Connection& connection, const std::vector<Row>& rows) {
  auto start = Clock::now();
  std::string data;
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i) data += '\t';
      pg::append_copy_field(data, row[i]);
    }
    data += '\n';
  }
  connection.execute("BEGIN");
  connection.copy_in("COPY measure_copy FROM STDIN", data);
  connection.execute("COMMIT");
  return seconds_since(start);
}

double store_rows(pg::PgStore& store, const std::vector<Row>& rows, WriteCounts& counts) {
  auto start = Clock::now();
  const Table& table = store.table("MEASURE_CLI");
  const Key key = table.key({"C01"});
  store.begin(std::chrono::seconds(30));
  int n = 0;
  for (const Row& row : rows) {
    store.write(table, key, RowValues(row.begin(), row.end()), counts);
    if (++n % kSync == 0) store.sync();
  }
  store.commit();
  return seconds_since(start);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Uso: %s CADENA_DE_CONEXIÓN [FILAS] [RONDAS]\n", argv[0]);
    return 2;
  }
  const std::string admin = argv[1];
  const int count = argc > 2 ? std::stoi(argv[2]) : 20000;
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 3;
  const std::string name = fmt::format("kavelo_measure_{}", getpid());
  int status = 0;
  try {
    pg::Connection(admin).execute("CREATE DATABASE " + name);
    const std::string connection_string = with_database(admin, name);
    {
      pg::Connection setup(connection_string);
      setup.execute("CREATE COLLATION kavelo_nocase (provider = icu, locale = 'und-u-ks-level2', "
                    "deterministic = false)");
      setup.execute(table_sql("measure_cli"));
      setup.execute(table_sql("measure_copy"));
    }
    const std::vector<Row> rows = make_rows(count, 0), changed = make_rows(count, 1);
    double best_copy = 1e9, best_new = 1e9, best_again = 1e9, best_changed = 1e9;
    for (int round = 0; round < rounds; ++round) {
      pg::Connection connection(connection_string);
      connection.execute("TRUNCATE measure_cli, measure_copy");
      // A store per round, as a run opens one per file.
      pg::PgStore store(connection_string, RegionalSettings::spanish());
      WriteCounts fresh, same, other;
      best_copy = std::min(best_copy, copy_rows(connection, rows));
      best_new = std::min(best_new, store_rows(store, rows, fresh));
      best_again = std::min(best_again, store_rows(store, rows, same));
      best_changed = std::min(best_changed, store_rows(store, changed, other));
      if (fresh.added != count || same.changed != count || other.changed != count)
        throw std::runtime_error(fmt::format("cuentas inesperadas: {} nuevas, {} iguales, {} cambiadas", fresh.added,
                                             same.changed, other.changed));
    }
    fmt::print("{} filas de {} textos, sincronizando cada {}; la mejor de {} rondas\n", count, kColumns, kSync,
               rounds);
    fmt::print("  COPY a una tabla igual         {:6.3f} s\n", best_copy);
    fmt::print("  PgStore::write, todas nuevas   {:6.3f} s  ({:.2f} veces COPY)\n", best_new, best_new / best_copy);
    fmt::print("  PgStore::write, otra vez       {:6.3f} s  ({:.2f} veces COPY)\n", best_again,
               best_again / best_copy);
    fmt::print("  PgStore::write, una cambiada   {:6.3f} s  ({:.2f} veces COPY)\n", best_changed,
               best_changed / best_copy);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    status = 1;
  }
  try {
    pg::Connection(admin).execute("DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
  } catch (const std::exception&) {
    // Dropped with the cluster, if not now.
  }
  return status;
}

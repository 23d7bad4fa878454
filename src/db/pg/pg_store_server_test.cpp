// The store against a real server: the reference company schema made by
// kavelo-db's helper, plus a few tables of the tests' own.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>

#include "db/pg/pg_admin.h"
#include "db/pg/pg_connection.h"
#include "db/pg/pg_store.h"
#include "db/pg/test_server.h"

namespace kavelo::db::pg {
namespace {

using namespace std::chrono_literals;
using Rows = std::vector<std::vector<std::string>>;
using testing::ScratchDatabase;

Value amount(std::int64_t ten_thousandths) { return Value(Currency{ten_thousandths}); }
std::size_t col(const Table& t, std::string_view name) { return static_cast<std::size_t>(t.at(name)); }

// A row of `t` that writes these columns and no other.
RowValues row_of(const Table& t, std::initializer_list<std::pair<std::string_view, Value>> values) {
  RowValues row(t.columns.size());
  for (const auto& [name, value] : values) row[col(t, name)] = value;
  return row;
}
RowValues customer(const Table& t, const char* code, const char* name) {
  return row_of(t, {{"CODCLI", Value(code)}, {"NOMCLI", Value(name)}});
}

// The number and description of the Failure that `action` throws; {0, ""} if none.
template <class Action>
std::pair<int, std::string> failure(Action action) {
  try {
    action();
  } catch (const Failure& f) { return {f.number(), f.description()}; }
  return {0, ""};
}

class PgStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KAVELO_REQUIRE_PG_SERVER();
    database_.emplace();
    create_server_company(database_->connection_string());
    run_server_script(database_->connection_string(), R"(
      CREATE TABLE t_add (cod varchar(10) PRIMARY KEY, a numeric(19,4),
                          b numeric(19,4) DEFAULT 5, d double precision, n integer DEFAULT 1);
      CREATE UNIQUE INDEX t_add_nocase ON t_add (lower((cod)::text COLLATE "und-x-icu"));
      CREATE TABLE t_kinds (id integer PRIMARY KEY, flag jet_bit, yes boolean, tiny jet_byte,
                            x double precision, c numeric(19,4), t timestamp, "s""quoted" text);
      ALTER TABLE f_cli ADD CONSTRAINT nomcli_bueno CHECK (nomcli IS DISTINCT FROM 'MALO');
    )");
    store_.emplace(database_->connection_string(), RegionalSettings::spanish());
  }

  // One statement's rows, each as its columns' texts ("" for Null), read
  // past the store.
  Rows rows(const std::string& sql) {
    Connection connection(database_->connection_string());
    auto result = connection.query(sql);
    Rows out;
    for (int i = 0; i < PQntuples(result.get()); ++i) {
      auto& row = out.emplace_back();
      for (int j = 0; j < PQnfields(result.get()); ++j) row.emplace_back(PQgetvalue(result.get(), i, j));
    }
    return out;
  }

  std::optional<ScratchDatabase> database_;
  std::optional<PgStore> store_;
};

// What the catalog tells beyond what every write shows (a name's case, the
// kinds, the keys): a text's size, a default, a table that is not there. And
// values of every kind come back exactly.
TEST_F(PgStoreTest, ReadsTheCatalogAndValuesComeBackExactly) {
  const Table& cli = store_->table("f_cli");
  EXPECT_EQ(cli.columns[col(cli, "codcli")].text_size, 10);
  EXPECT_EQ(store_->table("F_DIA").columns[2].default_value, Value(std::int32_t{1}));
  EXPECT_EQ(failure([&] { (void)store_->table("F_NADA"); }).first, 3078);
  const Table& t = store_->table("T_KINDS");
  const Key key = t.key({"ID"});
  const std::vector<Row> cases = {
      {std::int32_t{1}, true, true, std::uint8_t{255}, 0.1, amount(INT64_MAX), DateTime{2024, 2, 29, 23, 59, 58},
       "tab\there\nnew line \\ back\rslash"},
      {std::int32_t{2}, false, false, std::uint8_t{0}, 1.7976931348623157e308, amount(INT64_MIN),
       DateTime{100, 1, 1, 0, 0, 0}, "ñandú € 'quoted' \"double\""},
      {std::int32_t{3}, Value(), Value(), Value(), 4.9e-324, amount(-1), Value(), ""},
      {std::int32_t{INT32_MIN}, Value(), Value(), Value(), -std::numeric_limits<double>::infinity(), Value(), Value(),
       "\\N \\."},
  };
  WriteCounts counts;
  store_->begin(1s);
  for (const Row& values : cases) store_->write(t, key, RowValues(values.begin(), values.end()), counts);
  store_->commit();
  EXPECT_EQ(counts.added, 4);
  for (const Row& values : cases) EXPECT_EQ(store_->find(t, key, {values[0]}), values);
  // The yes/no domain keeps -1 as a yes always was.
  EXPECT_EQ(rows("SELECT flag, yes FROM t_kinds WHERE id = 1"), (Rows{{"-1", "t"}}));
}

// Each group of writes is a transaction. A new key adds a row (the columns not
// written take their defaults); a known one changes only the columns written,
// and the same values, not written again, still count as a change; a key in
// another case, or written again before the rows are sent, is the same row,
// changed in the order written.
TEST_F(PgStoreTest, WriteAddsChangesOrLeavesRowsInTheOrderWritten) {
  const Table& t = store_->table("F_CLI");
  const Key key = t.key({"CODCLI"});
  const auto tax_code = [&](const char* code, const char* cif) {
    return row_of(t, {{"CODCLI", Value(code)}, {"CIFCLI", Value(cif)}});
  };
  struct Group {
    std::vector<RowValues> writes;
    long added, changed;
  };
  const Group groups[] = {
      {{customer(t, "C1", "Uno"), customer(t, "C2", "Dos")}, 2, 0},
      {{tax_code("C1", "B123"), customer(t, "C2", "Dos"), customer(t, "c3", "Tres"), customer(t, "C3", "Tres")}, 1, 3},
      {{customer(t, "K1", "A"), customer(t, "K2", "B"), customer(t, "k1", "C"), tax_code("K1", "X"),
        customer(t, "K1", "D")},
       2, 3},
  };
  Rows version;
  for (const Group& group : groups) {
    WriteCounts counts;
    store_->begin(1s);
    for (RowValues row : group.writes) store_->write(t, key, std::move(row), counts);
    store_->commit();
    EXPECT_EQ(counts.added, group.added);
    EXPECT_EQ(counts.changed, group.changed);
    if (version.empty()) version = rows("SELECT xmin FROM f_cli WHERE codcli = 'C2'");
  }
  EXPECT_EQ(rows("SELECT codcli, nomcli, coalesce(cifcli, '-'), retcli FROM f_cli ORDER BY codcli"),
            (Rows{{"C1", "Uno", "B123", "0.0000"}, {"C2", "Dos", "-", "0.0000"}, {"C3", "Tres", "-", "0.0000"},
                  {"K1", "D", "X", "0.0000"}, {"K2", "B", "-", "0.0000"}}));
  EXPECT_EQ(rows("SELECT xmin FROM f_cli WHERE codcli = 'C2'"), version);
  EXPECT_TRUE(store_->find(t, key, {"k1"}));
}

// A refusal surfaces at the sync that sends it. Without a savepoint of the
// caller's the sync undoes its own writes; inside one the caller rolls back to
// it. Either way the transaction goes on.
TEST_F(PgStoreTest, ARefusedSyncUndoesItsWritesAndTheTransactionGoesOn) {
  const Table& t = store_->table("F_CLI");
  const Table& apu = store_->table("F_APU");
  const Key key = t.key({"CODCLI"});
  WriteCounts counts;
  const auto write = [&](const char* code) {
    store_->write(t, key, customer(t, code, *code == 'B' ? "MALO" : "Bien"), counts);
  };
  store_->begin(1s);
  write("G1");
  store_->sync();
  write("G2");
  store_->write(apu, apu.key({"DIAAPU", "FECAPU", "ASIAPU", "ORDAPU"}),
                row_of(apu, {{"DIAAPU", Value(std::int16_t{1})}, {"FECAPU", Value()},
                             {"ASIAPU", Value(std::int32_t{1})}, {"ORDAPU", Value(std::int32_t{1})}}),
                counts);
  auto [number, description] = failure([&] { store_->sync(); });
  EXPECT_EQ(number, 3314);
  EXPECT_NE(description.find("'FECAPU'"), std::string::npos) << description;
  EXPECT_FALSE(store_->find(t, key, {"G2"}));

  store_->savepoint("grupo");
  for (const char* code : {"A", "B", "C"}) write(code);
  std::tie(number, description) = failure([&] { store_->release("grupo"); });
  EXPECT_EQ(number, 3317) << "the rule should refuse B";
  EXPECT_NE(description.find("nomcli_bueno"), std::string::npos) << description;
  EXPECT_EQ(counts.added, 1);
  store_->roll_back_to("grupo");
  // Again one by one, as the import does: the good ones stay.
  for (const char* code : {"A", "B", "C"}) {
    store_->savepoint("registro");
    write(code);
    if (failure([&] { store_->release("registro"); }).first != 0) store_->roll_back_to("registro");
  }
  store_->commit();
  EXPECT_EQ(counts.added, 3);
  EXPECT_EQ(rows("SELECT codcli FROM f_cli ORDER BY 1"), (Rows{{"A"}, {"C"}, {"G1"}}));
}

// A failed read ends the transaction, and its commit saves nothing; a refused
// lock leaves it usable; a held one outlives its commit, which saves nothing
// either; a dropped connection loses it, and the store knows.
TEST_F(PgStoreTest, WhatEndsATransactionAndWhatItsCommitSaves) {
  const Table& cli = store_->table("F_CLI");
  const Table& kinds = store_->table("T_KINDS");
  const Key code = cli.key({"CODCLI"});
  WriteCounts counts;
  store_->begin(1s);
  store_->write(cli, code, customer(cli, "A", "Uno"), counts);
  // The server has no max() of booleans.
  EXPECT_THROW(store_->largest(kinds, kinds.at("YES"), {}, Unsent::sent_first), Failure);
  EXPECT_THROW(store_->commit(), Failure);
  store_->roll_back();
  EXPECT_EQ(rows("SELECT count(*) FROM f_cli"), (Rows{{"0"}}));

  Connection other(database_->connection_string());
  other.execute("BEGIN; LOCK TABLE f_cli IN EXCLUSIVE MODE");
  store_->begin(1s);
  auto [number, description] = failure([&] { store_->lock({"F_PRO", "f_cli"}, 200ms); });
  EXPECT_EQ(number, 3211);
  EXPECT_NE(description.find("'F_CLI'"), std::string::npos) << description;
  EXPECT_TRUE(store_->in_transaction());
  EXPECT_FALSE(store_->find(cli, code, {"X"}));
  store_->roll_back();
  other.execute("COMMIT");

  store_->hold();
  store_->begin(1s);
  EXPECT_NO_THROW(store_->lock({"F_CLI"}, 0ms));
  store_->write(cli, code, customer(cli, "A", "Uno"), counts);
  store_->commit();
  EXPECT_TRUE(store_->in_transaction());
  EXPECT_TRUE(store_->find(cli, code, {"A"}));
  store_->roll_back();
  EXPECT_EQ(rows("SELECT count(*) FROM f_cli"), (Rows{{"0"}}));

  store_->begin(1s);
  store_->write(cli, code, customer(cli, "A", "Uno"), counts);
  store_->sync();
  other.execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'kavelo' "
                "AND datname = '" + database_->name() + "' AND pid <> pg_backend_pid()");
  store_->write(cli, code, customer(cli, "B", "Dos"), counts);
  description = failure([&] { store_->commit(); }).second;
  EXPECT_NE(description.find("se ha perdido la conexión"), std::string::npos) << description;
  EXPECT_TRUE(store_->lost());
  EXPECT_FALSE(store_->usable());
  EXPECT_FALSE(store_->in_transaction());
  EXPECT_EQ(rows("SELECT count(*) FROM f_cli"), (Rows{{"0"}}));
}

TEST_F(PgStoreTest, AmountsAddUpExactlyInTheOrderWritten) {
  const Table& t = store_->table("T_ADD");
  const Key key = t.key({"COD"});
  const int a = t.at("A"), b = t.at("B"), d = t.at("D"), n = t.at("N");
  run_server_script(database_->connection_string(), "INSERT INTO t_add (cod, a, b) VALUES ('OLD', NULL, NULL)");
  std::vector<Addition> additions;
  // 0.0001 ten thousand times is exactly 1.
  for (int i = 0; i < 10000; ++i) additions.push_back({{Value("new")}, {{a, amount(1)}}});
  additions.push_back({{Value("NEW")}, {{b, amount(25000)}}});
  // Null counts as 0 on both sides; b gets no amount and keeps its Null.
  additions.push_back({{Value("old")}, {{a, Value()}}});
  // Two codes that differ only in case are one row: the first one's.
  additions.push_back({{Value("Ñu")}, {{a, amount(10000)}}});
  additions.push_back({{Value("ñU")}, {{a, amount(20000)}}});
  // A row added with no amount: every column its default.
  additions.push_back({{Value("EMPTY")}, {}});
  // Doubles and whole numbers add one by one: (1e16 + 1) is 1e16 in a
  // double, so the 1 is lost; 1 (the default) + 1.5 rounds half to even.
  additions.push_back({{Value("X")}, {{d, Value(1e16)}, {d, Value(1.0)}, {n, Value(1.5)}, {a, amount(15)}}});
  additions.push_back({{Value("x")}, {{d, Value(-1e16)}, {n, Value()}}});
  store_->begin(1s);
  store_->add(t, key, std::move(additions));
  store_->add(t, key, {{{Value("NEW")}, {{b, amount(-5000)}}}});
  store_->commit();
  EXPECT_EQ(rows("SELECT cod, coalesce(a::text, 'null'), coalesce(b::text, 'null'), n FROM t_add "
                 "ORDER BY cod COLLATE \"C\""),
            (Rows{{"EMPTY", "null", "5.0000", "1"}, {"OLD", "0.0000", "null", "1"}, {"X", "0.0015", "5.0000", "2"},
                  {"new", "1.0000", "7.0000", "1"}, {"Ñu", "3.0000", "5.0000", "1"}}));
  auto x = store_->find(t, key, {"X"});
  ASSERT_TRUE(x);
  EXPECT_EQ((*x)[col(t, "D")], Value(0.0));
  EXPECT_EQ((*x)[col(t, "N")], Value(std::int32_t{2}));

  // Writes, changes and additions of one row keep their order.
  WriteCounts counts;
  store_->begin(1s);
  store_->write(t, key, row_of(t, {{"COD", Value("K")}, {"A", amount(10000)}}), counts);
  store_->add(t, key, {{{Value("K")}, {{a, amount(10000)}}}});
  store_->change(t, key, row_of(t, {{"COD", Value("K")}, {"A", amount(70000)}}));
  store_->add(t, key, {{{Value("K")}, {{a, amount(10000)}}}});
  for (const char* after : {"the writes", "a sync"}) {
    auto found = store_->find(t, key, {"K"});
    ASSERT_TRUE(found) << after;
    EXPECT_EQ((*found)[col(t, "A")], amount(80000)) << after;
    // The rows a sync sent are gone from the temporary table after it.
    store_->write(t, key, row_of(t, {{"COD", Value("L")}, {"A", amount(10000)}}), counts);
    store_->sync();
  }
  store_->roll_back();
}

// Each read sees the writes before it.
TEST_F(PgStoreTest, LargestDistinctAndScan) {
  const Table& t = store_->table("F_APU");
  const Key key = t.key({"DIAAPU", "FECAPU", "ASIAPU", "ORDAPU"});
  const int journal = t.at("DIAAPU"), date = t.at("FECAPU"), entry = t.at("ASIAPU");
  const DateTime day{2024, 3, 1};
  const Value one = Value(std::int16_t{1});
  WriteCounts counts;
  store_->begin(1s);
  for (auto [e, order] : {std::pair{1, 1}, {1, 2}, {3, 1}, {7, 1}})
    store_->write(t, key,
                  row_of(t, {{"DIAAPU", one}, {"FECAPU", Value(e == 7 ? DateTime{2024, 3, 2} : day)},
                             {"ASIAPU", Value(std::int32_t{e})}, {"ORDAPU", Value(std::int32_t{order})}}),
                  counts);
  EXPECT_EQ(store_->largest(t, entry, {{journal, one}}, Unsent::sent_first), Value(std::int32_t{7}));
  EXPECT_EQ(store_->largest(t, entry, {{journal, one}, {date, Value(day)}}, Unsent::sent_first), Value(std::int32_t{3}));
  EXPECT_EQ(store_->largest(t, entry, {{journal, Value(std::int16_t{2})}}, Unsent::sent_first), std::nullopt);
  EXPECT_EQ(store_->largest(t, t.at("FCRAPU"), {{journal, one}}, Unsent::sent_first), Value());
  // In no particular order.
  const auto entries = store_->distinct(t, entry, {{journal, one}, {date, Value(day)}}, Unsent::sent_first);
  EXPECT_TRUE((entries == Row{std::int32_t{1}, std::int32_t{3}} || entries == Row{std::int32_t{3}, std::int32_t{1}}));
  store_->commit();

  // A scan reads every row, in batches.
  run_server_script(database_->connection_string(),
                    "INSERT INTO f_mae (codmae, nommae) SELECT 'M' || g, 'Cuenta ' || g FROM generate_series(1, 12345) g");
  long rows_seen = 0, named = 0;
  store_->scan(store_->table("F_MAE"), [&](const Row& row) {
    ++rows_seen;
    if (row[1] == Value("Cuenta " + std::get<std::string>(row[0].storage()).substr(1))) ++named;
  });
  EXPECT_EQ(rows_seen, 12345);
  EXPECT_EQ(named, 12345);
}

}  // namespace
}  // namespace kavelo::db::pg

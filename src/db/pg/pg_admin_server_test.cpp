// kavelo-db's verbs on a database of the test server.
#include <gtest/gtest.h>

#include "db/pg/pg_admin.h"
#include "db/pg/test_server.h"

namespace kavelo::db::pg {
namespace {

using testing::ScratchDatabase;

TEST(ServerAdmin, CreatesTheCompanyOnceAndCountsItsRowsInOrder) {
  KAVELO_REQUIRE_PG_SERVER();
  ScratchDatabase database;
  create_server_company(database.connection_string());
  try {
    create_server_company(database.connection_string());
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("ya tiene la tabla F_EMP"), std::string::npos) << e.what();
  }
  run_server_script(database.connection_string(),
                    "INSERT INTO f_emp (codemp) VALUES ('E1'); INSERT INTO \"f_ivr\" (codivr) VALUES (1), (2)");
  EXPECT_EQ(count_server_rows(database.connection_string()),
            (std::vector<std::pair<std::string, std::int64_t>>{{"F_EMP", 1},
                                                               {"F_AUT", 0},
                                                               {"F_DIA", 0},
                                                               {"F_MAE", 0},
                                                               {"F_CLI", 0},
                                                               {"F_PRO", 0},
                                                               {"F_APU", 0},
                                                               {"F_SAL", 0},
                                                               {"F_IVR", 2},
                                                               {"F_IVS", 0}}));
}

TEST(ServerAdmin, ScriptRunsWhollyOrNotAtAll) {
  KAVELO_REQUIRE_PG_SERVER();
  ScratchDatabase database;
  create_server_company(database.connection_string());
  // A trigger whose body holds semicolons, then a statement that fails.
  const std::string script = R"(
    CREATE FUNCTION refuse_bad() RETURNS trigger AS $$
    BEGIN
      IF NEW.nomcli = 'MALO' THEN RAISE EXCEPTION 'cliente malo'; END IF;
      RETURN NEW;
    END; $$ LANGUAGE plpgsql;
    CREATE TRIGGER refuse_bad BEFORE INSERT ON f_cli FOR EACH ROW EXECUTE FUNCTION refuse_bad();
    INSERT INTO f_cli (codcli, nomcli) VALUES ('A', 'MALO');
  )";
  try {
    run_server_script(database.connection_string(), script);
    ADD_FAILURE();
  } catch (const Failure& f) {
    EXPECT_EQ(f.number(), 3000);
    EXPECT_NE(f.description().find("cliente malo"), std::string::npos) << f.description();
    EXPECT_NE(f.description().find("(sentencia 3: INSERT INTO f_cli"), std::string::npos) << f.description();
  }
  // Nothing of it stays: the function can be made again.
  run_server_script(database.connection_string(), script.substr(0, script.find("INSERT INTO")));
}

}  // namespace
}  // namespace kavelo::db::pg

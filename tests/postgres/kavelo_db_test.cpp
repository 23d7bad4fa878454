// kavelo-db on company databases of the throwaway PostgreSQL server of the
// tests (the cases of kavelo_db_cases.h; kavelo_db_test.cpp has the servers
// that cannot be reached).
#include "kavelo_db_cases.h"

namespace kavelo::test {
namespace {

INSTANTIATE_TEST_SUITE_P(Server, KaveloDb, ::testing::Values(Store::server), store_name);

}  // namespace
}  // namespace kavelo::test

# A throwaway PostgreSQL server, started before the tests that declare
# FIXTURES_REQUIRED postgres and stopped after; they find it in KAVELO_PG_DIR.
# Where it cannot run the setup leaves DIR/unavailable and they skip.
set(KAVELO_PG_CLUSTER_DIR ${CMAKE_BINARY_DIR}/pg-cluster)
add_test(NAME postgres_cluster_start
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/pg-cluster.sh fixture-start ${KAVELO_PG_CLUSTER_DIR})
set_tests_properties(postgres_cluster_start PROPERTIES FIXTURES_SETUP postgres TIMEOUT 180)
add_test(NAME postgres_cluster_stop
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/pg-cluster.sh stop ${KAVELO_PG_CLUSTER_DIR})
set_tests_properties(postgres_cluster_stop PROPERTIES FIXTURES_CLEANUP postgres TIMEOUT 120)

# kavelo-db on a server database, run as a process.
file(GLOB postgres_scenarios CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/postgres/*_test.cpp)
add_executable(kavelo_postgres_e2e_test ${postgres_scenarios})
target_link_libraries(kavelo_postgres_e2e_test PRIVATE kavelo_test_support GTest::gtest_main)
add_dependencies(kavelo_postgres_e2e_test kavelo kavelo-db)
gtest_discover_tests(kavelo_postgres_e2e_test DISCOVERY_TIMEOUT 60
  PROPERTIES FIXTURES_REQUIRED postgres
             ENVIRONMENT "KAVELO_BIN_DIR=${PROJECT_BINARY_DIR}"
             ENVIRONMENT_MODIFICATION "KAVELO_PG_DIR=set:${KAVELO_PG_CLUSTER_DIR}")

# The import scenarios once more, with the company database on the server.
# Four variables are more than gtest_discover_tests can carry (it splits at
# ";"): a test include file sets them on the tests it found.
set(server_suites MasterImport Files/EachMasterFile JournalImportTest RegisterImport Registers/EachRegister
                  Injection RunSummary Numbering/TwoRuns ServerWriters Groups StoresAgree Rewritten JournalResend
                  CommitBeat ServerWaits Tables/ExclusiveLock AllErrors)
list(TRANSFORM server_suites APPEND ".*")
string(JOIN ":" server_filter ${server_suites})
gtest_discover_tests(kavelo_e2e_test DISCOVERY_TIMEOUT 60
  TEST_PREFIX "postgres."
  TEST_FILTER "${server_filter}"
  TEST_LIST kavelo_postgres_scenarios
  PROPERTIES FIXTURES_REQUIRED postgres)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/postgres_scenarios_environment.cmake
  "if(kavelo_postgres_scenarios)\n"
  "  set_tests_properties(\${kavelo_postgres_scenarios} PROPERTIES ENVIRONMENT\n"
  "    \"KAVELO_BIN_DIR=${PROJECT_BINARY_DIR};KAVELO_SOURCE_DIR=${PROJECT_SOURCE_DIR};"
  "KAVELO_TEST_BACKEND=postgres;KAVELO_PG_DIR=${KAVELO_PG_CLUSTER_DIR}\")\n"
  "endif()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES
             ${CMAKE_CURRENT_BINARY_DIR}/postgres_scenarios_environment.cmake)

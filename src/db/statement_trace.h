#pragma once
// For tests: every statement run on an SQLite connection opened while a trace
// is on, with the rows it stepped through in full-table scans, and the order
// in which they ran.
#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kavelo::db::testing {

inline std::map<std::string, std::int64_t>* g_traced_statements = nullptr;
inline std::vector<std::string>* g_traced_runs = nullptr;

inline int on_traced_statement_end(unsigned, void*, void* statement, void*) {
  auto* s = static_cast<sqlite3_stmt*>(statement);
  if (g_traced_statements)
    (*g_traced_statements)[sqlite3_sql(s)] += sqlite3_stmt_status(s, SQLITE_STMTSTATUS_FULLSCAN_STEP, 1);
  if (g_traced_runs) g_traced_runs->push_back(sqlite3_sql(s));
  return 0;
}

inline int trace_connection(sqlite3* db, const char**, const sqlite3_api_routines*) {
  sqlite3_trace_v2(db, SQLITE_TRACE_PROFILE, on_traced_statement_end, nullptr);
  return SQLITE_OK;
}

class StatementTrace {
 public:
  StatementTrace() {
    g_traced_statements = &statements;
    g_traced_runs = &runs;
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(trace_connection));
  }
  ~StatementTrace() {
    sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(trace_connection));
    g_traced_statements = nullptr;
    g_traced_runs = nullptr;
  }
  StatementTrace(const StatementTrace&) = delete;
  StatementTrace& operator=(const StatementTrace&) = delete;

  // The SQL text of each statement, and the rows its full-table scans stepped through.
  std::map<std::string, std::int64_t> statements;
  // The SQL text of each run, in order.
  std::vector<std::string> runs;
};

}  // namespace kavelo::db::testing

// statement_times: how long SQLite spends in each statement a program runs.
// Preloaded into any program that uses the system's SQLite, it times every
// sqlite3_step and, when the program ends, writes one line per statement text:
// seconds, steps and the text, the slowest first.
//
//   LD_PRELOAD=build-bench/bench/libstatement_times.so STATEMENT_TIMES=times.tsv
//   build-bench/kavelo run/kavelo.conn
//
// (one command line).
//
// Without STATEMENT_TIMES the lines go to standard error. The time includes
// what the statement waits for: pages read, pages written when the cache is
// full, and for COMMIT the journal and the syncs.
#include <dlfcn.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

struct Totals {
  std::chrono::steady_clock::duration time{};
  long long steps = 0;
};

struct State {
  std::mutex mutex;
  std::unordered_map<std::string, Totals> by_text;
  // A prepared statement's entry; dropped when it is finalized, since SQLite
  // hands the same address to the next statement it prepares.
  std::unordered_map<sqlite3_stmt*, Totals*> by_statement;
};

// Never destroyed: the program may finalize statements after this library's
// own destructors have run.
State& state() {
  static State* s = new State;
  return *s;
}

template <class F>
F next_definition(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

Totals& totals_of(State& s, sqlite3_stmt* statement) {
  auto it = s.by_statement.find(statement);
  if (it != s.by_statement.end()) return *it->second;
  const char* text = sqlite3_sql(statement);
  Totals& totals = s.by_text[text ? text : "?"];
  s.by_statement.emplace(statement, &totals);
  return totals;
}

__attribute__((destructor)) void report() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  std::vector<std::pair<const std::string*, Totals>> lines;
  for (const auto& [text, totals] : s.by_text) lines.emplace_back(&text, totals);
  std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.second.time > b.second.time; });
  const char* path = std::getenv("STATEMENT_TIMES");
  FILE* out = path ? std::fopen(path, "w") : stderr;
  if (!out) return;
  for (const auto& [text, totals] : lines)
    std::fprintf(out, "%.6f\t%lld\t%s\n", std::chrono::duration<double>(totals.time).count(), totals.steps,
                 text->c_str());
  if (out != stderr) std::fclose(out);
}

}  // namespace

extern "C" int sqlite3_step(sqlite3_stmt* statement) {
  static auto step = next_definition<int (*)(sqlite3_stmt*)>("sqlite3_step");
  const auto start = std::chrono::steady_clock::now();
  const int rc = step(statement);
  const auto took = std::chrono::steady_clock::now() - start;
  State& s = state();
  std::lock_guard lock(s.mutex);
  Totals& totals = totals_of(s, statement);
  totals.time += took;
  ++totals.steps;
  return rc;
}

extern "C" int sqlite3_finalize(sqlite3_stmt* statement) {
  static auto finalize = next_definition<int (*)(sqlite3_stmt*)>("sqlite3_finalize");
  {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.by_statement.erase(statement);
  }
  return finalize(statement);
}

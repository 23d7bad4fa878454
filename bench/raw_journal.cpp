// raw_journal: the benchmark's anchor for the journal import. It does the bare
// SQLite work that importing APU.TXT needs, with prepared statements in one
// transaction: number each new entry per journal and date, insert the line,
// read the balance rows of the line's levels in one query, and add the line's
// amounts to each of them, inserting the ones that are missing. kavelo has to
// do at least this much; the benchmark compares it with this program.
//
//   raw_journal DATABASE APU.TXT [COMPANY]
//
// The levels come from the company's FRMEMP (COMPANY defaults to MUESTRA), as
// kavelo reads them. Prints the number of lines and balance rows it wrote.
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "db/sqlite_store.h"
#include "platform/codepage.h"
#include "platform/date_time.h"
#include "platform/regional.h"

namespace {

class Database {
 public:
  explicit Database(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
      throw std::runtime_error("cannot open " + path + ": " + sqlite3_errmsg(db_));
    // The page cache kavelo gives SQLite: both do the same work with the same cache.
    execute(("PRAGMA cache_size = -" + std::to_string(kavelo::db::kPageCacheKiB)).c_str());
  }
  ~Database() {
    for (auto& [sql, s] : statements_) sqlite3_finalize(s);
    sqlite3_close_v2(db_);
  }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
  }
  // Prepared once, then reset for each use.
  sqlite3_stmt* statement(const std::string& sql) {
    sqlite3_stmt*& s = statements_[sql];
    if (!s && sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK)
      fail(sql);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return s;
  }
  bool step(sqlite3_stmt* s) {
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) fail(sqlite3_sql(s));
    return false;
  }
  [[noreturn]] void fail(std::string_view what) {
    throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in: " + std::string(what));
  }

 private:
  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> statements_;
};

void bind_text(sqlite3_stmt* s, int at, const std::string& text) {
  sqlite3_bind_text(s, at, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::vector<std::string> cut(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (std::size_t bar; (bar = line.find('|', from)) != std::string::npos; from = bar + 1)
    fields.push_back(line.substr(from, bar - from));
  fields.push_back(line.substr(from));
  fields.resize(23);
  return fields;
}

double to_number(const std::string& text) { return text.empty() ? 0.0 : std::stod(text); }

double to_amount(const std::string& text) {
  return kavelo::to_double(kavelo::parse_currency(text, kavelo::RegionalSettings::spanish()));
}

std::string to_date(const std::string& text) {
  return kavelo::to_iso(kavelo::parse_date(text, kavelo::RegionalSettings::spanish()));
}

int run(const std::string& database, const std::string& file, const std::string& company) {
  Database db(database);
  db.execute("BEGIN");

  std::string mask;
  sqlite3_stmt* s = db.statement("SELECT FRMEMP FROM F_EMP WHERE CODEMP = ?");
  bind_text(s, 1, company);
  if (db.step(s) && sqlite3_column_text(s, 0)) mask = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));

  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + file);

  static const char* kInsertLine =
      "INSERT INTO F_APU (DIAAPU, FECAPU, ASIAPU, ORDAPU, CUEAPU, CONAPU, DOCAPU, \"D-HAPU\", IMEAPU, IMPAPU, "
      "MONAPU, PUNAPU, TIVAPU, CIVAPU, DEPAPU, SUBAPU, IMAAPU, UCRAPU, FCRAPU, UUMAPU, FUMAPU, GUIDAPU) "
      "VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
  long lines = 0, created = 0;
  long long entry = 0;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> f = cut(line);
    const long journal = std::stol(f[1]);
    const std::string date = to_date(f[2]);
    long long number = std::stoll(f[3]);
    const long order = std::stol(f[4]);
    if (number == 0 && order == 1) {
      s = db.statement("SELECT MAX(ASIAPU) FROM F_APU WHERE DIAAPU = ? AND FECAPU = ?");
      sqlite3_bind_int64(s, 1, journal);
      bind_text(s, 2, date);
      entry = db.step(s) ? sqlite3_column_int64(s, 0) + 1 : 1;
    }
    if (number == 0) number = entry;
    const std::string account = kavelo::cp1252_to_utf8(f[5]);
    const std::string side = f[8];
    const double euros = to_amount(f[9]), pesetas = to_amount(f[10]);

    s = db.statement(kInsertLine);
    sqlite3_bind_int64(s, 1, journal);
    bind_text(s, 2, date);
    sqlite3_bind_int64(s, 3, number);
    sqlite3_bind_int64(s, 4, order);
    for (int i : {5, 6, 7, 8}) bind_text(s, i, kavelo::cp1252_to_utf8(f[static_cast<std::size_t>(i)]));
    sqlite3_bind_double(s, 9, euros);
    sqlite3_bind_double(s, 10, pesetas);
    for (int i : {11, 12, 13}) bind_text(s, i, kavelo::cp1252_to_utf8(f[static_cast<std::size_t>(i)]));
    sqlite3_bind_double(s, 14, to_number(f[14]));
    for (int i : {15, 16, 17}) bind_text(s, i, kavelo::cp1252_to_utf8(f[static_cast<std::size_t>(i)]));
    sqlite3_bind_double(s, 18, to_number(f[18]));
    if (!f[19].empty()) bind_text(s, 19, to_date(f[19]));
    sqlite3_bind_double(s, 20, to_number(f[20]));
    if (!f[21].empty()) bind_text(s, 21, to_date(f[21]));
    bind_text(s, 22, kavelo::cp1252_to_utf8(f[22]));
    db.step(s);
    ++lines;
    if (account.empty()) continue;

    // The levels of the account: the lengths the mask marks, and its own.
    std::vector<std::string> levels;
    for (std::size_t i = account.size(); i >= 1; --i)
      if (i == account.size() || (i <= mask.size() && mask[i - 1] == '1')) levels.push_back(account.substr(0, i));

    std::string query = "SELECT rowid, CUESAL FROM F_SAL WHERE DIASAL = ? AND CUESAL IN (?";
    for (std::size_t i = 1; i < levels.size(); ++i) query += ",?";
    s = db.statement(query + ")");
    sqlite3_bind_int64(s, 1, journal);
    for (std::size_t i = 0; i < levels.size(); ++i) bind_text(s, static_cast<int>(i) + 2, levels[i]);
    std::map<std::string, sqlite3_int64> found;
    while (db.step(s)) found[reinterpret_cast<const char*>(sqlite3_column_text(s, 1))] = sqlite3_column_int64(s, 0);

    const std::string month = std::to_string(std::stoi(date.substr(5, 2)));
    const std::string p = "P" + side + month + "SAL", e = "E" + side + month + "SAL";
    for (const std::string& level : levels) {
      auto row = found.find(level);
      if (row != found.end()) {
        s = db.statement("UPDATE F_SAL SET " + p + " = round(" + p + " + ?, 4), " + e + " = round(" + e +
                         " + ?, 4) WHERE rowid = ?");
        sqlite3_bind_double(s, 1, pesetas);
        sqlite3_bind_double(s, 2, euros);
        sqlite3_bind_int64(s, 3, row->second);
      } else {
        s = db.statement("INSERT INTO F_SAL (CUESAL, DIASAL, " + p + ", " + e + ") VALUES (?, ?, ?, ?)");
        bind_text(s, 1, level);
        sqlite3_bind_int64(s, 2, journal);
        sqlite3_bind_double(s, 3, pesetas);
        sqlite3_bind_double(s, 4, euros);
        ++created;
      }
      db.step(s);
    }
  }
  db.execute("COMMIT");
  std::cout << "raw_journal: " << lines << " lines, " << created << " balance rows created\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::cerr << "usage: raw_journal DATABASE APU.TXT [COMPANY]\n";
    return 2;
  }
  try {
    return run(argv[1], argv[2], argc == 4 ? argv[3] : "MUESTRA");
  } catch (const std::exception& e) {
    std::cerr << "raw_journal: " << e.what() << '\n';
    return 1;
  }
}

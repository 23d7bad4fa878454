#pragma once
// Sample data for a company: the six interchange files, the connection file
// and the SQL of the company's own rows, at any size, byte for byte the same
// for the same options on every machine. The demo, the benchmark and anyone
// trying kavelo on realistic data use it (`kavelo-db sample`).
//
// Every file gets N records, except the chart of accounts, which always holds
// at least its core (groups, subgroups, the accounts the journal posts to), and
// the journal, which gets N lines (at least 2) in whole entries of 2 to 6 lines
// that balance in both amounts. Account codes are 7 characters long while the
// customers fit, longer for very large N; the company's level mask always marks
// four levels: lengths 1, 2, 4 and the account length.
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace kavelo::sample {

enum class Numbering {
  Counter,  // F_AUT NAAAUT 1, NAMAUT 0: each journal's counter
  Date,     // NAAAUT 1, NAMAUT 1: per journal and date
  Journal,  // NAAAUT 0: per journal
};

struct Options {
  std::int64_t records = 1000;
  std::uint64_t seed = 1;
  Numbering numbering = Numbering::Date;
};

// The company the sample belongs to: its database is
// DIR/datos/ + kCompanyCode + kDatabaseSuffix + ".MDB".
inline constexpr std::string_view kCompanyCode = "MUESTRA";
inline constexpr std::string_view kDatabaseSuffix = "01";
inline constexpr std::string_view kConnectionFileName = "kavelo.conn";
inline constexpr std::string_view kCompanySqlName = "company.sql";

// The interchange files in the order kavelo imports them.
const std::vector<std::string_view>& interchange_file_names();

// The length of the accounts below the level of four characters, for N records.
int account_length(std::int64_t records);
// The company's level mask: "1101001" for 7-character accounts.
std::string level_mask(std::int64_t records);

// Streams one interchange file ("MAE.TXT" ... "IVS.TXT"): Windows-1252, fields
// cut by "|", lines ended by CR LF. Memory stays flat whatever the size.
void write_interchange_file(std::string_view file_name, const Options& options, std::ostream& out);

// The SQL (UTF-8) that gives a new company database the sample company's
// rows: F_EMP, F_AUT row 1 by the numbering mode, and the journals of F_DIA.
std::string company_sql(const Options& options);

// The eight lines of the connection file (Windows-1252, CR LF) for the
// interchange folder `dir`, an absolute path.
std::string connection_file(const std::filesystem::path& dir, const Options& options);

// Writes the six files, kavelo.conn and company.sql into `dir` and makes the
// database folder dir/datos/ (the database itself is left to kavelo-db create).
// Throws std::runtime_error with a message for a person.
void write_sample(const std::filesystem::path& dir, const Options& options);

// `kavelo-db sample DIR [--records N] [--seed S] [--numbering counter|date|journal]`:
// `args` starts with "sample". Returns the exit status (2 for a usage error).
int run_sample_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace kavelo::sample

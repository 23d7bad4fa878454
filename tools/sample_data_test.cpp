#include "sample_data.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "platform/codepage.h"
#include "platform/regional.h"
#include "schema_facts.h"
#include "test_support.h"

namespace kavelo::sample {
namespace {

using Record = std::vector<std::string>;

std::string generate(const std::string& file, const Options& options) {
  std::ostringstream out;
  write_interchange_file(file, options, out);
  return out.str();
}

// The records of a file, each cut at "|"; every line ends in CR LF and no
// other CR or LF is in the text.
std::vector<Record> records_of(const std::string& text) {
  std::vector<Record> records;
  for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
    Record& fields = records.emplace_back(1);
    for (char c : text.substr(at, end - at))
      if (c == '|') fields.emplace_back();
      else fields.back() += c;
  }
  EXPECT_TRUE(text.empty() || text.ends_with("\r\n"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), records.size());
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), records.size());
  return records;
}

// FNV-1a of the six files and company.sql.
std::uint64_t hash_of_sample(const Options& options) {
  std::string bytes;
  for (std::string_view file : interchange_file_names()) bytes += generate(std::string(file), options);
  std::uint64_t hash = 1469598103934665603ULL;
  for (unsigned char c : bytes + company_sql(options)) hash = (hash ^ c) * 1099511628211ULL;
  return hash;
}

// Every field of every file fits the column it is written to: its texts the
// column's size, its numbers, amounts and dates the Spanish forms kavelo reads.
// The texts are Spanish in Windows-1252.
TEST(SampleData, EveryFieldFitsItsColumnInTheReferenceSchema) {
  const check::Schema schema = check::reference_schema();
  const std::map<std::string, std::pair<std::string, std::string>> table_and_identifier = {
      {"MAE.TXT", {"F_MAE", "M001"}}, {"CLI.TXT", {"F_CLI", "C001"}}, {"PRO.TXT", {"F_PRO", "P001"}},
      {"APU.TXT", {"F_APU", "A001"}}, {"IVR.TXT", {"F_IVR", "R001"}}, {"IVS.TXT", {"F_IVS", "S001"}}};
  const RegionalSettings spanish = RegionalSettings::spanish();
  const std::regex number(R"(-?\d+(\.\d+)?)");
  for (std::string_view name : interchange_file_names()) {
    const std::string file(name);
    const auto& [table, identifier] = table_and_identifier.at(file);
    const std::vector<check::Column>& columns = schema.find(table)->columns;
    const std::string text = generate(file, {1500, 11, Numbering::Date});
    const auto records = records_of(text);
    // The chart of accounts holds at least N records, every other file N.
    EXPECT_TRUE(file == "MAE.TXT" ? records.size() >= 1500u : records.size() == 1500u) << file << records.size();
    // Customers, suppliers and the VAT registers have every field filled.
    const bool filled = file != "MAE.TXT" && file != "APU.TXT";
    for (const Record& r : records) {
      ASSERT_EQ(r.size(), columns.size() + 1) << file << ": " << r[0];
      EXPECT_EQ(r[0], identifier);
      for (std::size_t i = 0; i < columns.size(); ++i) {
        const check::Column& c = columns[i];
        const std::string& field = r[i + 1];
        const std::string where = file + " " + c.name + " '" + cp1252_to_utf8(field) + "'";
        EXPECT_FALSE(field.starts_with(' ') || field.ends_with(' ')) << where;
        EXPECT_FALSE(filled && field.empty()) << where;
        if (c.kind == db::ColumnKind::Text && c.text_size > 0) {
          EXPECT_LE(static_cast<int>(field.size()), c.text_size) << where;  // one byte is one character
        } else if (c.kind == db::ColumnKind::Currency) {
          EXPECT_NO_THROW(parse_currency(field, spanish)) << where;
        } else if (c.kind == db::ColumnKind::DateTime && !(c.name == "FUMAPU" && field.empty())) {
          EXPECT_NO_THROW(parse_date(field, spanish)) << where;
        } else if (c.kind == db::ColumnKind::Short || c.kind == db::ColumnKind::Long ||
                   c.kind == db::ColumnKind::Double) {
          EXPECT_TRUE(std::regex_match(field, number)) << where;
        }
      }
    }
    // ñ and the accented vowels as single bytes, never as UTF-8 sequences.
    EXPECT_TRUE(file != "CLI.TXT" || (text.find('\xE1') != std::string::npos &&
                                      text.find("\xC3\xB1") == std::string::npos &&
                                      cp1252_to_utf8(text).find("España") != std::string::npos));
  }
}

// The chart holds every account the journal posts to and, for every account,
// the accounts of the levels the company marks above it.
TEST(SampleData, ChartHasTheLevelsOfEveryAccountAndTheJournalsAccounts) {
  for (std::int64_t n : {2, 40, 2000}) {
    const Options options{n, 3, Numbering::Counter};
    std::set<std::string> chart;
    for (const Record& r : records_of(generate("MAE.TXT", options)))
      EXPECT_TRUE(chart.insert(r[1]).second) << "account twice: " << r[1];
    const auto length = static_cast<std::size_t>(account_length(n));
    for (const std::string& code : chart) {
      EXPECT_TRUE(code.size() == 1 || code.size() == 2 || code.size() == 4 || code.size() == length) << code;
      for (std::size_t level : {1u, 2u, 4u})
        EXPECT_TRUE(level >= code.size() || chart.count(code.substr(0, level))) << code << " lacks level " << level;
    }
    for (const Record& line : records_of(generate("APU.TXT", options)))
      EXPECT_TRUE(chart.count(line[5])) << "journal account missing from the chart: " << line[5];
  }
}

// Whole entries of 2 to 6 lines that balance in both amounts, most numbered by
// kavelo, some by their own number (once each), over three journals and twelve months.
TEST(SampleData, JournalEntriesBalanceInBothAmounts) {
  const auto lines = records_of(generate("APU.TXT", {5000, 21, Numbering::Date}));
  ASSERT_EQ(lines.size(), 5000u);
  std::set<std::string> guids, journals, months;
  std::set<std::pair<std::string, std::string>> explicit_entries;
  std::int64_t euros = 0, pesetas = 0, entries = 0, numbered_by_kavelo = 0, size = 0;
  const auto close_entry = [&] {
    EXPECT_EQ(euros, 0) << "entry " << entries << " does not balance in IMEAPU";
    EXPECT_EQ(pesetas, 0) << "entry " << entries << " does not balance in IMPAPU";
    EXPECT_TRUE(size >= 2 && size <= 6) << "entry " << entries << " of " << size << " lines";
  };
  for (const Record& l : lines) {
    const std::string &journal = l[1], &entry = l[3];
    if (l[4] == "1") {
      if (size > 0) close_entry();
      ++entries;
      size = euros = pesetas = 0;
      if (entry == "0") ++numbered_by_kavelo;
      else EXPECT_TRUE(explicit_entries.insert({journal, entry}).second) << "explicit number twice: " << entry;
    }
    EXPECT_EQ(l[4], std::to_string(++size));
    ASSERT_TRUE(l[8] == "D" || l[8] == "H") << l[8];
    const int sign = l[8] == "D" ? 1 : -1;
    const Currency euro = parse_currency(l[9], RegionalSettings::spanish());
    EXPECT_GT(euro.ten_thousandths, 0);
    euros += sign * euro.ten_thousandths;
    pesetas += sign * parse_currency(l[10], RegionalSettings::spanish()).ten_thousandths;
    EXPECT_EQ(l[22].size(), 38u);
    EXPECT_TRUE(guids.insert(l[22]).second) << "GUID twice: " << l[22];
    journals.insert(journal);
    months.insert(l[2].substr(3, 2));
  }
  close_entry();
  EXPECT_GT(numbered_by_kavelo, entries * 3 / 4);
  EXPECT_GT(explicit_entries.size(), 0u);
  EXPECT_GE(journals.size(), 3u);
  EXPECT_EQ(months.size(), 12u);
}

TEST(SampleData, SameSeedSameBytesOtherSeedOtherBytes) {
  const Options options{200, 7, Numbering::Date};
  // Pinned: the generator draws from its own generator in a fixed order, so
  // these bytes are the same on every machine and compiler. A deliberate
  // change of the sample data changes this number.
  EXPECT_EQ(hash_of_sample(options), 5096691593657157165u);
  EXPECT_EQ(hash_of_sample(options), hash_of_sample(options));
  for (std::string_view file : interchange_file_names())
    EXPECT_NE(generate(std::string(file), options), generate(std::string(file), {200, 8, Numbering::Date})) << file;
}

TEST(SampleData, AccountLengthLevelMaskAndNumberingRowFollowTheOptions) {
  EXPECT_EQ(account_length(2), 7);
  EXPECT_EQ(account_length(99999), 7);
  EXPECT_EQ(account_length(100000), 8);
  EXPECT_EQ(account_length(10000000), 10);
  EXPECT_EQ(level_mask(1000), "1101001");
  EXPECT_EQ(level_mask(200000), "11010001");
  for (const Record& l : records_of(generate("APU.TXT", {120000, 1, Numbering::Date}))) ASSERT_EQ(l[5].size(), 8u);
  // The numbering row by the mode (the pinned bytes hold the mode by date).
  EXPECT_NE(company_sql({10, 1, Numbering::Counter}).find("VALUES (1, 1, 0)"), std::string::npos);
  EXPECT_NE(company_sql({10, 1, Numbering::Journal}).find("VALUES (1, 0, 0)"), std::string::npos);
}

TEST(SampleData, CommandRefusesBadOptions) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"sample"}, {"sample", "d", "--records"}, {"sample", "d", "--records", "1"},
           {"sample", "d", "--records", "12x"}, {"sample", "d", "--numbering", "weekly"},
           {"sample", "d", "--colour", "red"}}) {
    std::ostringstream out, err;
    EXPECT_EQ(run_sample_command(args, out, err), 2) << testing::PrintToString(args);
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_FALSE(test::exists("d"));
}

}  // namespace
}  // namespace kavelo::sample

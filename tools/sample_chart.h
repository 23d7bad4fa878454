#pragma once
// The chart of accounts: the accounts' codes, which customers and suppliers
// MAE.TXT holds, and the writer of MAE.TXT.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "sample_data.h"
#include "sample_parties.h"

namespace kavelo::sample {

// Accounts of four characters with a number appended to the account length:
// subaccount("5720", 1, 7) is "5720001".
std::string subaccount(std::string_view head, std::int64_t n, int length);

// The account of customer ("43...") or supplier ("40...") `serial`.
std::string party_account(PartyKind kind, std::int64_t serial, int length);

struct ChartPlan {
  int length;
  std::int64_t customers;  // customer accounts 1..customers are in MAE.TXT
  std::int64_t suppliers;
};

ChartPlan plan_chart(std::int64_t records);

// MAE.TXT: the core of the chart, then customer and supplier accounts in turn
// with the level-4 accounts they hang from, N entries in all.
void write_chart(const Options& options, std::ostream& out);

}  // namespace kavelo::sample

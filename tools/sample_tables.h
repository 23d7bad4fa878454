#pragma once
// The sample's constant tables: the words, names and places records are drawn
// from, held in Windows-1252 as the files carry them; the core of the chart of
// accounts; the expenses the journal pays by bank.
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kavelo::sample {

struct Town {
  std::string name;
  std::string province;
  std::string postcode;  // the first three digits
  std::string phone;     // the first three digits
};

struct LegalForm {
  std::string suffix;
  char letter;  // of the tax identifier
};

struct Bank {
  std::string name;
  std::string entity;
};

struct Words {
  std::vector<std::string> first_names;
  std::vector<std::string> surnames;
  std::vector<std::string> places;
  std::vector<std::string> customer_kinds;
  std::vector<std::string> supplier_kinds;
  std::vector<std::string> trades;  // a person's business: "Taller Pérez"
  std::vector<LegalForm> forms;
  std::vector<Town> towns;
  std::vector<std::string> street_kinds;
  std::vector<std::string> streets;
  std::vector<std::string> house_numbers;
  std::vector<Bank> banks;
  std::vector<std::string> payment_terms;
  std::vector<std::string> mailboxes;
  std::vector<std::string> memos;
  std::vector<std::string> zones;
  std::vector<std::string> sectors;
  std::vector<std::string> months;
  std::vector<std::string> sub_departments;
  std::string company_name;
};

const Words& words();

struct ChartAccount {
  std::string_view head;  // the code, or the level-4 account a subaccount hangs from
  int sub;                // -1: the code is `head` itself
  std::string_view name;  // UTF-8
  int nature;             // 0 debit, 1 credit
};

// The core of the chart: every account the journal posts to, with its groups.
// The first customers and suppliers follow it.
std::span<const ChartAccount> core_chart();

// An expense the journal pays by bank: the level-4 account it is booked to and
// the start of its description (UTF-8), which the month completes.
struct Expense {
  std::string_view head;
  std::string_view description;
};

std::span<const Expense> bank_expenses();

}  // namespace kavelo::sample

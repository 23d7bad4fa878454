#include "sample_chart.h"

#include <ostream>

#include "sample_format.h"
#include "sample_tables.h"

namespace kavelo::sample {
namespace {

constexpr std::int64_t kCoreParties = 3;  // customers and suppliers 1 to 3 in the core

// One entry of MAE.TXT beyond the core: a customer or supplier account, or
// the level-4 account that a block of them hangs from.
struct ChartStep {
  PartyKind kind;
  std::int64_t serial;
  bool head;
};

// Walks the chart beyond its core in file order: units k = 4, 5, ... of a
// customer account and a supplier account, each preceded by its level-4
// account when k opens a block. Stops after `count` steps.
template <class Visit>
void walk_chart_tail(std::int64_t count, int length, Visit visit) {
  std::int64_t block = 1;
  for (int i = 4; i < length; ++i) block *= 10;
  std::int64_t done = 0;
  for (std::int64_t k = kCoreParties + 1; done < count; ++k) {
    for (PartyKind kind : {PartyKind::Customer, PartyKind::Supplier}) {
      if (k % block == 0 && done < count) {
        visit(ChartStep{kind, k, true});
        ++done;
      }
      if (done < count) {
        visit(ChartStep{kind, k, false});
        ++done;
      }
    }
  }
}

std::int64_t core_size() { return static_cast<std::int64_t>(core_chart().size()) + 2 * kCoreParties; }

}  // namespace

std::string subaccount(std::string_view head, std::int64_t n, int length) {
  return std::string(head) + padded(n, length - 4);
}

std::string party_account(PartyKind kind, std::int64_t serial, int length) {
  return (kind == PartyKind::Customer ? "43" : "40") + padded(serial, length - 2);
}

int account_length(std::int64_t records) {
  int length = 7;
  // Customer numbers run to N: the characters after "43" must hold them.
  for (std::int64_t capacity = 99999; capacity < records; capacity = capacity * 10 + 9) ++length;
  return length;
}

ChartPlan plan_chart(std::int64_t records) {
  ChartPlan plan{account_length(records), kCoreParties, kCoreParties};
  walk_chart_tail(records - core_size(), plan.length, [&](const ChartStep& step) {
    if (step.head) return;
    (step.kind == PartyKind::Customer ? plan.customers : plan.suppliers) = step.serial;
  });
  return plan;
}

void write_chart(const Options& o, std::ostream& out) {
  const ChartPlan plan = plan_chart(o.records);
  LineOut line(out);
  auto account = [&](const std::string& code, const std::string& name, const std::string& extended, int nature,
                     const std::string& memo) {
    line.start("M001");
    line.field(code);
    line.field(cut(name, 100));
    line.field(cut(extended, 100));
    line.field(nature);
    line.field(code.size() == static_cast<std::size_t>(plan.length) ? 1 : 0);
    line.field(0);
    line.field(memo);
    line.end();
  };
  const std::string level_words[] = {to1252("Grupo "), to1252("Subgrupo "), "", to1252("Cuenta ")};
  for (const ChartAccount& a : core_chart()) {
    const std::string code = a.sub < 0 ? std::string(a.head) : subaccount(a.head, a.sub, plan.length);
    const std::string name = to1252(a.name);
    const std::string level = code.size() <= 4 ? level_words[code.size() - 1] : to1252("Subcuenta ");
    account(code, name, level + code, a.nature, "");
  }
  const std::string customer_memo = to1252("Alta desde el fichero de clientes.");
  const std::string supplier_memo = to1252("Alta desde el fichero de proveedores.");
  auto party = [&](PartyKind kind, std::int64_t serial) {
    const Party p = make_party(o.seed, kind, serial, true);
    const bool customer = kind == PartyKind::Customer;
    account(party_account(kind, serial, plan.length), p.name, p.tax_id + " " + p.trade_name, customer ? 0 : 1,
            customer ? customer_memo : supplier_memo);
  };
  for (std::int64_t k = 1; k <= kCoreParties; ++k) {
    party(PartyKind::Customer, k);
    party(PartyKind::Supplier, k);
  }
  walk_chart_tail(o.records - core_size(), plan.length, [&](const ChartStep& step) {
    if (!step.head) return party(step.kind, step.serial);
    const std::string code = party_account(step.kind, step.serial, plan.length).substr(0, 4);
    const bool customer = step.kind == PartyKind::Customer;
    account(code, to1252(customer ? "Clientes, serie " : "Proveedores, serie ") + code.substr(2),
            to1252("Cuenta ") + code, customer ? 0 : 1, "");
  });
}

}  // namespace kavelo::sample

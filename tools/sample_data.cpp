#include "sample_data.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <system_error>

#include "platform/codepage.h"
#include "sample_format.h"
#include "sample_random.h"
#include "sample_tables.h"

namespace kavelo::sample {
namespace {

// ---------------------------------------------------------------------------
// Customers, suppliers and employees.

enum class PartyKind { Customer, Supplier };

int ccc_digit(std::string_view ten) {
  static constexpr int weights[10] = {1, 2, 4, 8, 5, 10, 9, 7, 3, 6};
  int sum = 0;
  for (std::size_t i = 0; i < 10; ++i) sum += (ten[i] - '0') * weights[i];
  int digit = 11 - sum % 11;
  return digit == 11 ? 0 : digit == 10 ? 1 : digit;
}

// The Spanish IBAN of a 20-digit account: "ES", two check digits, the account.
std::string iban(const std::string& ccc) {
  int rest = 0;
  for (char c : ccc + "142800") rest = (rest * 10 + (c - '0')) % 97;
  return "ES" + padded(98 - rest, 2) + ccc;
}

std::string digits(Rng& rng, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += static_cast<char>('0' + rng.next() % 10);
  return out;
}

std::string personal_tax_id(Rng& rng) {
  const std::int64_t n = rng.between(1000000, 79999999);
  return padded(n, 8) + "TRWAGMYFPDXBNJZSQVHLCKE"[n % 23];
}

std::string company_tax_id(Rng& rng, char letter, const std::string& postcode) {
  std::string body = postcode.substr(0, 2) + digits(rng, 5);
  int sum = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    int d = body[i] - '0';
    if (i % 2 == 0) {
      d *= 2;
      d = d / 10 + d % 10;
    }
    sum += d;
  }
  return std::string(1, letter) + body + static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::string phone(Rng& rng, const std::string& prefix) {
  const std::string rest = digits(rng, 6);
  return prefix + " " + rest.substr(0, 3) + " " + rest.substr(3);
}

// Lower-case letters and digits of a Windows-1252 text, accents dropped, for
// mail addresses and web sites.
std::string slug(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    char plain = 0;
    if (c >= 'a' && c <= 'z') plain = static_cast<char>(c);
    else if (c >= 'A' && c <= 'Z') plain = static_cast<char>(c - 'A' + 'a');
    else if (c >= '0' && c <= '9') plain = static_cast<char>(c);
    else {
      switch (c) {
        case 0xE1: case 0xC1: plain = 'a'; break;
        case 0xE9: case 0xC9: plain = 'e'; break;
        case 0xED: case 0xCD: plain = 'i'; break;
        case 0xF3: case 0xD3: plain = 'o'; break;
        case 0xFA: case 0xDA: case 0xFC: case 0xDC: plain = 'u'; break;
        case 0xF1: case 0xD1: plain = 'n'; break;
        default: break;
      }
    }
    if (plain) out += plain;
  }
  return cut(out, 30);
}

struct Party {
  std::string name;        // "Restaurante El Almendro, S.L." or a person's full name
  std::string trade_name;  // "El Almendro"
  std::string tax_id;
  bool person = false;
  std::string street_kind, street, house_number, postcode, town, province;
  std::string phone, mobile, fax;
  std::string bank, entity, office, check_digits, account_number, iban;
  std::string payment, contact, email, web, memo;
  std::string zone, route, sector, agent, since;
  int vat_rate = 1800;  // basis points
  bool surcharge = false;
  bool retention = false;
};

// Each draw is a statement of its own: the operands of + are evaluated in an
// order that differs between compilers, and the bytes must not.
std::string person_name(Rng& rng) {
  const Words& w = words();
  std::string name = rng.pick(w.first_names);
  name += " " + rng.pick(w.surnames);
  name += " " + rng.pick(w.surnames);
  return name;
}

// The equivalence surcharge that goes with a VAT rate, both in basis points.
int surcharge_rate(int vat_rate) { return vat_rate == 1800 ? 400 : vat_rate == 800 ? 100 : 50; }

// The party `index` of its kind. `name_only` stops after the name, trade name
// and tax identifier, which are drawn first so that they are the same either way.
Party make_party(std::uint64_t seed, PartyKind kind, std::int64_t index, bool name_only = false) {
  const Words& w = words();
  Rng rng(stream_seed(seed, kind == PartyKind::Customer ? kCustomerStream : kSupplierStream,
                      static_cast<std::uint64_t>(index)));
  Party p;
  const Town& town = rng.pick(w.towns);
  p.postcode = town.postcode + digits(rng, 2);
  p.person = rng.percent(20);
  if (p.person) {
    const std::string& first = rng.pick(w.first_names);
    const std::string& surname = rng.pick(w.surnames);
    p.name = first + " " + surname + " " + rng.pick(w.surnames);
    p.trade_name = rng.pick(w.trades) + " " + surname;
    p.tax_id = personal_tax_id(rng);
  } else {
    const std::string& kind_word = rng.pick(kind == PartyKind::Customer ? w.customer_kinds : w.supplier_kinds);
    std::string core = rng.percent(60) ? rng.pick(w.places) : (rng.percent(50) ? "Hermanos " : "") + rng.pick(w.surnames);
    const LegalForm& form = rng.pick(w.forms);
    p.name = kind_word + " " + core + ", " + form.suffix;
    p.trade_name = rng.percent(50) ? core : kind_word + " " + core;
    p.tax_id = company_tax_id(rng, form.letter, p.postcode);
  }
  if (name_only) return p;

  p.town = town.name;
  p.province = town.province;
  p.street_kind = rng.pick(w.street_kinds);
  p.street = rng.pick(w.streets);
  p.house_number = rng.pick(w.house_numbers);
  p.phone = phone(rng, town.phone);
  p.mobile = phone(rng, rng.percent(50) ? "6" + digits(rng, 2) : "7" + digits(rng, 2));
  p.fax = phone(rng, town.phone);
  const auto& bank = rng.pick(w.banks);
  p.bank = bank.name;
  p.entity = bank.entity;
  p.office = digits(rng, 4);
  p.account_number = digits(rng, 10);
  p.check_digits = std::string(1, static_cast<char>('0' + ccc_digit("00" + p.entity + p.office))) +
                   static_cast<char>('0' + ccc_digit(p.account_number));
  p.iban = iban(p.entity + p.office + p.check_digits + p.account_number);
  p.payment = rng.pick(w.payment_terms);
  p.contact = person_name(rng);
  const std::string site = slug(p.trade_name);
  p.email = p.person ? slug(p.name.substr(0, 1)) + slug(p.trade_name.substr(p.trade_name.find(' ') + 1))
                     : rng.pick(w.mailboxes);
  p.email += "@" + site + (rng.percent(70) ? ".es" : ".com");
  p.web = "www." + site + ".es";
  p.memo = rng.pick(w.memos);
  p.zone = rng.pick(w.zones);
  p.route = to1252("Ruta ") + number(rng.between(1, 12));
  p.sector = rng.pick(w.sectors);
  p.agent = to1252("Comercial: ") + rng.pick(w.first_names);
  p.agent += " " + rng.pick(w.surnames);
  p.since = to1252("Alta en ") + number(rng.between(1998, 2010));
  const std::int64_t rate = rng.between(0, 9);
  p.vat_rate = rate < 7 ? 1800 : rate < 9 ? 800 : 400;
  p.surcharge = kind == PartyKind::Customer && p.person && rng.percent(50);
  p.retention = kind == PartyKind::Supplier && p.person && rng.percent(60);
  return p;
}

std::string employee_name(std::uint64_t seed, std::int64_t index) {
  Rng rng(stream_seed(seed, kEmployeeStream, static_cast<std::uint64_t>(index)));
  return person_name(rng);
}

// ---------------------------------------------------------------------------
// The chart of accounts.

// Accounts of four characters with a number appended to the account length:
// subaccount("5720", 1, 7) is "5720001".
std::string subaccount(std::string_view head, std::int64_t n, int length) {
  return std::string(head) + padded(n, length - 4);
}

std::string party_account(PartyKind kind, std::int64_t serial, int length) {
  return (kind == PartyKind::Customer ? "43" : "40") + padded(serial, length - 2);
}

constexpr std::int64_t kCoreParties = 3;  // customers and suppliers 1 to 3 in the core

int length_for(std::int64_t records) {
  int length = 7;
  // Customer numbers run to N: the characters after "43" must hold them.
  for (std::int64_t capacity = 99999; capacity < records; capacity = capacity * 10 + 9) ++length;
  return length;
}

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

struct ChartPlan {
  int length;
  std::int64_t customers;  // customer accounts 1..customers are in MAE.TXT
  std::int64_t suppliers;
};

std::int64_t core_size() { return static_cast<std::int64_t>(core_chart().size()) + 2 * kCoreParties; }

ChartPlan plan_chart(std::int64_t records) {
  ChartPlan plan{length_for(records), kCoreParties, kCoreParties};
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

// ---------------------------------------------------------------------------
// Customers and suppliers: every field filled.

void write_parties(PartyKind kind, const Options& o, std::ostream& out) {
  const int length = length_for(o.records);
  const bool customer = kind == PartyKind::Customer;
  const int code_width = static_cast<int>(std::max<std::size_t>(5, number(o.records).size()));
  const std::string country = to1252("España");
  LineOut line(out);
  for (std::int64_t i = 1; i <= o.records; ++i) {
    const Party p = make_party(o.seed, kind, i);
    Rng rng(stream_seed(o.seed, customer ? kCustomerStream : kSupplierStream, static_cast<std::uint64_t>(i) + (1ULL << 62)));
    line.start(customer ? "C001" : "P001");
    line.field(padded(i, code_width));                            // CODCLI / CODPRO
    if (customer) line.field(rng.between(0, 2));                  // TFCCLI
    line.field(p.name);                                           // NOM
    line.field(1);                                                // IFI
    line.field(p.tax_id);                                         // CIF
    line.field(rng.between(0, 1));                                // IMP
    line.field(to1252(customer ? "Condiciones generales de venta 2011" : "Condiciones de compra 2011"));  // CON
    line.field(to1252("Horario: ") + (rng.percent(50) ? "de 9:00 a 14:00" : "de 8:00 a 15:00"));          // CHA
    line.field(party_account(kind, i, length));                   // CCO
    line.field(subaccount(customer ? "7000" : "6000", p.vat_rate == 1800 ? 1 : p.vat_rate == 800 ? 2 : 3, length));
    line.field(subaccount(customer ? "4770" : "4720", p.vat_rate == 1800 ? 1 : p.vat_rate == 800 ? 2 : 3, length));
    line.field(cut(to1252("Cuenta de ") + p.bank, 50));           // CBA
    line.field(to1252("Recibos a ") + number(rng.between(1, 3) * 30) + to1252(" días"));  // CAR
    line.field(rng.between(1, 4));                                // TIP
    line.field(p.surcharge ? 1 : 0);                              // TRE
    line.field(amount(p.retention ? 1500 : 0, false));            // RET
    if (!customer) line.field(rng.between(0, 3));                 // TDEPRO
    line.field(rng.between(0, 1));                                // COP
    line.field(0);                                                // ACP
    line.field(1);                                                // TPI
    line.field(amount(p.vat_rate, false));                        // IVA
    line.field(amount(p.surcharge ? surcharge_rate(p.vat_rate) : 0, false));  // REC
    line.field(cut(p.trade_name, 100));                           // NCO
    line.field(p.street_kind);                                    // SIG
    line.field(p.street);                                         // DOM
    line.field(p.house_number);                                   // NUM
    line.field(p.postcode);                                       // CPO
    line.field(p.town);                                           // POB
    line.field(p.province);                                       // POV
    line.field(country);                                          // PAI
    line.field(p.phone);                                          // TEL
    line.field(p.mobile);                                         // MOV
    line.field(p.fax);                                            // FAX
    line.field(p.bank);                                           // BAN
    line.field(p.entity);                                         // ENT
    line.field(p.office);                                         // OFI
    line.field(p.check_digits);                                   // DCO
    line.field(p.account_number);                                 // CTA
    line.field(p.iban);                                           // IBA
    line.field(p.payment);                                        // FPA
    line.field(p.contact);                                        // PCO
    line.field(p.email);                                          // EMA
    line.field(p.web);                                            // WEB
    line.field(p.memo);                                           // MEM
    if (customer) line.field(rng.between(0, 1));                  // FELCLI
    line.field(rng.between(1, 5));                                // DEP
    line.field(rng.between(1, 9));                                // SUB
    line.field(p.zone);                                           // CPA1
    line.field(p.route);                                          // CPA2
    line.field(p.sector);                                         // CPA3
    line.field(p.agent);                                          // CPA4
    line.field(p.since);                                          // CPA5
    line.end();
  }
}

// ---------------------------------------------------------------------------
// The journal.

struct JournalLine {
  std::string account;
  bool debit;
  std::int64_t cents;  // euros
  int vat_rate = 0;    // basis points, on the lines of a tax account
};

struct Entry {
  int journal = 1;
  std::int64_t number = 0;  // 0: numbered by kavelo
  std::string description;
  std::string document;
  std::string department;
  std::string image;
  std::vector<JournalLine> lines;
};

class JournalWriter {
 public:
  JournalWriter(const Options& o, std::ostream& out)
      : o_(o),
        plan_(plan_chart(o.records)),
        total_(std::max<std::int64_t>(o.records, 2)),
        rng_(stream_seed(o.seed, kJournalStream)),
        line_(out) {}

  void write() {
    while (written_ < total_) {
      const std::int64_t left = total_ - written_;
      int size = entry_size();
      if (left <= 6) size = static_cast<int>(left);
      else if (left - size == 1) size = size == 6 ? 5 : size + 1;
      emit(build(size));
    }
  }

 private:
  int entry_size() {
    const std::int64_t r = rng_.between(0, 99);
    return r < 30 ? 2 : r < 70 ? 3 : r < 82 ? 4 : r < 92 ? 5 : 6;
  }

  std::int64_t base_amount() {
    const std::int64_t r = rng_.between(0, 99);
    if (r < 60) return rng_.between(2000, 50000);
    if (r < 90) return rng_.between(50000, 500000);
    return rng_.between(500000, 6000000);
  }

  std::string account(std::string_view head, int sub) const { return subaccount(head, sub, plan_.length); }
  std::string customer(std::int64_t& serial) {
    serial = rng_.between(1, plan_.customers);
    return party_account(PartyKind::Customer, serial, plan_.length);
  }
  std::string supplier(std::int64_t& serial) {
    serial = rng_.between(1, plan_.suppliers);
    return party_account(PartyKind::Supplier, serial, plan_.length);
  }
  std::string customer_name(std::int64_t serial) const {
    return make_party(o_.seed, PartyKind::Customer, serial, true).name;
  }
  std::string supplier_name(std::int64_t serial) const {
    return make_party(o_.seed, PartyKind::Supplier, serial, true).name;
  }
  std::string month_name() const { return words().months[static_cast<std::size_t>(civil_from_days(day_).month - 1)]; }
  std::string bank() { return account("5720", static_cast<int>(rng_.between(1, 2))); }

  std::string sales_invoice() { return "A-" + padded(++invoices_, 6); }
  std::string purchase_invoice() {
    const std::int64_t n = rng_.between(1, 99999);
    switch (rng_.between(0, 2)) {
      case 0: return "2011/" + number(n);
      case 1: return "F-" + padded(n, 5);
      default: return "FC" + number(n);
    }
  }

  // Sales at one rate (3 lines), goods and services (4) or two rates with
  // the equivalence surcharge (6).
  Entry sales(int size) {
    Entry e;
    e.journal = 2;
    e.department = "VENTAS";
    std::int64_t serial = 0;
    const std::string client = customer(serial);
    e.document = sales_invoice();
    e.image = "FV-" + e.document + ".PDF";
    e.description = "Fra. " + e.document + " " + customer_name(serial);
    const std::int64_t b1 = base_amount();
    if (size == 3) {
      const int rate = static_cast<int>(rng_.between(1, 3));
      const int bp = rate == 1 ? 1800 : rate == 2 ? 800 : 400;
      const std::int64_t vat = share(b1, bp);
      e.lines = {{client, true, b1 + vat},
                 {account("7000", rate), false, b1},
                 {account("4770", rate), false, vat, bp}};
    } else if (size == 4) {
      const std::int64_t b2 = base_amount();
      const std::int64_t vat = share(b1 + b2, 1800);
      e.lines = {{client, true, b1 + b2 + vat},
                 {account("7000", 1), false, b1},
                 {account("7050", 0), false, b2},
                 {account("4770", 1), false, vat, 1800}};
    } else {
      const std::int64_t b2 = base_amount();
      const std::int64_t v1 = share(b1, 1800), v2 = share(b2, 800);
      const std::int64_t surcharge = share(b1, 400) + share(b2, 100);
      e.lines = {{client, true, b1 + b2 + v1 + v2 + surcharge},
                 {account("7000", 1), false, b1},
                 {account("7000", 2), false, b2},
                 {account("4770", 1), false, v1, 1800},
                 {account("4770", 2), false, v2, 800},
                 {account("4770", 9), false, surcharge, 400}};
    }
    return e;
  }

  // Purchases at one rate (3 lines), a professional's services with the
  // withholding (4) or two rates (5).
  Entry purchase(int size) {
    Entry e;
    e.journal = 3;
    e.department = "COMPRAS";
    std::int64_t serial = 0;
    const std::string vendor = supplier(serial);
    e.document = purchase_invoice();
    e.image = "FR-" + e.document + ".PDF";
    for (char& c : e.image) c = c == '/' ? '-' : c;
    e.description = to1252("Fra. prov. ") + e.document + " " + supplier_name(serial);
    const std::int64_t b1 = base_amount();
    if (size == 3) {
      const int rate = static_cast<int>(rng_.between(1, 3));
      const int bp = rate == 1 ? 1800 : rate == 2 ? 800 : 400;
      const std::int64_t vat = share(b1, bp);
      e.lines = {{account("6000", rate), true, b1},
                 {account("4720", rate), true, vat, bp},
                 {vendor, false, b1 + vat}};
    } else if (size == 4) {
      const std::int64_t vat = share(b1, 1800), withheld = share(b1, 1500);
      e.lines = {{account("6230", 0), true, b1},
                 {account("4720", 1), true, vat, 1800},
                 {account("4751", 0), false, withheld},
                 {vendor, false, b1 + vat - withheld}};
    } else {
      const std::int64_t b2 = base_amount();
      const std::int64_t v1 = share(b1, 1800), v2 = share(b2, 800);
      e.lines = {{account("6000", 1), true, b1},
                 {account("6000", 2), true, b2},
                 {account("4720", 1), true, v1, 1800},
                 {account("4720", 2), true, v2, 800},
                 {vendor, false, b1 + b2 + v1 + v2}};
    }
    return e;
  }

  // The payroll program numbers its own entries: 5 lines, 6 with an advance.
  Entry payroll(int size) {
    Entry e;
    e.journal = 4;
    e.number = ++payroll_entries_;
    e.department = "PERSONAL";
    const std::int64_t employee = rng_.between(1, 40);
    e.document = "NOM-" + padded(civil_from_days(day_).month, 2) + "-" + padded(employee, 3);
    e.description = to1252("Nómina ") + month_name() + " " + number(kYear) + " " + employee_name(o_.seed, employee);
    const std::int64_t gross = rng_.between(90000, 350000);
    const std::int64_t company_ss = share(gross, 2990), worker_ss = share(gross, 635);
    const std::int64_t withheld = share(gross, rng_.between(200, 2000));
    std::int64_t net = gross - withheld - worker_ss;
    e.lines = {{account("6400", 0), true, gross},
               {account("6420", 0), true, company_ss},
               {account("4751", 0), false, withheld},
               {account("4760", 0), false, company_ss + worker_ss}};
    if (size == 6) {
      const std::int64_t advance = rng_.between(10000, 30000);
      net -= advance;
      e.lines.push_back({account("4600", 0), false, advance});
    }
    e.lines.push_back({account("4650", 0), false, net});
    return e;
  }

  // Collections, payments and bank charges (2 lines); expenses paid by bank (3).
  Entry treasury(int size) {
    Entry e;
    e.journal = 1;
    e.department = "ADMINISTRACION";
    const std::int64_t cents = base_amount();
    if (size == 3) {
      const std::span<const Expense> expenses = bank_expenses();
      const Expense& x = expenses[rng_.between(0, static_cast<std::int64_t>(expenses.size()) - 1)];
      const std::int64_t vat = share(cents, 1800);
      e.document = "G-" + padded(rng_.between(1, 999999), 6);
      e.description = to1252(x.description) + month_name() + " " + number(kYear);
      e.lines = {{account(x.head, 0), true, cents}, {account("4720", 1), true, vat, 1800}, {bank(), false, cents + vat}};
      return e;
    }
    const std::int64_t r = rng_.between(0, 99);
    std::int64_t serial = 0;
    if (r < 50) {
      const std::string client = customer(serial);
      e.document = "A-" + padded(rng_.between(1, std::max<std::int64_t>(invoices_, 1)), 6);
      e.description = "Cobro fra. " + e.document + " " + customer_name(serial);
      e.lines = {{bank(), true, cents}, {client, false, cents}};
    } else if (r < 85) {
      const std::string vendor = supplier(serial);
      e.document = "TR-" + padded(rng_.between(1, 999999), 6);
      e.description = "Pago fra. " + purchase_invoice() + " " + supplier_name(serial);
      e.lines = {{vendor, true, cents}, {bank(), false, cents}};
    } else if (r < 95) {
      e.document = "LIQ-" + padded(civil_from_days(day_).month, 2);
      e.description = to1252("Comisiones bancarias, ") + month_name();
      e.lines = {{account("6260", 0), true, cents / 50 + 100}, {bank(), false, cents / 50 + 100}};
    } else {
      e.document = "CAJA-" + padded(rng_.between(1, 9999), 4);
      e.description = to1252("Reposición de caja");
      e.lines = {{account("5700", 0), true, cents}, {bank(), false, cents}};
    }
    return e;
  }

  Entry build(int size) {
    day_ = day_of(written_, total_);
    const std::int64_t r = rng_.between(0, 99);
    switch (size) {
      case 2: return treasury(2);
      case 3: return r < 50 ? sales(3) : r < 85 ? purchase(3) : treasury(3);
      case 4: return r < 50 ? sales(4) : purchase(4);
      case 5: return r < 50 ? payroll(5) : purchase(5);
      default: return r < 50 ? payroll(6) : sales(6);
    }
  }

  void emit(const Entry& e) {
    // The peseta amounts are rounded line by line; the last line takes the
    // difference so that the entry balances in both currencies.
    std::vector<std::int64_t> peseta(e.lines.size());
    std::int64_t difference = 0;
    for (std::size_t i = 0; i < e.lines.size(); ++i) {
      peseta[i] = pesetas(e.lines[i].cents);
      difference += e.lines[i].debit ? peseta[i] : -peseta[i];
    }
    peseta.back() += e.lines.back().debit ? -difference : difference;

    const std::string date = date_text(day_);
    const std::string description = cut(e.description, 60);
    const std::string sub_department = rng_.pick(words().sub_departments);
    const std::int64_t creator = rng_.between(1, 3);
    const bool modified = rng_.percent(30);
    const std::string modified_on = modified ? date_text(day_ + rng_.between(1, 20)) : "";
    for (std::size_t i = 0; i < e.lines.size(); ++i) {
      const JournalLine& l = e.lines[i];
      line_.start("A001");
      line_.field(e.journal);                         // DIAAPU
      line_.field(date);                              // FECAPU
      line_.field(e.number);                          // ASIAPU
      line_.field(static_cast<std::int64_t>(i + 1));  // ORDAPU
      line_.field(l.account);                         // CUEAPU
      line_.field(description);                           // CONAPU
      line_.field(e.document);                        // DOCAPU
      line_.field(l.debit ? "D" : "H");               // D-HAPU
      line_.field(amount(l.cents, rng_.percent(50)));    // IMEAPU
      line_.field(amount(peseta[i], rng_.percent(50)));  // IMPAPU
      line_.field("E");                               // MONAPU
      line_.field("");                                // PUNAPU
      line_.field(l.vat_rate ? number(l.vat_rate / 100) : "");  // TIVAPU
      line_.field(l.vat_rate / 100);                  // CIVAPU
      line_.field(e.department);                      // DEPAPU
      line_.field(sub_department);                    // SUBAPU
      line_.field(e.image);                           // IMAAPU
      line_.field(creator);                           // UCRAPU
      line_.field(date);                              // FCRAPU
      line_.field(modified ? creator : 0);            // UUMAPU
      line_.field(modified_on);                       // FUMAPU
      line_.field(guid());                            // GUIDAPU
      line_.end();
      ++written_;
    }
  }

  // Unique within the file: the first half is a bijection of the line number.
  std::string guid() {
    static constexpr char hex[] = "0123456789ABCDEF";
    const std::uint64_t first = mix(static_cast<std::uint64_t>(written_) ^ stream_seed(o_.seed, kGuidStream));
    const std::uint64_t second = rng_.next();
    std::string out = "{";
    for (int i = 0; i < 32; ++i) {
      const std::uint64_t word = i < 16 ? first : second;
      out += hex[(word >> (60 - 4 * (i % 16))) & 0xF];
      if (i == 7 || i == 11 || i == 15 || i == 19) out += '-';
    }
    return out + "}";
  }

  const Options& o_;
  ChartPlan plan_;
  std::int64_t total_;
  Rng rng_;
  LineOut line_;
  std::int64_t written_ = 0;
  std::int64_t day_ = 0;
  std::int64_t invoices_ = 0;
  std::int64_t payroll_entries_ = 0;
};

// ---------------------------------------------------------------------------
// The two VAT registers: every field filled, the amounts adding up.

struct VatAmounts {
  std::int64_t exempt = 0;
  std::array<std::int64_t, 3> base{}, rate{}, quota{}, surcharge_rate{}, surcharge{};
  std::int64_t withholding_base = 0, withholding_rate = 0, withholding = 0, outlays = 0;
  std::int64_t bases() const { return exempt + base[0] + base[1] + base[2]; }
  std::int64_t total() const {
    return bases() + quota[0] + quota[1] + quota[2] + surcharge[0] + surcharge[1] + surcharge[2] + outlays -
           withholding;
  }
};

VatAmounts vat_amounts(Rng& rng, bool surcharge, bool withholding) {
  static constexpr std::int64_t rates[3] = {1800, 800, 400};
  static constexpr std::int64_t surcharge_rates[3] = {400, 100, 50};
  VatAmounts v;
  const std::int64_t used = rng.between(0, 99);
  const int count = used < 70 ? 1 : used < 92 ? 2 : 3;
  const int first = static_cast<int>(rng.between(0, 3 - count));
  for (int i = 0; i < 3; ++i) {
    v.rate[i] = rates[i];
    if (i < first || i >= first + count) continue;
    v.base[i] = rng.between(2000, 600000);
    v.quota[i] = share(v.base[i], rates[i]);
    if (surcharge) {
      v.surcharge_rate[i] = surcharge_rates[i];
      v.surcharge[i] = share(v.base[i], surcharge_rates[i]);
    }
  }
  if (rng.percent(10)) v.exempt = rng.between(1000, 50000);
  if (rng.percent(5)) v.outlays = rng.between(500, 20000);
  if (withholding) {
    v.withholding_base = v.base[0] + v.base[1] + v.base[2];
    v.withholding_rate = 1500;
    v.withholding = share(v.withholding_base, 1500);
  }
  return v;
}

void write_vat_register(bool output, const Options& o, std::ostream& out) {
  const int length = length_for(o.records);
  const std::string amount_zero = amount(0, false);
  LineOut line(out);
  for (std::int64_t i = 1; i <= o.records; ++i) {
    Rng rng(stream_seed(o.seed, output ? kOutputVatStream : kInputVatStream, static_cast<std::uint64_t>(i)));
    const PartyKind kind = output ? PartyKind::Customer : PartyKind::Supplier;
    const std::int64_t serial = rng.between(1, o.records);
    const Party p = make_party(o.seed, kind, serial);
    const VatAmounts v = vat_amounts(rng, p.surcharge, !output && p.retention);
    const std::int64_t issued = day_of(i - 1, o.records);
    const std::int64_t booked = issued + rng.between(0, 5);
    const std::int64_t realised = booked + 30 * rng.between(0, 3);
    const std::int64_t invoice = output ? i : rng.between(1, 99999);
    const std::string invoice_text = output ? "A-" + padded(invoice, 6) : "F-" + padded(invoice, 5);
    auto money = [&](std::int64_t cents) { return amount(cents, rng.percent(30)); };

    line.start(output ? "R001" : "S001");
    line.field(i);                                                   // COD
    line.field(to1252(output ? "Ventas 2011" : "Compras 2011"));      // LIB
    line.field(1);                                                   // COP
    line.field(invoice_text);                                        // FAC
    line.field(invoice);                                             // NFA
    line.field(invoice_text);                                        // PNU
    line.field(invoice_text);                                        // UNU
    line.field(rng.percent(5) ? "R-" + padded(i, 6) : invoice_text); // NFR
    line.field(money(v.bases()));                                    // BIC
    line.field(date_text(issued));                                   // FFA
    line.field(date_text(booked));                                   // FEC
    line.field(to1252(p.surcharge ? "Recargo equivalencia" : v.exempt ? "IVA con exenta" : "IVA general"));  // TIP
    line.field(rng.between(0, 2));                                   // TOI
    line.field(rng.between(0, 1));                                   // PLA
    line.field(to1252(output ? "Emitida" : "Recibida"));             // EMI
    line.field(p.bank);                                              // DBI
    line.field(cut(to1252("Oficina ") + p.office + " " + p.town, 50));  // OFD
    if (output) {
      line.field(0);                                                 // IELIVR
    } else {
      const bool investment = rng.percent(5);
      line.field("S");                                               // DEDIVS
      line.field(amount(10000, false));                              // PDEIVS
      line.field(investment ? "S" : "N");                            // INVIVS
      line.field(investment ? to1252("Bien de inversión") : to1252("Gasto corriente"));  // IIDEIVS
      line.field(amount(10000, false));                              // IPROIVS
      line.field(date_text(booked + 365 * (investment ? 5 : 1)));    // IFINIVS
      line.field(money(investment ? v.quota[0] + v.quota[1] + v.quota[2] : 0));  // IRAIIVS
      line.field(to1252(investment ? "Maquinaria" : "Mercaderías"));         // IIENIVS
      line.field(amount_zero);                                       // IRDEIVS
    }
    line.field(v.total() > 300506 ? 1 : 0);                          // 347
    line.field(party_account(kind, serial, length));                 // CUE
    line.field(p.name);                                              // NOM
    line.field(1);                                                   // IFI
    line.field(p.tax_id);                                            // CIF
    line.field(0);                                                   // IMP
    // The amounts twice: as invoiced, then as realised (FR) on payment.
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1) line.field(date_text(realised));                // FFR
      line.field(money(v.total()));                                  // TOT / TFR
      if (pass == 0) {
        line.field(money(v.outlays));                                // SUP
        line.field(money(v.withholding_base));                       // TRET
        line.field(amount(v.withholding_rate, false));               // PRET
      }
      line.field(money(v.withholding));                              // IRET / IRFR
      for (auto r : v.rate) line.field(amount(r, false));            // PI1-3 / PIFR1-3
      for (auto r : v.surcharge_rate) line.field(amount(r, false));  // PR1-3 / PRFR1-3
      line.field(money(v.exempt));                                   // BA0 / BFR0
      for (auto b : v.base) line.field(money(b));                    // BA1-3 / BFR1-3
      for (auto q : v.quota) line.field(money(q));                   // CI1-3 / CFR1-3
      for (auto s : v.surcharge) line.field(money(s));               // CR1-3 / RFR1-3
    }
    line.end();
  }
}

void check_options(const Options& o) {
  if (o.records < 2) throw std::invalid_argument("el número de registros debe ser al menos 2");
  if (o.records > 1000000000) throw std::invalid_argument("el número de registros no puede pasar de 1000000000");
}

}  // namespace

const std::vector<std::string_view>& interchange_file_names() {
  static const std::vector<std::string_view> names = {"MAE.TXT", "CLI.TXT", "PRO.TXT",
                                                      "APU.TXT", "IVR.TXT", "IVS.TXT"};
  return names;
}

int account_length(std::int64_t records) { return length_for(records); }

std::string level_mask(std::int64_t records) {
  std::string mask(static_cast<std::size_t>(length_for(records)), '0');
  mask[0] = mask[1] = mask[3] = mask.back() = '1';
  return mask;
}

void write_interchange_file(std::string_view file_name, const Options& options, std::ostream& out) {
  check_options(options);
  if (file_name == "MAE.TXT") write_chart(options, out);
  else if (file_name == "CLI.TXT") write_parties(PartyKind::Customer, options, out);
  else if (file_name == "PRO.TXT") write_parties(PartyKind::Supplier, options, out);
  else if (file_name == "APU.TXT") JournalWriter(options, out).write();
  else if (file_name == "IVR.TXT") write_vat_register(true, options, out);
  else if (file_name == "IVS.TXT") write_vat_register(false, options, out);
  else throw std::invalid_argument("archivo de intercambio desconocido: " + std::string(file_name));
}

std::string company_sql(const Options& options) {
  const int counter = options.numbering == Numbering::Journal ? 0 : 1;
  const int by_date = options.numbering == Numbering::Date ? 1 : 0;
  return "-- The sample company: its record with the level mask, the numbering\n"
         "-- settings and its journals. Load it with kavelo-db sql into a database\n"
         "-- that kavelo-db create made.\n"
         "INSERT INTO F_EMP (CODEMP, NOMEMP, FRMEMP) VALUES ('" +
         std::string(kCompanyCode) + "', '" + cp1252_to_utf8(words().company_name) + "', '" +
         level_mask(options.records) +
         "');\n"
         "INSERT INTO F_AUT (CODAUT, NAAAUT, NAMAUT) VALUES (1, " +
         number(counter) + ", " + number(by_date) +
         ");\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (1, 'Diario general', 1);\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (2, 'Diario de ventas', 1);\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (3, 'Diario de compras', 1);\n"
         "INSERT INTO F_DIA (CODDIA, NOMDIA, ASIDIA) VALUES (4, 'Diario de nóminas', 1);\n";
}

std::string connection_file(const std::filesystem::path& dir, const Options& options) {
  std::string folder = dir.generic_string();
  if (folder.empty() || folder.back() != '/') folder += '/';
  const std::string folder_1252 = utf8_to_cp1252(folder);
  if (cp1252_to_utf8(folder_1252) != folder)
    throw std::runtime_error("La ruta '" + folder + "' no se puede escribir en Windows-1252.");
  const std::string lines[] = {
      folder_1252,
      folder_1252 + "datos/",
      std::string(kCompanyCode),
      std::string(kDatabaseSuffix),
      "|",
      to1252("Doveduzi Kavelo — datos de muestra"),
      words().company_name,
      to1252("Importación de muestra: ") + number(options.records) + to1252(" registros por archivo, semilla ") +
          std::to_string(options.seed),
  };
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

void write_sample(const std::filesystem::path& dir, const Options& options) {
  check_options(options);
  const std::filesystem::path folder = std::filesystem::absolute(dir);
  std::error_code ec;
  std::filesystem::create_directories(folder / "datos", ec);
  if (ec) throw std::runtime_error("No se puede crear la carpeta '" + (folder / "datos").string() + "': " + ec.message());

  auto write = [&](const std::string& name, auto&& fill) {
    const std::filesystem::path path = folder / name;
    auto buffer = std::make_unique<char[]>(1 << 20);
    std::ofstream out;
    out.rdbuf()->pubsetbuf(buffer.get(), 1 << 20);
    out.open(path, std::ios::binary | std::ios::trunc);
    if (out) fill(out);
    out.close();
    if (!out) throw std::runtime_error("No se puede escribir el archivo '" + path.string() + "'.");
  };
  for (std::string_view name : interchange_file_names())
    write(std::string(name), [&](std::ostream& out) { write_interchange_file(name, options, out); });
  write(std::string(kConnectionFileName), [&](std::ostream& out) { out << connection_file(folder, options); });
  write(std::string(kCompanySqlName), [&](std::ostream& out) { out << company_sql(options); });
}

int run_sample_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  constexpr const char* usage =
      "Uso: kavelo-db sample CARPETA [--records N] [--seed S] [--numbering counter|date|journal]\n";
  if (args.size() < 2 || args.size() % 2 != 0) {
    err << usage;
    return 2;
  }
  Options options;
  auto whole = [](const std::string& text, auto& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
  };
  for (std::size_t i = 2; i < args.size(); i += 2) {
    const std::string& option = args[i];
    const std::string& value = args[i + 1];
    bool good = true;
    if (option == "--records") good = whole(value, options.records);
    else if (option == "--seed") good = whole(value, options.seed);
    else if (option == "--numbering") {
      if (value == "counter") options.numbering = Numbering::Counter;
      else if (value == "date") options.numbering = Numbering::Date;
      else if (value == "journal") options.numbering = Numbering::Journal;
      else good = false;
    } else good = false;
    if (!good) {
      err << "kavelo-db sample: valor no válido para " << option << ": " << value << '\n' << usage;
      return 2;
    }
  }
  try {
    check_options(options);
  } catch (const std::invalid_argument& e) {
    err << "kavelo-db sample: " << e.what() << '\n';
    return 2;
  }
  const std::filesystem::path dir = std::filesystem::absolute(args[1]);
  write_sample(dir, options);
  const std::string database =
      (dir / "datos" / (std::string(kCompanyCode) + std::string(kDatabaseSuffix) + ".MDB")).string();
  out << "Datos de muestra en " << dir.string() << ": " << options.records << " registros por archivo.\n"
      << "Para importarlos:\n"
      << "  kavelo-db create " << database << '\n'
      << "  kavelo-db sql " << database << ' ' << (dir / kCompanySqlName).string() << '\n'
      << "  kavelo " << (dir / kConnectionFileName).string() << '\n';
  return 0;
}

}  // namespace kavelo::sample

#include "sample_parties.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "sample_chart.h"
#include "sample_format.h"
#include "sample_random.h"
#include "sample_tables.h"

namespace kavelo::sample {
namespace {

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

}  // namespace

Party make_party(std::uint64_t seed, PartyKind kind, std::int64_t index, bool name_only) {
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

void write_parties(PartyKind kind, const Options& o, std::ostream& out) {
  const int length = account_length(o.records);
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

}  // namespace kavelo::sample

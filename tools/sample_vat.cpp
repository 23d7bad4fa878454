#include "sample_vat.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "sample_chart.h"
#include "sample_format.h"
#include "sample_parties.h"
#include "sample_random.h"

namespace kavelo::sample {
namespace {

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

}  // namespace

void write_vat_register(bool output, const Options& o, std::ostream& out) {
  const int length = account_length(o.records);
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

}  // namespace kavelo::sample

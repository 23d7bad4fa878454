#include "sample_journal.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sample_chart.h"
#include "sample_format.h"
#include "sample_parties.h"
#include "sample_random.h"
#include "sample_tables.h"

namespace kavelo::sample {
namespace {

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

}  // namespace

void write_journal(const Options& options, std::ostream& out) { JournalWriter(options, out).write(); }

}  // namespace kavelo::sample

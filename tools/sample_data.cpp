#include "sample_data.h"

#include <array>
#include <charconv>
#include <fstream>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <system_error>

#include "platform/codepage.h"
#include "sample_chart.h"
#include "sample_format.h"
#include "sample_journal.h"
#include "sample_parties.h"
#include "sample_random.h"
#include "sample_tables.h"

namespace kavelo::sample {
namespace {

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

std::string level_mask(std::int64_t records) {
  std::string mask(static_cast<std::size_t>(account_length(records)), '0');
  mask[0] = mask[1] = mask[3] = mask.back() = '1';
  return mask;
}

void write_interchange_file(std::string_view file_name, const Options& options, std::ostream& out) {
  check_options(options);
  if (file_name == "MAE.TXT") write_chart(options, out);
  else if (file_name == "CLI.TXT") write_parties(PartyKind::Customer, options, out);
  else if (file_name == "PRO.TXT") write_parties(PartyKind::Supplier, options, out);
  else if (file_name == "APU.TXT") write_journal(options, out);
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

#pragma once
// Customers, suppliers and employees, and the files of the first two (CLI.TXT,
// PRO.TXT). Each party is drawn from a stream of its own, so that it is the
// same in every file that names it.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "sample_data.h"

namespace kavelo::sample {

enum class PartyKind { Customer, Supplier };

// A customer or supplier, its texts in Windows-1252.
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

// The party `index` of its kind. `name_only` stops after the name, trade name
// and tax identifier, which are drawn first so that they are the same either way.
Party make_party(std::uint64_t seed, PartyKind kind, std::int64_t index, bool name_only = false);

// The full name of employee `index`, in Windows-1252.
std::string employee_name(std::uint64_t seed, std::int64_t index);

// CLI.TXT or PRO.TXT: N customers or suppliers, every field filled.
void write_parties(PartyKind kind, const Options& options, std::ostream& out);

}  // namespace kavelo::sample

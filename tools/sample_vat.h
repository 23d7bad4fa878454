#pragma once
// The two VAT registers: IVR.TXT of the invoices issued, IVS.TXT of those
// received.
#include <iosfwd>

#include "sample_data.h"

namespace kavelo::sample {

// N invoices, every field filled, the amounts adding up: `output` for the
// invoices issued to customers, else those received from suppliers.
void write_vat_register(bool output, const Options& options, std::ostream& out);

}  // namespace kavelo::sample

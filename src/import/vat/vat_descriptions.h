#pragma once
// The VAT registers as the import procedure reads them.
#include "interchange/import_procedure.h"

namespace kavelo {

const ImportDescription& output_vat_description();  // IVR.TXT, the output-VAT register, into F_IVR
const ImportDescription& input_vat_description();   // IVS.TXT, the input-VAT register, into F_IVS

}  // namespace kavelo

#pragma once
// The descriptions that prc_IVR and prc_IVS hand to the import procedure.
#include "interchange/import_procedure.h"

namespace kavelo {

const ImportDescription& output_vat_import();  // IVR.TXT
const ImportDescription& input_vat_import();   // IVS.TXT

}  // namespace kavelo

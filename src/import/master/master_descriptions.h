#pragma once
// The descriptions that prc_MAE, prc_CLI and prc_PRO hand to the import
// procedure: file, identifier, key, record layout and progress text.
#include "interchange/import_procedure.h"

namespace kavelo {

const ImportDescription& accounts_import();   // MAE.TXT
const ImportDescription& customers_import();  // CLI.TXT
const ImportDescription& suppliers_import();  // PRO.TXT

}  // namespace kavelo

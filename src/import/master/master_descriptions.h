#pragma once
// The master files as the import procedure reads them: file, table,
// identifier, key, record layout and progress text.
#include "interchange/import_procedure.h"

namespace kavelo {

const ImportDescription& accounts_description();   // MAE.TXT into F_MAE
const ImportDescription& customers_description();  // CLI.TXT into F_CLI
const ImportDescription& suppliers_description();  // PRO.TXT into F_PRO

}  // namespace kavelo

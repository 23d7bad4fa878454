#pragma once
// The import of the journal lines, with their numbering and balance posting.
#include "interchange/import_procedure.h"
#include "interchange/run.h"

namespace kavelo {

const ImportDescription& journal_description();  // APU.TXT into F_APU

// Imports APU.TXT: each line numbered when it asks for it, stored, and posted
// to the balances of F_SAL.
void import_journal(Run& run);

}  // namespace kavelo

#pragma once
// The import of the journal lines, with their numbering and balance posting.

namespace kavelo {

void prc_APU();  // APU.TXT into F_APU, each stored line posted to F_SAL

}  // namespace kavelo

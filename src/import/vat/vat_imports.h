#pragma once
// The imports of the VAT registers.

namespace kavelo {

void prc_IVR();  // IVR.TXT, the output-VAT register, into F_IVR
void prc_IVS();  // IVS.TXT, the input-VAT register, into F_IVS

}  // namespace kavelo

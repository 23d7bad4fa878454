#pragma once
// The imports of the master files: accounts, customers and suppliers.

namespace kavelo {

void prc_MAE();  // MAE.TXT into F_MAE
void prc_CLI();  // CLI.TXT into F_CLI
void prc_PRO();  // PRO.TXT into F_PRO

}  // namespace kavelo

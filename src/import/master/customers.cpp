// CLI.TXT: one customer per record, keyed by its code.
#include "import/master/master_descriptions.h"
#include "import/master/party_layout.h"

namespace kavelo {

const ImportDescription& customers_description() {
  using enum Conversion;
  using namespace party;
  static const ImportDescription description{
      .file_name = "CLI.TXT",
      .table = "F_CLI",
      .identifier = "C001",
      .error_label = "Clientes: (",
      .key_column = "CODCLI",
      .key_kind = KeyKind::TextCode,
      .key_field_code = "01",
      // From position 3, after the code.
      .layout = SuffixedLayout("CLI", 3)
                    .add("TFC", Number)
                    .add(kNomToRet)
                    .add(kCopToNum)
                    .add("CPO", Text)
                    .add(kPobToMem)
                    .add("FEL", Number)
                    .add(kDepToCpa5)
                    .fields(),
      .progress_text = "Convirtiendo Clientes: ",
      .progress_first = "CODCLI",
      .progress_second = "NOMCLI",
  };
  return description;
}

}  // namespace kavelo

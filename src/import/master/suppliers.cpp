// PRO.TXT: one supplier per record, keyed by its code. The record is the
// customer's without TFC and FEL, with TDE after RET and the postal code read
// as a number.
#include "import/master/master_descriptions.h"
#include "import/master/party_layout.h"

namespace kavelo {

const ImportDescription& suppliers_description() {
  using enum Conversion;
  using namespace party;
  static const ImportDescription description{
      .file_name = "PRO.TXT",
      .table = "F_PRO",
      .identifier = "P001",
      .error_label = "Proveedores: (",
      .key_column = "CODPRO",
      .key_kind = KeyKind::TextCode,
      .key_field_code = "01",
      // From position 3, after the code.
      .layout = SuffixedLayout("PRO", 3)
                    .add(kNomToRet)
                    .add("TDE", Number)
                    .add(kCopToNum)
                    .add("CPO", Number)
                    .add(kPobToMem)
                    .add(kDepToCpa5)
                    .fields(),
      .progress_text = "Convirtiendo proveedores: ",
      .progress_first = "CODPRO",
      .progress_second = "NOMPRO",
  };
  return description;
}

}  // namespace kavelo

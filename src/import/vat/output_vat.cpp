// IVR.TXT: the output-VAT register, one entry per record under the register
// code the record carries. The code is cut and converted under field code
// "00", as part of the look-up, and written under "01".
#include "import/vat/register_layout.h"
#include "import/vat/vat_descriptions.h"

namespace kavelo {

const ImportDescription& output_vat_description() {
  using enum Conversion;
  using namespace vat_register;
  static const ImportDescription description{
      .file_name = "IVR.TXT",
      .table = "F_IVR",
      .identifier = "R001",
      .error_label = "IVA/IGIC repercutido: (",
      .key_column = "CODIVR",
      .key_kind = KeyKind::RegisterNumber,
      .key_field_code = "01",
      // From position 3, after the register code.
      .layout = SuffixedLayout("IVR", 3).add(kLibToOfd).add("IEL", Number).add(k347ToRfr3).fields(),
      .progress_text = "Convirtiendo registros de IVA/IGIC repercutido: ",
      .progress_first = "CODIVR",
      .progress_second = "FECIVR",
  };
  return description;
}

}  // namespace kavelo

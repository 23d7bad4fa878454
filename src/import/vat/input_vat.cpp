// IVS.TXT: the input-VAT register, keyed like the output-VAT one. Where the
// output-VAT record has IEL, this record has nine fields about the deduction
// and the investment goods, so everything from 347 on stands eight positions
// further.
#include "import/vat/register_layout.h"
#include "import/vat/vat_descriptions.h"

namespace kavelo {

const ImportDescription& input_vat_description() {
  using enum Conversion;
  using namespace vat_register;
  static const ImportDescription description{
      .file_name = "IVS.TXT",
      .table = "F_IVS",
      .identifier = "S001",
      .error_label = "IVA/IGIC soportado: (",
      .key_column = "CODIVS",
      .key_kind = KeyKind::RegisterNumber,
      .key_field_code = "01",
      // From position 3, after the register code.
      .layout = SuffixedLayout("IVS", 3)
                    .add(kLibToOfd)
                    .add("DED", Text)
                    .add("PDE", Amount)
                    .add("INV", Text)
                    .add("IIDE", Text)
                    .add("IPRO", Amount)
                    .add("IFIN", TextIfNotEmpty)
                    .add("IRAI", Amount)
                    .add("IIEN", Text)
                    .add("IRDE", Amount)
                    .add(k347ToRfr3)
                    .fields(),
      .progress_text = "Convirtiendo registros de IVA/IGIC soportado: ",
      .progress_first = "CODIVS",
      .progress_second = "FECIVS",
  };
  return description;
}

}  // namespace kavelo

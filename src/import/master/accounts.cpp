// MAE.TXT: one account per record, keyed by its code.
#include "import/master/master_descriptions.h"

namespace kavelo {

const ImportDescription& accounts_description() {
  using enum Conversion;
  static const ImportDescription description{
      .file_name = "MAE.TXT",
      .table = "F_MAE",
      .identifier = "M001",
      .error_label = "Maestro: (",
      .key_column = "CODMAE",
      .key_kind = KeyKind::TextCode,
      .key_field_code = "01",
      .layout =
          {
              {"NOMMAE", "02", Text},
              {"NEXMAE", "03", Text},
              {"NATMAE", "04", Number},
              {"RACMAE", "05", Number},
              {"RSCMAE", "06", Number},
              {"MEMMAE", "07", Text},
          },
      .progress_text = "Convirtiendo cuentas: ",
      .progress_first = "CODMAE",
      .progress_second = "NOMMAE",
  };
  return description;
}

}  // namespace kavelo

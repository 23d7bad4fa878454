#include "interchange/run_state.h"

namespace kavelo {

RunState& run() {
  static RunState state;
  return state;
}

void add_closing_message(std::string& texto_errores, std::string_view message) {
  if (!texto_errores.empty() && !texto_errores.ends_with("\r\n")) texto_errores += "\r\n";
  texto_errores += message;
}

}  // namespace kavelo

#include "app/import_run.h"

#include "import/journal/journal_import.h"
#include "import/master/master_imports.h"
#include "import/vat/vat_imports.h"
#include "platform/window.h"

namespace kavelo {
namespace {

struct Step {
  const char* text;
  void (*procedure)();
};

constexpr Step kSteps[] = {
    {"Importando cuentas...", prc_MAE},
    {"Importando clientes...", prc_CLI},
    {"Importando proveedores...", prc_PRO},
    {"Importando apuntes...", prc_APU},
    {"Importando IVA/IGIC repercutido...", prc_IVR},
    {"Importando IVA/IGIC soportado...", prc_IVS},
};

void announce(Window& window, const char* text) {
  window.set_label(Label::Label3, text);
  window.repaint_label(Label::Label3);
  window.do_events();
}

}  // namespace

void Timer1_Timer() {
  static bool started = false;
  if (started) return;
  started = true;

  Window& window = main_window();
  window.set_hourglass(true);
  for (const Step& step : kSteps) {
    announce(window, step.text);
    step.procedure();
  }
  announce(window, "Proceso concluido");
}

}  // namespace kavelo

#include "app/import_run.h"

#include "import/journal/journal_import.h"
#include "import/master/master_descriptions.h"
#include "import/vat/vat_descriptions.h"

namespace kavelo {
namespace {

void announce(Window& window, const char* text) {
  window.set_label(Label::progress, text);
  window.repaint_label(Label::progress);
  window.do_events();
}

}  // namespace

void import_all(Run& run) {
  struct Step {
    const char* text;
    void (*import)(Run&);
  };
  static constexpr Step kSteps[] = {
      {"Importando cuentas...", [](Run& r) { import_file(r, accounts_description()); }},
      {"Importando clientes...", [](Run& r) { import_file(r, customers_description()); }},
      {"Importando proveedores...", [](Run& r) { import_file(r, suppliers_description()); }},
      {"Importando apuntes...", import_journal},
      {"Importando IVA/IGIC repercutido...", [](Run& r) { import_file(r, output_vat_description()); }},
      {"Importando IVA/IGIC soportado...", [](Run& r) { import_file(r, input_vat_description()); }},
  };
  run.window.set_hourglass(true);
  for (const Step& step : kSteps) {
    announce(run.window, step.text);
    step.import(run);
  }
  announce(run.window, "Proceso concluido");
}

}  // namespace kavelo

// The entry point of the window module: the one symbol kavelo looks up after
// loading it.
#include "window/fltk_window.h"

extern "C" __attribute__((visibility("default"))) kavelo::Window* kavelo_make_graphical_window() {
  return kavelo::FltkWindow::open().release();
}

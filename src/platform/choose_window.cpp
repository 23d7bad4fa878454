#include "platform/window.h"

namespace kavelo {

std::unique_ptr<Window> choose_window() {
  auto window = make_graphical_window();
  return window ? std::move(window) : make_terminal_window();
}

}  // namespace kavelo

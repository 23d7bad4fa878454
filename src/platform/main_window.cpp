#include "platform/window.h"

namespace kavelo {
namespace {

std::unique_ptr<Window>& window_slot() {
  static std::unique_ptr<Window> window;
  return window;
}

}  // namespace

Window& main_window() {
  auto& window = window_slot();
  if (!window) window = make_terminal_window();
  return *window;
}

void set_main_window(std::unique_ptr<Window> window) { window_slot() = std::move(window); }

void choose_main_window() {
  auto window = make_graphical_window();
  set_main_window(window ? std::move(window) : make_terminal_window());
}

}  // namespace kavelo

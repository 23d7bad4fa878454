// Loads the graphical window's module when a display is named, so that a run
// without one never loads FLTK and the X libraries.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <fmt/format.h>

#include "platform/window.h"

namespace kavelo {
namespace {

// The folder of this program, with its "/".
std::string program_folder() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

}  // namespace

std::unique_ptr<Window> make_graphical_window() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  const std::string folder = program_folder();
  std::string tried;
  for (const char* name : {KAVELO_WINDOW_MODULE, KAVELO_WINDOW_MODULE_INSTALLED}) {
    const std::string path = folder + name;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      tried += fmt::format("\n  {}", ::dlerror());
      continue;
    }
    // Never unloaded: the window lives until the process ends.
    using Factory = Window* (*)();
    auto factory = reinterpret_cast<Factory>(::dlsym(module, "kavelo_make_graphical_window"));
    if (factory == nullptr) {
      tried += fmt::format("\n  {}: {}", path, ::dlerror());
      continue;
    }
    return std::unique_ptr<Window>(factory());
  }
  // The run goes on in the terminal; whoever expected a window learns why.
  fmt::print(stderr, "kavelo: sin la ventana, se trabaja en modo terminal:{}\n", tried);
  return nullptr;
}

}  // namespace kavelo

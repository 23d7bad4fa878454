// The connection file over any bytes: it is read or refused with one of our
// failures, and the folders it gives always end with "/".
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/connection_file.h"
#include "platform/failure.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static const std::string path = "/tmp/kavelo-conn-fuzz-" + std::to_string(getpid());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  auto lines = kavelo::split_lines(std::string_view(reinterpret_cast<const char*>(data), size), 8);
  if (lines.size() > 8) std::abort();
  kavelo::RunSettings settings;
  try {
    kavelo::read_connection_file(path, settings);
    if (!kavelo::as_folder(settings.interchange_dir).ends_with('/')) std::abort();
    std::string trimmed = kavelo::trim_blanks(settings.company_code);
    if (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.back() == ' ')) std::abort();
  } catch (const kavelo::Failure& failed) {
    if (failed.description().empty()) std::abort();
  }
  return 0;
}

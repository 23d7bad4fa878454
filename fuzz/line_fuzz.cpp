// The line reader and field cutting over any bytes: every line decodes, every
// cut shortens the record or leaves it whole, and nothing reads past the end.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "interchange/field_cutting.h"
#include "interchange/import_procedure.h"
#include "interchange/line_reader.h"
#include "platform/codepage.h"

namespace {

std::string scratch_file() {
  std::string path = "/tmp/kavelo-line-fuzz-" + std::to_string(getpid());
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte picks the separator: one Windows-1252 character, or none.
  std::string separador = data[0] == 0 ? std::string() : kavelo::cp1252_to_utf8(std::string(1, static_cast<char>(data[0])));
  static const std::string path = scratch_file();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  kavelo::LineReader reader(path);
  std::size_t lines = 0;
  while (!reader.at_end()) {
    std::string line = kavelo::with_separator(reader.read_line(), separador);
    if (++lines > size) std::abort();  // more lines than bytes: the reader is looping
    std::string_view registro = line;
    for (int i = 0; i < 64; ++i) {
      std::size_t before = registro.size();
      std::string field = kavelo::next_field(registro, separador);
      if (registro.size() > before || field.size() > before) std::abort();
      if (!field.empty() && field.back() == ' ') std::abort();
      if (kavelo::cp1252_to_utf8(kavelo::utf8_to_cp1252(field)) != field) std::abort();
    }
  }
  return 0;
}

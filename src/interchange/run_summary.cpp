#include "interchange/run_summary.h"

#include <fmt/format.h>

#include <chrono>

namespace kavelo {
namespace {

// Seconds with two decimals and the Spanish decimal comma.
std::string seconds_text(double seconds) {
  std::string text = fmt::format("{:.2f}", seconds);
  if (auto dot = text.find('.'); dot != std::string::npos) text[dot] = ',';
  return text;
}

// The records passed over that the table shows under their file.
constexpr long kPassedOverShown = 10;

// Under its file: where, the field with its column, and why; then the start
// of the record's text.
std::string failure_lines(const RecordFailure& f) {
  using Outcome = RecordFailure::Outcome;
  std::string where;
  if (f.outcome == Outcome::lost)
    where = fmt::format("perdidos desde el registro {}", f.record);
  else if (f.record <= 0)
    where = "parado antes del primer registro";
  else
    where = fmt::format("{} el registro {}", f.outcome == Outcome::stopped ? "parado en" : "rechazado", f.record);
  if (!f.field_code.empty()) {
    where += fmt::format(", campo {}", f.field_code);
    if (!f.column.empty()) where += fmt::format(" ({})", f.column);
  }
  std::string out = fmt::format("  {}: {}\n", where, f.description);
  if (!f.record_start.empty()) out += fmt::format("  registro: {}\n", f.record_start);
  return out;
}

}  // namespace

std::string record_start(std::string_view text, std::size_t length) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (count++ == length) return std::string(text.substr(0, i)) + "...";
  }
  return std::string(text);
}

// {fmt} pads UTF-8 text by characters, so "Leídos" lines up with the numbers.
std::string format_run_summary(const std::vector<FileSummary>& files) {
  std::string out = fmt::format("{:<8} {:>9} {:>9} {:>9} {:>10} {:>9} {:>11}\n", "Archivo", "Leídos", "Añadidos",
                                "Cambiados", "Duplicados", "Segundos", "Registros/s");
  for (const FileSummary& f : files) {
    const double seconds = std::chrono::duration<double>(f.elapsed).count();
    const std::string rate = seconds >= 0.001 && f.read > 0 ? fmt::format("{:.0f}", static_cast<double>(f.read) / seconds) : "-";
    out += fmt::format("{:<8} {:>9} {:>9} {:>9} {:>10} {:>9} {:>11}\n", f.file_name, f.read, f.added, f.changed,
                       f.duplicates, seconds_text(seconds), rate);
    // A file of many bad records would bury the table: the error report
    // names them all.
    long shown = 0, hidden = 0;
    const auto more = [&] {
      if (hidden > 0) out += fmt::format("  y {} registros rechazados más\n", hidden);
      hidden = 0;
    };
    for (const RecordFailure& failure : f.failures) {
      if (failure.outcome != RecordFailure::Outcome::passed_over) {
        more();
        out += failure_lines(failure);
      } else if (shown < kPassedOverShown) {
        ++shown;
        out += failure_lines(failure);
      } else {
        ++hidden;
      }
    }
    more();
  }
  return out;
}

}  // namespace kavelo

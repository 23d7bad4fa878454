#include "platform/regional.h"

#include <langinfo.h>
#include <locale.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <type_traits>

namespace kavelo {
namespace {

using Locale = std::unique_ptr<std::remove_pointer_t<locale_t>, decltype(&freelocale)>;

// The locale name that decides a category: LC_ALL, then the category's own
// variable, then LANG, as the C library picks it.
std::string_view locale_name(const char* category_variable) {
  for (const char* variable : {"LC_ALL", category_variable, "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

bool is_c_locale(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name.starts_with("C.");
}

// The C library's data of one category; null for the C locale (whose
// conventions are no one's) and for a locale that is not installed.
Locale open_locale(int category_mask, const char* category_variable) {
  const std::string name(locale_name(category_variable));
  if (is_c_locale(name)) return {nullptr, freelocale};
  return {newlocale(category_mask, name.c_str(), nullptr), freelocale};
}

struct DateFormat {
  DateOrder order;
  char separator;
};

// The order and separator of a date format such as "%d/%m/%y"; nullopt when
// it is not day, month and year in a known order.
std::optional<DateFormat> read_date_format(std::string_view format) {
  std::string fields;
  char separator = '/';
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%') {
      if (fields.size() == 1 && (format[i] == '-' || format[i] == '.')) separator = format[i];
      continue;
    }
    if (++i < format.size() && (format[i] == 'E' || format[i] == 'O' || format[i] == '-')) ++i;  // modifiers
    if (i == format.size()) break;
    switch (format[i]) {
      case 'd': case 'e': fields += 'd'; break;
      case 'm': fields += 'm'; break;
      case 'y': case 'Y': fields += 'y'; break;
      case 'D': fields += "mdy"; break;
      case 'F': fields += "ymd"; separator = '-'; break;
      default: return std::nullopt;
    }
  }
  if (fields == "dmy") return DateFormat{DateOrder::DayMonthYear, separator};
  if (fields == "mdy") return DateFormat{DateOrder::MonthDayYear, separator};
  if (fields == "ymd") return DateFormat{DateOrder::YearMonthDay, separator};
  return std::nullopt;
}

}  // namespace

// Each part falls back to the Spanish conventions on its own, so LC_TIME and
// LC_NUMERIC may name different locales.
RegionalSettings regional_settings_from_environment() {
  auto settings = RegionalSettings::spanish();
  if (const auto time = open_locale(LC_TIME_MASK, "LC_TIME")) {
    if (const auto format = read_date_format(nl_langinfo_l(D_FMT, time.get()))) {
      settings.date_order = format->order;
      settings.date_separator = format->separator;
    }
  }
  if (const auto numeric = open_locale(LC_NUMERIC_MASK, "LC_NUMERIC")) {
    std::string decimal = nl_langinfo_l(RADIXCHAR, numeric.get());
    if (!decimal.empty()) {
      settings.decimal_symbol = std::move(decimal);
      settings.grouping_symbol = nl_langinfo_l(THOUSEP, numeric.get());
    }
  }
  return settings;
}

}  // namespace kavelo

#include "db/store.h"

#include <algorithm>

#include <fmt/format.h>

#include "platform/failure.h"
#include "platform/text.h"

namespace kavelo::db {

int Table::find(std::string_view column) const {
  const std::string wanted = upper(column);
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (upper(columns[i].name) == wanted) return static_cast<int>(i);
  return -1;
}

int Table::at(std::string_view column) const {
  int i = find(column);
  if (i < 0) throw failure(ErrorCode::ItemNotFound, column);
  return i;
}

Key Table::key(std::initializer_list<std::string_view> names) const {
  return key(std::vector<std::string_view>(names));
}

Key Table::key(const std::vector<std::string_view>& names) const {
  Key wanted;
  for (std::string_view column : names) {
    int i = find(column);
    if (i < 0) throw failure(ErrorCode::ItemNotFound, column);
    wanted.columns.push_back(i);
  }
  std::vector<int> sorted = wanted.columns;
  std::sort(sorted.begin(), sorted.end());
  for (std::vector<int> unique : unique_keys) {
    std::sort(unique.begin(), unique.end());
    if (unique == sorted) return wanted;
  }
  std::string joined;
  for (std::string_view column : names) joined += (joined.empty() ? "" : ", ") + upper(column);
  throw failure(ErrorCode::NoKeyIndex, fmt::format("{} sobre {}", name, joined));
}

}  // namespace kavelo::db

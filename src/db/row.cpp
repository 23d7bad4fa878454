#include "db/row.h"

#include <strings.h>

#include "platform/failure.h"

namespace kavelo::db {
namespace {

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

void Row::add(std::string name, Value value) { items_.emplace_back(std::move(name), std::move(value)); }

bool Row::contains(std::string_view name) const {
  for (const auto& item : items_)
    if (same_name(item.first, name)) return true;
  return false;
}

const Value& Row::at(std::string_view name) const {
  for (const auto& item : items_)
    if (same_name(item.first, name)) return item.second;
  throw failure(ErrorCode::ItemNotFound, name);
}

}  // namespace kavelo::db

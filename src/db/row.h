#pragma once
// The values of one row, in the table's column order, keyed by column name
// without regard to case. It holds copies, not links to the database.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/value.h"

namespace kavelo::db {

class Row {
 public:
  void add(std::string name, Value value);
  bool empty() const { return items_.empty(); }
  std::size_t size() const { return items_.size(); }
  bool contains(std::string_view name) const;
  // An unknown name is error 3265.
  const Value& at(std::string_view name) const;
  const Value& at(std::size_t index) const { return items_.at(index).second; }
  const std::string& name(std::size_t index) const { return items_.at(index).first; }

 private:
  std::vector<std::pair<std::string, Value>> items_;
};

// Pairs of column name and the value the column must have; the value's type
// decides how its condition is written.
using KeyList = std::vector<std::pair<std::string, Value>>;

}  // namespace kavelo::db

#pragma once
// Record layouts of tables whose column names end in the table's code
// (NOMCLI, NOMPRO; BICIVR, BICIVS): two files that carry the same columns in
// places are built from the same runs of column stems, and each file names
// only where it differs. A field's code is its position in the record less one.
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "interchange/import_procedure.h"

namespace kavelo {

// A column without the table's code: "NOM" for NOMCLI and NOMPRO.
struct Stem {
  std::string_view stem;
  Conversion conversion;
};

class SuffixedLayout {
 public:
  // `first_position`: the position in the record of the first field added
  // (the identifier is position 1).
  SuffixedLayout(std::string_view suffix, int first_position) : suffix_(suffix), position_(first_position) {}

  SuffixedLayout& add(std::string_view stem, Conversion conversion) {
    fields_.push_back({keep(std::string(stem) + std::string(suffix_)), keep(fmt::format("{:02d}", position_ - 1)),
                       conversion});
    ++position_;
    return *this;
  }
  SuffixedLayout& add(std::span<const Stem> run) {
    for (const Stem& s : run) add(s.stem, s.conversion);
    return *this;
  }

  const std::vector<LayoutField>& fields() const { return fields_; }

 private:
  // The layout's texts live as long as the program: a description keeps views
  // of them, and each description is built once.
  static std::string_view keep(std::string text) {
    static std::deque<std::string> texts;
    return texts.emplace_back(std::move(text));
  }

  std::string_view suffix_;
  int position_;
  std::vector<LayoutField> fields_;
};

}  // namespace kavelo

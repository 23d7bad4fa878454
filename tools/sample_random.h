#pragma once
// Randomness of our own for the sample data: splitmix64 gives the same numbers
// everywhere, where the standard distributions differ from one library to the
// next.
#include <cstdint>
#include <vector>

namespace kavelo::sample {

inline std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Independent streams: one per file, and one per customer, supplier or
// employee, so that a party looks the same wherever it appears.
enum Stream : std::uint64_t {
  kChartStream = 1,
  kCustomerStream,
  kSupplierStream,
  kEmployeeStream,
  kJournalStream,
  kGuidStream,
  kOutputVatStream,
  kInputVatStream,
};

inline std::uint64_t stream_seed(std::uint64_t seed, Stream stream, std::uint64_t index = 0) {
  return mix(mix(seed + 0x9E3779B97F4A7C15ULL * stream) + index);
}

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    state_ += 0x9E3779B97F4A7C15ULL;
    return mix(state_);
  }
  // A whole number from lo to hi, both included.
  std::int64_t between(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(next() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool percent(int p) { return next() % 100 < static_cast<std::uint64_t>(p); }
  template <class T>
  const T& pick(const std::vector<T>& items) {
    return items[next() % items.size()];
  }

 private:
  std::uint64_t state_;
};

}  // namespace kavelo::sample

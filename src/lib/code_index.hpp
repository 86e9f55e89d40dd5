// Identifier codes to small numbers, looked up once per value change.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

#include "vcd/code_filter.hpp"
#include "vcd/idcode.hpp"

namespace quarnel {

// A flat table for the codes simulators write (below 2^20), a hash map for
// the rest.
class CodeIndex {
 public:
  static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

  // The number of `code`, or kNone.
  [[gnu::always_inline]] std::uint32_t find(vcd::IdCode code) const {
    if (code.value < flat_.size()) return flat_[code.value];
    if (sparse_.empty()) return kNone;
    const auto it = sparse_.find(code);
    return it == sparse_.end() ? kNone : it->second;
  }

  // The number of `code`, which becomes `number` when it has none yet.
  std::uint32_t insert(vcd::IdCode code, std::uint32_t number) {
    filter_.add(code);
    if (code.value >= kFlatLimit) return sparse_.try_emplace(code, number).first->second;
    cover(code);
    std::uint32_t& slot = flat_[code.value];
    if (slot == kNone) slot = number;
    return slot;
  }

  // A quick test on the text of a code: false when it has no number.
  const vcd::CodeFilter& filter() const { return filter_; }

  // Makes the flat table reach every code up to `code`, so that looking up
  // any declared code takes the same road.
  void cover(vcd::IdCode code) {
    const std::uint64_t size = std::min(code.value + 1, kFlatLimit);
    if (size > flat_.size()) flat_.resize(size, kNone);
  }

 private:
  static constexpr std::uint64_t kFlatLimit = std::uint64_t{1} << 20;
  std::vector<std::uint32_t> flat_;
  std::unordered_map<vcd::IdCode, std::uint32_t> sparse_;
  vcd::CodeFilter filter_;
};

}  // namespace quarnel

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

  // Whether codes have numbers, with the flat table's place held by value:
  // what a loop over many codes keeps in registers.
  class View {
   public:
    [[gnu::always_inline]] bool contains(vcd::IdCode code) const {
      if (code.value < size_) return flat_[code.value] != kNone;
      return index_->sparse_.empty() ? false : index_->find(code) != kNone;
    }
    // False when no code with the text `word` has a number (see
    // vcd::CodeFilter).
    [[gnu::always_inline]] bool may_contain(std::uint64_t word) const {
      return index_->filter_.may_contain(word);
    }

   private:
    friend class CodeIndex;
    View(const std::uint32_t* flat, std::uint64_t size, const CodeIndex* index)
        : flat_(flat), size_(size), index_(index) {}
    const std::uint32_t* flat_;
    std::uint64_t size_;
    const CodeIndex* index_;
  };
  View view() const { return {flat_.data(), flat_.size(), this}; }

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

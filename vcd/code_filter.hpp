// A quick test on the text of an identifier code, for the line road to step
// over the changes nobody asked for without working out their codes.
#pragma once

#include <array>
#include <cstdint>

#include "vcd/idcode.hpp"

namespace vcd {

// The codes added pass; most others fail.
class CodeFilter {
 public:
  void add(IdCode code) {
    if (const std::uint64_t word = id_code_text_word(code); word != 0) {
      const unsigned slot = slot_of(word);
      bits_[slot / 64] |= std::uint64_t{1} << (slot % 64);
    }
  }

  // False when no code added has the text `word` (as id_code_text_word).
  [[gnu::always_inline]] bool may_contain(std::uint64_t word) const {
    const unsigned slot = slot_of(word);
    return ((bits_[slot / 64] >> (slot % 64)) & 1) != 0;
  }

 private:
  // 2^15 slots make a 4 KiB table: it stays in the first-level cache beside
  // the line being read, and with the tens of codes a query usually asks for
  // a code nobody asked for passes in well under one case in a thousand.
  static constexpr int kSlotBits = 15;
  [[gnu::always_inline]] static unsigned slot_of(std::uint64_t word) {
    return static_cast<unsigned>((word * 0x9E3779B97F4A7C15ULL) >> (64 - kSlotBits));
  }
  std::array<std::uint64_t, (1u << kSlotBits) / 64> bits_{};
};

}  // namespace vcd

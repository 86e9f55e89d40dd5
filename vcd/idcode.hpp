// Identifier codes: the short printable names that link value changes to
// declared variables, read as numbers so they can be compared and hashed.
// Bijective base 94, first character least significant: "!" is 0, "~" is 93,
// "!!" is 94, so codes and their texts are one to one. The decoder is here
// once, for a text and for a text held in one word, with its inverse.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string_view>

namespace vcd {

struct IdCode {
  std::uint64_t value;
  friend bool operator==(IdCode, IdCode) = default;
};

enum class InvalidIdCode : std::uint8_t { Empty, InvalidChars, TooLong };

// The characters of a code are '!' to '~', the digits 0 to 93.
inline constexpr unsigned kCodeBase = 94;

inline std::expected<IdCode, InvalidIdCode> parse_id_code(std::string_view text) {
  if (text.empty()) return std::unexpected(InvalidIdCode::Empty);
  std::uint64_t value = 0;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    const unsigned digit = static_cast<unsigned char>(*it) - 33u;  // wraps below '!'
    if (digit >= kCodeBase) return std::unexpected(InvalidIdCode::InvalidChars);
    std::uint64_t next = 0;
    if (__builtin_mul_overflow(value, std::uint64_t{kCodeBase}, &next) ||
        __builtin_add_overflow(next, std::uint64_t{digit} + 1, &next)) {
      return std::unexpected(InvalidIdCode::TooLong);
    }
    value = next;
  }
  return IdCode{value - 1};
}

// The code whose `length` (1 to 8) characters, all code characters, are the
// lowest bytes of `word`, first character lowest: parse_id_code without a
// loop or a branch, for the hot paths.
[[gnu::always_inline]] inline IdCode id_code_of_text_word(std::uint64_t word, unsigned length) {
  // Digits of 1 to 94 summed in pairs of bytes, then of 16-bit and of
  // 32-bit lanes.
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  const std::uint64_t digits = (word - kOnes * 32) & (~std::uint64_t{0} >> (64 - 8 * length));
  const std::uint64_t pairs =
      (digits & 0x00FF00FF00FF00FFULL) + ((digits >> 8) & 0x00FF00FF00FF00FFULL) * kCodeBase;
  const std::uint64_t quads =
      (pairs & 0x0000FFFF0000FFFFULL) +
      ((pairs >> 16) & 0x0000FFFF0000FFFFULL) * (std::uint64_t{kCodeBase} * kCodeBase);
  return IdCode{(quads & 0xFFFFFFFFULL) +
                (quads >> 32) * (std::uint64_t{kCodeBase} * kCodeBase * kCodeBase * kCodeBase) - 1};
}

// The inverse: the text of a code of at most eight characters as one word,
// first character in the lowest byte, or 0 for a longer code.
constexpr std::uint64_t id_code_text_word(IdCode code) {
  std::uint64_t word = 0;
  std::uint64_t rest = code.value + 1;
  for (int shift = 0; rest != 0; shift += 8) {
    if (shift == 64) return 0;
    word |= ((rest - 1) % kCodeBase + 33) << shift;
    rest = (rest - 1) / kCodeBase;
  }
  return word;
}

}  // namespace vcd

template <>
struct std::hash<vcd::IdCode> {
  std::size_t operator()(vcd::IdCode code) const noexcept {
    // Codes are dense small numbers; a multiplicative mix spreads them.
    return static_cast<std::size_t>(code.value * 0x9E3779B97F4A7C15ULL >> 7);
  }
};

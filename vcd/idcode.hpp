// Identifier codes: the short printable names that link value changes to
// declared variables, read as numbers so they can be compared and hashed.
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

// Bijective base 94, first character least significant: "!" is 0, "~" is 93,
// "!!" is 94. One-to-one between code texts and values.
inline std::expected<IdCode, InvalidIdCode> parse_id_code(std::string_view text) {
  if (text.empty()) return std::unexpected(InvalidIdCode::Empty);
  std::uint64_t value = 0;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    const auto byte = static_cast<unsigned char>(*it);
    if (byte < 33 || byte > 126) return std::unexpected(InvalidIdCode::InvalidChars);
    std::uint64_t next = 0;
    if (__builtin_mul_overflow(value, std::uint64_t{94}, &next) ||
        __builtin_add_overflow(next, std::uint64_t{byte} - 32, &next)) {
      return std::unexpected(InvalidIdCode::TooLong);
    }
    value = next;
  }
  return IdCode{value - 1};
}

}  // namespace vcd

template <>
struct std::hash<vcd::IdCode> {
  std::size_t operator()(vcd::IdCode code) const noexcept {
    // Codes are dense small numbers; a multiplicative mix spreads them.
    return static_cast<std::size_t>(code.value * 0x9E3779B97F4A7C15ULL >> 7);
  }
};

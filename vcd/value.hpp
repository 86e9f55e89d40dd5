// Four-state logic values and their texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vcd {

enum class Value : std::uint8_t { Zero, One, Unknown, HighImpedance };

// The value of one of the characters 0 1 x X z Z.
constexpr std::optional<Value> value_from_char(char c) {
  switch (c) {
    case '0': return Value::Zero;
    case '1': return Value::One;
    case 'x':
    case 'X': return Value::Unknown;
    case 'z':
    case 'Z': return Value::HighImpedance;
    default: return std::nullopt;
  }
}

// Always lower case: "0", "1", "x", "z".
constexpr char to_char(Value value) {
  constexpr char kChars[] = {'0', '1', 'x', 'z'};
  return kChars[static_cast<std::uint8_t>(value)];
}

constexpr std::string_view to_text(Value value) {
  constexpr std::string_view kTexts[] = {"0", "1", "x", "z"};
  return kTexts[static_cast<std::uint8_t>(value)];
}

// A vector is held as its text form: one lower-case character per value, in
// the order written (most significant first), never padded or truncated.
struct Vector {
  std::string_view bits;
};

}  // namespace vcd

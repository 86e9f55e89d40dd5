// Four-state logic values and their texts.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vcd {

// The first four are the IEEE 1364 states; the rest are the nine-state
// letters that only the extended dialect reads.
enum class Value : std::uint8_t {
  Zero,
  One,
  Unknown,
  HighImpedance,
  Uninitialized,
  WeakUnknown,
  WeakZero,
  WeakOne,
  DontCare,
};

inline constexpr int kValueCount = 9;

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

// The value of a character of the extended dialect: those above, and the
// nine-state letters u U w W l L h H -.
constexpr std::optional<Value> nine_state_value_from_char(char c) {
  switch (c) {
    case 'u':
    case 'U': return Value::Uninitialized;
    case 'w':
    case 'W': return Value::WeakUnknown;
    case 'l':
    case 'L': return Value::WeakZero;
    case 'h':
    case 'H': return Value::WeakOne;
    case '-': return Value::DontCare;
    default: return value_from_char(c);
  }
}

// Always lower case: "0", "1", "x", "z", "u", "w", "l", "h", "-".
constexpr char to_char(Value value) {
  constexpr char kChars[] = {'0', '1', 'x', 'z', 'u', 'w', 'l', 'h', '-'};
  return kChars[static_cast<std::uint8_t>(value)];
}

constexpr std::string_view to_text(Value value) {
  return {&"01xzuwlh-"[static_cast<std::uint8_t>(value)], 1};
}

// A vector is held as its text form: one lower-case character per value, in
// the order written (most significant first), never padded or truncated.
struct Vector {
  std::string_view bits;
};

}  // namespace vcd

// The value carried by one change, and its display text.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "vcd/value.hpp"

namespace quarnel {

using u128 = unsigned __int128;

struct ChangeValue {
  // Integer: a vector of at most 128 bits, all 0 or 1. Real: a real change.
  // Text: a scalar, a vector with x or z bits or over 128 bits, a string.
  std::variant<u128, double, std::string> value;

  bool is_integer() const { return std::holds_alternative<u128>(value); }
  bool is_real() const { return std::holds_alternative<double>(value); }
  bool is_text() const { return std::holds_alternative<std::string>(value); }
};

// The value of a vector change, given as its text form ("0", "1", "x", "z"
// per bit, most significant first).
ChangeValue vector_change_value(vcd::Vector vector);

inline ChangeValue scalar_change_value(vcd::Value value) {
  return ChangeValue{std::string(vcd::to_text(value))};
}

// Decimal digits, no sign, no leading zeros.
std::string to_decimal(u128 value);
// Shortest text that reads back as the same double, positional notation,
// no exponent; "-0", "NaN", "inf", "-inf".
std::string real_display_text(double value);

// How a value is shown: decimal for integers, the real text above, and
// text unchanged.
std::string display_text(const ChangeValue& value);

}  // namespace quarnel

// The value carried by one change, and its display text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "vcd/value.hpp"

namespace quarnel {

using u128 = unsigned __int128;

struct ChangeValue {
  // Integer: a vector of at most 128 bits, all 0 or 1. Real: a real change.
  // Text: a scalar, a vector with x or z bits or over 128 bits, a string.
  std::variant<u128, double, std::string> value;
  // Whether a Text holds the bits of a scalar or vector change (one
  // lower-case state letter per bit) rather than the text of a string change.
  bool bits = false;

  static ChangeValue of_bits(std::string text) { return {std::move(text), true}; }
  static ChangeValue of_string(std::string text) { return {std::move(text), false}; }

  bool is_integer() const { return std::holds_alternative<u128>(value); }
  bool is_real() const { return std::holds_alternative<double>(value); }
  bool is_text() const { return std::holds_alternative<std::string>(value); }
  // Integers and the texts of scalar and vector changes.
  bool is_bits() const { return is_integer() || (bits && is_text()); }
};

using vcd::ChangeView;

// The value of a vector change, given as its text form (one lower-case
// state letter per bit, most significant first).
ChangeValue vector_change_value(std::string_view bits);

// The ChangeValue a change converts to.
ChangeValue change_value(const ChangeView& view);

// The number that a vector's text form stands for when it has 1 to 128
// bits, all 0 or 1; false otherwise (x or z bits, or longer).
bool binary_vector_value(std::string_view bits, u128& number);

// Decimal digits, no sign, no leading zeros.
std::string to_decimal(u128 value);
// The same digits written to `out`, which must hold kMaxDecimalDigits;
// returns how many were written.
inline constexpr std::size_t kMaxDecimalDigits = 39;
std::size_t write_decimal(u128 value, char* out);
// Shortest text that reads back as the same double, positional notation,
// no exponent; "-0", "NaN", "inf", "-inf".
std::string real_display_text(double value);

// How a value is shown: decimal for integers, the real text above, and
// text unchanged.
std::string display_text(const ChangeValue& value);

}  // namespace quarnel

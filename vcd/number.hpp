// Numbers written in VCD tokens.
#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

#include "vcd/error.hpp"

namespace vcd {

// An optional "+", then decimal digits only; read left to right, so the first
// fault met decides between invalid digit and too large.
std::expected<std::uint64_t, ParseErrorKind> parse_unsigned(std::string_view text,
                                                            std::uint64_t max);

inline std::expected<std::uint32_t, ParseErrorKind> parse_u32(std::string_view text) {
  const auto value = parse_unsigned(text, UINT32_MAX);
  if (!value) return std::unexpected(value.error());
  return static_cast<std::uint32_t>(*value);
}

inline std::expected<std::uint64_t, ParseErrorKind> parse_u64(std::string_view text) {
  return parse_unsigned(text, UINT64_MAX);
}

// A time as parse_u64 reads it, or written with a fraction of zeros
// ("3.0", "3.000"), which is read as the whole number; a fraction of digits
// that are not all zeros is TimeFraction.
std::expected<std::uint64_t, ParseErrorKind> parse_time_with_zero_fraction(std::string_view text);

// Sign, digits with an optional point, optional exponent; or inf, infinity,
// nan in any case. The nearest double is taken.
std::expected<double, ParseErrorKind> parse_real(std::string_view text);

}  // namespace vcd

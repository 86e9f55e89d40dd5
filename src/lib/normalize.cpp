#include "src/lib/normalize.hpp"

#include <optional>
#include <utility>

#include "vcd/unicode.hpp"

namespace quarnel {

namespace {

constexpr u128 kMaxU128 = ~u128{0};

std::optional<unsigned> digit_value(char c, unsigned base) {
  unsigned digit = base;
  if (c >= '0' && c <= '9') {
    digit = static_cast<unsigned>(c - '0');
  } else if (c >= 'a' && c <= 'f') {
    digit = static_cast<unsigned>(c - 'a') + 10;
  }
  if (digit >= base) return std::nullopt;
  return digit;
}

// The value of `digits` (lowercase, no sign) in `base`, or nullopt when it is
// empty, holds anything but digits of the base, or is 2^128 or more.
std::optional<u128> parse_unsigned(std::string_view digits, unsigned base) {
  if (digits.empty()) return std::nullopt;
  u128 value = 0;
  for (const char c : digits) {
    const auto digit = digit_value(c, base);
    if (!digit) return std::nullopt;
    if (value > (kMaxU128 - *digit) / base) return std::nullopt;
    value = value * base + *digit;
  }
  return value;
}

std::string_view drop_plus(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  return text;
}

}  // namespace

std::string normalize_value(const ChangeValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.value)) {
    return vcd::unicode::to_lower(*text);
  }
  return display_text(value);
}

TargetValue parse_target_value(std::string_view text) {
  std::string lowered = vcd::unicode::to_lower(vcd::unicode::trim_white_space(text));
  const std::string_view t = lowered;
  const std::optional<u128> number = t.starts_with("0x")
                                         ? parse_unsigned(drop_plus(t.substr(2)), 16)
                                         : parse_unsigned(drop_plus(t), 10);
  if (number) return TargetValue{*number};
  return TargetValue{std::move(lowered)};
}

std::string target_text(const TargetValue& target) {
  if (const auto* number = std::get_if<u128>(&target.value)) return to_decimal(*number);
  return std::get<std::string>(target.value);
}

}  // namespace quarnel

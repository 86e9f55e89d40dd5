#include "src/lib/target.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "src/lib/value_equality.hpp"
#include "vcd/unicode.hpp"
#include "vcd/value.hpp"

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

TargetMatcher::TargetMatcher(const TargetValue& target) : text_(target_text(target)) {
  if (const auto* number = std::get_if<u128>(&target.value)) number_ = *number;
  const bool bit_like =
      std::ranges::all_of(text_, [](char c) { return vcd::state_of_letter(c).has_value(); });
  const bool unknown_bits = std::ranges::any_of(text_, vcd::is_other_state);
  bits_ = bit_like && unknown_bits ? std::string(shorten_bits(text_)) : text_;
}

bool TargetMatcher::matches(const ChangeValue& value) const {
  if (const auto* number = std::get_if<u128>(&value.value)) return number_ == *number;
  if (value.is_bits()) {
    const std::string_view bits = shorten_bits(std::get<std::string>(value.value));
    if (std::ranges::any_of(bits, vcd::is_other_state)) return bits_ == bits;
    u128 small = 0;
    if (binary_vector_value(bits, small)) return number_ == small;
    // 2^128 or more: only a target of as many decimal digits can name it
    // (log10 2 is about 0.30103), which spares the long division otherwise.
    const auto digits = static_cast<double>(bits.size()) * 0.30103;
    const auto size = static_cast<double>(text_.size());
    return !number_ && size > digits - 2 && size < digits + 2 && binary_to_decimal(bits) == text_;
  }
  // Targets are lowercase, so a NaN is matched by "nan" rather than by
  // nothing at all.
  if (value.is_real() && std::isnan(std::get<double>(value.value))) return text_ == "nan";
  return normalize_value(value) == text_;
}

}  // namespace quarnel

#include "src/lib/value_equality.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "vcd/unicode.hpp"

namespace quarnel {

namespace {

// Beyond this width the padding would run past 65535 digits; since padding
// never changes whether two values of one signal are equal, it is dropped.
constexpr std::uint32_t kMaxPaddedWidth = 262140;

void append_hex(u128 value, std::size_t min_digits, std::string& out) {
  char digits[32];
  std::size_t count = 0;
  do {
    digits[count++] = "0123456789abcdef"[static_cast<unsigned>(value & 0xF)];
    value >>= 4;
  } while (value != 0);
  if (min_digits > count) out.append(min_digits - count, '0');
  while (count > 0) out += digits[--count];
}

bool is_binary(std::string_view bits) {
  return std::ranges::all_of(bits, [](char c) { return c == '0' || c == '1'; });
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// Whether the shortened bit text `bits` stands for `number`.
bool bits_equal_number(std::string_view bits, u128 number) {
  // Shortened, anything over 128 bits is 2^128 or more.
  u128 value = 0;
  return binary_vector_value(bits, value) && value == number;
}

// Whether two bit values (ChangeValue::is_bits) stand for the same bits.
bool same_bits(const ChangeValue& a, const ChangeValue& b) {
  const auto* number_a = std::get_if<u128>(&a.value);
  const auto* number_b = std::get_if<u128>(&b.value);
  if (number_a && number_b) return *number_a == *number_b;
  if (number_a) return bits_equal_number(shorten_bits(std::get<std::string>(b.value)), *number_a);
  if (number_b) return bits_equal_number(shorten_bits(std::get<std::string>(a.value)), *number_b);
  return shorten_bits(std::get<std::string>(a.value)) ==
         shorten_bits(std::get<std::string>(b.value));
}

}  // namespace

std::string binary_to_decimal(std::string_view bits) {
  // 64-bit words, least significant first, divided by 10^19 until nothing
  // is left; the remainders are the decimal digits 19 at a time.
  constexpr std::uint64_t kTen19 = 10000000000000000000ULL;
  std::vector<std::uint64_t> words((bits.size() + 63) / 64);
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[bits.size() - 1 - i] == '1') words[i / 64] |= std::uint64_t{1} << (i % 64);
  }
  while (!words.empty() && words.back() == 0) words.pop_back();
  std::vector<std::uint64_t> parts;
  while (!words.empty()) {
    u128 remainder = 0;
    for (auto word = words.rbegin(); word != words.rend(); ++word) {
      const u128 current = (remainder << 64) | *word;
      *word = static_cast<std::uint64_t>(current / kTen19);
      remainder = current % kTen19;
    }
    parts.push_back(static_cast<std::uint64_t>(remainder));
    while (!words.empty() && words.back() == 0) words.pop_back();
  }
  if (parts.empty()) return "0";
  std::string text = to_decimal(parts.back());
  for (auto part = parts.rbegin() + 1; part != parts.rend(); ++part) {
    const std::string digits = to_decimal(*part);
    text.append(19 - digits.size(), '0');
    text += digits;
  }
  return text;
}

std::string normalize_value(const ChangeValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.value)) {
    if (!value.bits) return vcd::unicode::to_lower(*text);
    const std::string_view bits = shorten_bits(*text);
    if (!is_binary(bits)) return std::string(bits);
    u128 number = 0;
    return binary_vector_value(bits, number) ? to_decimal(number) : binary_to_decimal(bits);
  }
  return display_text(value);
}

void comparison_text(const ChangeValue& value, std::uint32_t width, std::string& out) {
  out.clear();
  if (const auto* number = std::get_if<u128>(&value.value)) {
    if (width >= 2) {
      out += "0x";
      const std::size_t padding = width <= kMaxPaddedWidth ? (std::size_t{width} + 3) / 4 : 0;
      append_hex(*number, padding, out);
    } else {
      out += to_decimal(*number);
    }
  } else if (const auto* text = std::get_if<std::string>(&value.value)) {
    out += *text;
  } else {
    out += real_display_text(std::get<double>(value.value));
  }
}

bool same_toggle_value(const ChangeValue& a, const ChangeValue& b, std::uint32_t width) {
  if (a.is_bits() && b.is_bits()) return same_bits(a, b);
  // Other values of one variant tell by themselves, without building the
  // texts: distinct texts differ, distinct doubles have distinct shortest
  // texts, and every NaN reads "NaN".
  if (const auto* text = std::get_if<std::string>(&a.value); text && b.is_text()) {
    return *text == std::get<std::string>(b.value);
  }
  if (a.is_real() && b.is_real()) {
    const double x = std::get<double>(a.value);
    const double y = std::get<double>(b.value);
    return (std::isnan(x) && std::isnan(y)) ||
           std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
  }
  std::string first;
  std::string second;
  comparison_text(a, width, first);
  comparison_text(b, width, second);
  return first == second;
}

bool is_unknown(const ChangeValue& value) {
  const auto* text = std::get_if<std::string>(&value.value);
  if (text == nullptr) return false;
  return value.bits ? vcd::is_unknown_bits(shorten_bits(*text)) : vcd::is_unknown_string(*text);
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

bool values_agree(const ChangeValue& a, const ChangeValue& b) {
  if (a.is_bits() && b.is_bits()) return same_bits(a, b);
  if (a.is_real() && b.is_real()) {
    return std::bit_cast<std::uint64_t>(std::get<double>(a.value)) ==
           std::bit_cast<std::uint64_t>(std::get<double>(b.value));
  }
  if (a.is_text() && b.is_text() && !a.bits && !b.bits) {
    return equal_ignoring_ascii_case(std::get<std::string>(a.value),
                                     std::get<std::string>(b.value));
  }
  return normalize_value(a) == normalize_value(b);
}

}  // namespace quarnel

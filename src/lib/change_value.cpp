#include "src/lib/change_value.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

namespace quarnel {

namespace {

// The bits of up to 64 characters 0 and 1, first most significant; false if
// any other character is among them.
bool binary_word(std::string_view bits, std::uint64_t& word) {
  const std::size_t count = bits.size();
  std::uint64_t number = 0;
  std::size_t i = 0;
  // Eight characters at a time: each byte must be '0' (0x30) or '1' (0x31).
  for (; i + 8 <= count; i += 8) {
    std::uint64_t chunk = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      chunk |= std::uint64_t{static_cast<unsigned char>(bits[i + k])} << (8 * (7 - k));
    }
    chunk ^= 0x3030303030303030ULL;
    if ((chunk & ~0x0101010101010101ULL) != 0) return false;
    // Gather the low bit of every byte, first character highest.
    const std::uint64_t packed = (chunk * 0x0102040810204080ULL) >> 56;
    number = (number << 8) | packed;
  }
  for (; i < count; ++i) {
    const char bit = bits[i];
    if (bit != '0' && bit != '1') return false;
    number = (number << 1) | static_cast<std::uint64_t>(bit == '1');
  }
  word = number;
  return true;
}

}  // namespace

bool binary_vector_value(std::string_view bits, u128& number) {
  // No bits (a zero-width variable of the extended dialect) are no number.
  if (bits.empty() || bits.size() > 128) return false;
  if (bits.size() <= 64) {
    std::uint64_t word = 0;
    if (!binary_word(bits, word)) return false;
    number = word;
    return true;
  }
  const std::size_t high_count = bits.size() - 64;
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  if (!binary_word(bits.substr(0, high_count), high) ||
      !binary_word(bits.substr(high_count), low)) {
    return false;
  }
  number = (static_cast<u128>(high) << 64) | low;
  return true;
}

ChangeValue vector_change_value(std::string_view bits) {
  u128 number = 0;
  if (binary_vector_value(bits, number)) return ChangeValue{number};
  return ChangeValue::of_bits(std::string(bits));
}

ChangeValue change_value(const ChangeView& view) {
  switch (view.kind) {
    case ChangeView::Kind::Scalar:
      return ChangeValue::of_bits(std::string(vcd::to_text(view.scalar)));
    case ChangeView::Kind::Vector: return vector_change_value(view.text);
    case ChangeView::Kind::Real: return ChangeValue{view.real};
    case ChangeView::Kind::String: break;
  }
  return ChangeValue::of_string(std::string(view.text));
}

std::size_t write_decimal(u128 value, char* out) {
  // Up to 19 digits per 64-bit part, so the divisions by ten are 64-bit.
  constexpr std::uint64_t kTen19 = 10000000000000000000ULL;
  std::array<char, kMaxDecimalDigits> digits{};
  std::size_t pos = digits.size();
  const auto put_part = [&](std::uint64_t part, bool pad) {
    const std::size_t stop = pos - 19;
    do {
      digits[--pos] = static_cast<char>('0' + part % 10);
      part /= 10;
    } while (part != 0);
    if (pad) {
      while (pos > stop) digits[--pos] = '0';
    }
  };
  if (value >> 64 == 0) {
    put_part(static_cast<std::uint64_t>(value), false);
  } else {
    put_part(static_cast<std::uint64_t>(value % kTen19), true);
    value /= kTen19;
    if (value >> 64 == 0) {
      put_part(static_cast<std::uint64_t>(value), false);
    } else {
      put_part(static_cast<std::uint64_t>(value % kTen19), true);
      put_part(static_cast<std::uint64_t>(value / kTen19), false);
    }
  }
  const std::size_t count = digits.size() - pos;
  std::copy(digits.data() + pos, digits.data() + digits.size(), out);
  return count;
}

std::string to_decimal(u128 value) {
  std::array<char, kMaxDecimalDigits> digits{};
  return {digits.data(), write_decimal(value, digits.data())};
}

std::string real_display_text(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // The shortest digits that read back as `value`, as d.ddde±x, then laid
  // out without the exponent.
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::scientific);
  const std::string_view scientific(buffer.data(), result.ptr);
  const std::size_t e = scientific.find('e');
  std::string_view mantissa = scientific.substr(0, e);
  int exponent = 0;
  std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+' ? 1 : 0), result.ptr,
                  exponent);

  std::string text;
  if (mantissa.front() == '-') {
    text += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (const char c : mantissa) {
    if (c != '.') digits += c;
  }
  if (exponent < 0) {
    text += "0.";
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
    return text;
  }
  const auto whole = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= whole) {
    text += digits;
    text.append(whole - digits.size(), '0');
  } else {
    text.append(digits, 0, whole);
    text += '.';
    text.append(digits, whole);
  }
  return text;
}

std::string display_text(const ChangeValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, u128>) {
          return to_decimal(v);
        } else if constexpr (std::is_same_v<T, double>) {
          return real_display_text(v);
        } else {
          return v;
        }
      },
      value.value);
}

}  // namespace quarnel

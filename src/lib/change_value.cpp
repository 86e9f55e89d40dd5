#include "src/lib/change_value.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace quarnel {

ChangeValue vector_change_value(vcd::Vector vector) {
  const std::string_view bits = vector.bits;
  if (bits.size() <= 128) {
    u128 number = 0;
    bool binary = true;
    for (const char bit : bits) {
      if (bit != '0' && bit != '1') {
        binary = false;
        break;
      }
      number = (number << 1) | static_cast<u128>(bit == '1');
    }
    if (binary) return ChangeValue{number};
  }
  return ChangeValue{std::string(bits)};
}

std::string to_decimal(u128 value) {
  std::array<char, 40> digits{};
  std::size_t pos = digits.size();
  do {
    digits[--pos] = static_cast<char>('0' + static_cast<int>(value % 10));
    value /= 10;
  } while (value != 0);
  return {digits.data() + pos, digits.size() - pos};
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

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
  // The longest fixed form is a subnormal: "-0." and 1074 digits.
  std::array<char, 1100> buffer{};
  const auto result =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
  return {buffer.data(), result.ptr};
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

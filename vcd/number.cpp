#include "vcd/number.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace vcd {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool equals_ignoring_ascii_case(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

std::size_t count_digits(std::string_view text, std::size_t pos) {
  std::size_t n = 0;
  while (pos + n < text.size() && is_digit(text[pos + n])) ++n;
  return n;
}

// Decimal exponent of the leading significant digit of a well-formed decimal
// literal (unsigned part), used only to tell overflow from underflow.
bool overflows(std::string_view digits) {
  std::int64_t magnitude = 0;
  bool seen_point = false;
  bool seen_significant = false;
  std::size_t i = 0;
  for (; i < digits.size() && digits[i] != 'e' && digits[i] != 'E'; ++i) {
    const char c = digits[i];
    if (c == '.') {
      seen_point = true;
    } else if (!seen_significant && c == '0') {
      if (seen_point) --magnitude;
    } else {
      if (!seen_significant && seen_point) --magnitude;
      seen_significant = true;
      if (!seen_point) ++magnitude;
    }
  }
  std::int64_t exponent = 0;
  if (i < digits.size()) {
    std::string_view e = digits.substr(i + 1);
    const bool negative = !e.empty() && e.front() == '-';
    if (!e.empty() && (e.front() == '-' || e.front() == '+')) e.remove_prefix(1);
    for (const char c : e) {
      exponent = std::min<std::int64_t>(exponent * 10 + (c - '0'), 1'000'000'000);
    }
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0;
}

}  // namespace

std::expected<std::uint64_t, ParseErrorKind> parse_unsigned(std::string_view text,
                                                            std::uint64_t max) {
  if (text.empty()) return std::unexpected(ParseErrorKind::IntEmpty);
  if (text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty()) return std::unexpected(ParseErrorKind::IntInvalidDigit);
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::unexpected(ParseErrorKind::IntInvalidDigit);
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) return std::unexpected(ParseErrorKind::IntTooLarge);
    value = value * 10 + digit;
  }
  return value;
}

std::expected<std::uint64_t, ParseErrorKind> parse_time_with_zero_fraction(std::string_view text) {
  const auto whole = parse_u64(text);
  const std::size_t point = text.find('.');
  if (whole || whole.error() != ParseErrorKind::IntInvalidDigit ||
      point == std::string_view::npos) {
    return whole;
  }
  const auto integer = parse_u64(text.substr(0, point));
  const std::string_view fraction = text.substr(point + 1);
  if (!integer || fraction.empty() || count_digits(fraction, 0) != fraction.size()) return whole;
  if (fraction.find_first_not_of('0') != std::string_view::npos) {
    return std::unexpected(ParseErrorKind::TimeFraction);
  }
  return integer;
}

std::expected<double, ParseErrorKind> parse_real(std::string_view text) {
  if (text.empty()) return std::unexpected(ParseErrorKind::FloatEmpty);
  bool negative = false;
  std::string_view body = text;
  if (body.front() == '+' || body.front() == '-') {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (equals_ignoring_ascii_case(body, "inf") || equals_ignoring_ascii_case(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_ascii_case(body, "nan")) {
    return std::copysign(std::numeric_limits<double>::quiet_NaN(), negative ? -1.0 : 1.0);
  }
  // Check the grammar first: from_chars alone would accept more.
  std::size_t pos = count_digits(body, 0);
  std::size_t mantissa_digits = pos;
  if (pos < body.size() && body[pos] == '.') {
    const std::size_t frac = count_digits(body, pos + 1);
    mantissa_digits += frac;
    pos += 1 + frac;
  }
  if (mantissa_digits == 0) return std::unexpected(ParseErrorKind::FloatInvalid);
  const bool exponent = pos < body.size() && (body[pos] == 'e' || body[pos] == 'E');
  if (exponent) {
    ++pos;
    if (pos < body.size() && (body[pos] == '+' || body[pos] == '-')) ++pos;
    const std::size_t exp_digits = count_digits(body, pos);
    if (exp_digits == 0) return std::unexpected(ParseErrorKind::FloatInvalid);
    pos += exp_digits;
  }
  if (pos != body.size()) return std::unexpected(ParseErrorKind::FloatInvalid);

  // Up to fifteen digits and no exponent: the digits and the power of ten
  // are exact doubles, so one division gives the nearest double.
  if (mantissa_digits <= 15 && !exponent) {
    constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    std::uint64_t digits = 0;
    std::size_t fraction = 0;
    bool after_point = false;
    for (const char c : body) {
      if (c == '.') {
        after_point = true;
        continue;
      }
      digits = digits * 10 + static_cast<std::uint64_t>(c - '0');
      fraction += after_point ? 1 : 0;
    }
    const double value = static_cast<double>(digits) / kPowers[fraction];
    return negative ? -value : value;
  }

  double value = 0.0;
  const auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (ec == std::errc::result_out_of_range) {
    value = overflows(body) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc() || end != body.data() + body.size()) {
    return std::unexpected(ParseErrorKind::FloatInvalid);
  }
  return negative ? -value : value;
}

}  // namespace vcd

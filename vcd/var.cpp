#include "vcd/var.hpp"

#include <array>
#include <charconv>

#include "vcd/unicode.hpp"

namespace vcd {

namespace {

constexpr std::array<std::string_view, 18> kVarTypes = {
    "event",  "integer", "parameter", "real", "reg",  "supply0", "supply1", "time", "tri",
    "triand", "trior",   "trireg",    "tri0", "tri1", "wand",    "wire",    "wor",  "string"};

// Optional sign, then one or more decimal digits, within the signed 32-bit
// range; surrounding Unicode whitespace is ignored.
std::optional<std::int32_t> parse_i32(std::string_view text) {
  text = unicode::trim_white_space(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{1} << 31) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::optional<VarType> parse_var_type(std::string_view text) {
  // The types nearly every declaration uses, before the full search.
  if (text == "wire") return VarType::Wire;
  if (text == "reg") return VarType::Reg;
  for (std::size_t i = 0; i < kVarTypes.size(); ++i) {
    if (kVarTypes[i] == text) return static_cast<VarType>(i);
  }
  return std::nullopt;
}

std::optional<ReferenceIndex> parse_reference_index(std::string_view text) {
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
  const std::string_view inner = text.substr(1, text.size() - 2);
  const std::size_t colon = inner.find(':');
  if (colon == std::string_view::npos) {
    const auto index = parse_i32(inner);
    if (!index) return std::nullopt;
    return BitSelect{*index};
  }
  const auto msb = parse_i32(inner.substr(0, colon));
  const auto lsb = parse_i32(inner.substr(colon + 1));
  if (!msb || !lsb) return std::nullopt;
  return Range{*msb, *lsb};
}

void append_text(std::string& out, const ReferenceIndex& index) {
  std::array<char, 12> digits{};  // any signed 32-bit number
  const auto append_number = [&](std::int32_t number) {
    out.append(digits.data(),
               std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr);
  };
  out += '[';
  if (const auto* bit = std::get_if<BitSelect>(&index)) {
    append_number(bit->index);
  } else {
    const auto& range = std::get<Range>(index);
    append_number(range.msb);
    out += ':';
    append_number(range.lsb);
  }
  out += ']';
}

}  // namespace vcd

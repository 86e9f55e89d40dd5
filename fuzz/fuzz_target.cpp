// The target parser of the search and the value texts it is matched
// against: every text parses, and the numbers and reals that the analyses
// print read back as the same values.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_file.hpp"
#include "src/lib/change_value.hpp"
#include "src/lib/target.hpp"
#include "src/lib/value_equality.hpp"
#include "vcd/number.hpp"
#include "vcd/unicode.hpp"
#include "vcd/value.hpp"

namespace {

using quarnel::ChangeValue;
using quarnel::u128;

void check_target(std::string_view bytes) {
  // Python hands over UTF-8 only.
  if (!vcd::unicode::is_valid_utf8(bytes)) return;
  const auto target = quarnel::parse_target_value(bytes);
  const std::string text = quarnel::target_text(target);
  FUZZ_CHECK(vcd::unicode::is_valid_utf8(text));
  if (const auto* number = std::get_if<u128>(&target.value)) {
    // A change holding this number matches, whichever way it is written.
    FUZZ_CHECK(quarnel::normalize_value(ChangeValue{*number}) == text);
    FUZZ_CHECK(quarnel::to_decimal(*number) == text);
  } else {
    // A string change holding the trimmed text matches, whatever its case.
    const std::string_view trimmed = vcd::unicode::trim_white_space(bytes);
    FUZZ_CHECK(quarnel::normalize_value(ChangeValue::of_string(std::string(trimmed))) == text);
  }
}

void check_number_texts(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return;
  u128 number = 0;
  std::memcpy(&number, data, sizeof number);
  const std::string decimal = quarnel::to_decimal(number);
  const auto target = quarnel::parse_target_value(decimal);
  FUZZ_CHECK(std::holds_alternative<u128>(target.value) && std::get<u128>(target.value) == number);

  std::uint64_t bits = 0;
  std::memcpy(&bits, data, sizeof bits);
  const double real = std::bit_cast<double>(bits);
  const std::string shown = quarnel::real_display_text(real);
  const auto back = vcd::parse_real(shown);
  FUZZ_CHECK(back.has_value());
  if (real == real) {
    FUZZ_CHECK(std::bit_cast<std::uint64_t>(*back) == bits);
  } else {
    FUZZ_CHECK(*back != *back && shown == "NaN");
  }
  const auto values = {ChangeValue{number}, ChangeValue{real}};
  for (const ChangeValue& value : values) {
    FUZZ_CHECK(quarnel::normalize_value(value) == quarnel::display_text(value));
  }
}

// `bits` left-extended to `width` as IEEE 1364 extends a vector value.
std::string extend(std::string_view bits, std::size_t width) {
  const char fill = bits.front() == '1' ? '0' : bits.front();
  return std::string(width - bits.size(), fill) + std::string(bits);
}

// Two bit texts made from the input agree exactly when they are the same
// bits at a common width, whether written as a vector or read as a number.
void check_bits(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  // 0 and 1, or every spelling of the nine states, held in lower case as
  // the reader holds bits.
  const std::string& all = quarnel::fuzz::state_spellings();
  const std::size_t spellings = data[0] & 0x80 ? all.size() : 2;
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    text += vcd::to_char(*vcd::nine_state_value_from_char(all[data[i] % spellings]));
  }
  const std::size_t split = 1 + data[0] % (size - 1);
  const std::string_view a = std::string_view(text).substr(0, split);
  const std::string_view b = std::string_view(text).substr(split);
  const std::size_t width = std::max(a.size(), b.size());
  const bool same = extend(a, width) == extend(b, width);
  const auto value_a = quarnel::vector_change_value(a);
  const auto value_b = quarnel::vector_change_value(b);
  FUZZ_CHECK(quarnel::values_agree(value_a, value_b) == same);
  FUZZ_CHECK(quarnel::same_toggle_value(value_b, value_a, 8) == same);
  FUZZ_CHECK((quarnel::normalize_value(value_a) == quarnel::normalize_value(value_b)) == same);
  bool unknown = false;
  for (const char* state : {"x", "z", "u", "w", "-"}) unknown |= extend(state, a.size()) == a;
  FUZZ_CHECK(quarnel::is_unknown(value_a) == unknown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_target({reinterpret_cast<const char*>(data), size});
  check_number_texts(data, size);
  check_bits(data, size);
  return 0;
}

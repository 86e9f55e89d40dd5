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
#include "src/lib/normalize.hpp"
#include "vcd/number.hpp"
#include "vcd/unicode.hpp"

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
    FUZZ_CHECK(quarnel::normalize_value(ChangeValue{std::string(trimmed)}) == text);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  check_target({reinterpret_cast<const char*>(data), size});
  check_number_texts(data, size);
  return 0;
}

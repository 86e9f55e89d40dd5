// The reader's vocabularies on arbitrary tokens: identifier codes, time
// units, bit indices, the number readers and the Unicode helpers. Whatever parses must print back
// to a text that parses to the same thing.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_file.hpp"
#include "vcd/idcode.hpp"
#include "vcd/number.hpp"
#include "vcd/timescale.hpp"
#include "vcd/unicode.hpp"
#include "vcd/var.hpp"

namespace {

namespace unicode = vcd::unicode;

// The text of an identifier code: the inverse of parse_id_code.
std::string id_code_text(vcd::IdCode code) {
  std::string text;
  unsigned __int128 rest = static_cast<unsigned __int128>(code.value) + 1;
  while (rest != 0) {
    const unsigned digit = static_cast<unsigned>((rest - 1) % 94);
    text += static_cast<char>('!' + digit);
    rest = (rest - 1) / 94;
  }
  return text;
}

void check_id_code_and_unit(std::string_view text) {
  if (const auto code = vcd::parse_id_code(text)) FUZZ_CHECK(id_code_text(*code) == text);
  if (const auto unit = vcd::parse_timescale_unit(text)) FUZZ_CHECK(vcd::to_text(*unit) == text);
}

void check_index(std::string_view text) {
  // The reader hands over only valid UTF-8 tokens.
  if (!unicode::is_valid_utf8(text)) return;
  const auto index = vcd::parse_reference_index(text);
  std::string printed;
  if (index) vcd::append_text(printed, *index);
  FUZZ_CHECK(!index || vcd::parse_reference_index(printed) == index);
}

void check_numbers(std::string_view text) {
  const auto u64 = vcd::parse_u64(text);
  const auto u32 = vcd::parse_u32(text);
  if (u32) FUZZ_CHECK(u64.has_value() && *u64 == *u32);
  if (u64) {
    FUZZ_CHECK(vcd::parse_u64(std::to_string(*u64)) == u64);
    if (*u64 > UINT32_MAX) FUZZ_CHECK(!u32 && u32.error() == vcd::ParseErrorKind::IntTooLarge);
  }
  // A time is what parse_u64 reads, or that with a fraction of zeros.
  const auto time = vcd::parse_time_with_zero_fraction(text);
  if (u64 || u64.error() != vcd::ParseErrorKind::IntInvalidDigit) FUZZ_CHECK(time == u64);
  if (time && !u64) FUZZ_CHECK(vcd::parse_u64(text.substr(0, text.find('.'))) == time);
  if (u64) FUZZ_CHECK(vcd::parse_time_with_zero_fraction(std::to_string(*u64) + ".00") == u64);
  const auto real = vcd::parse_real(text);
  if (real && u64 && *u64 < (std::uint64_t{1} << 53)) {
    FUZZ_CHECK(*real == static_cast<double>(*u64));
  }
}

void check_unicode(std::string_view bytes) {
  const std::string lossy = unicode::to_utf8_lossy(bytes);
  FUZZ_CHECK(unicode::is_valid_utf8(lossy));
  if (unicode::is_valid_utf8(bytes)) FUZZ_CHECK(lossy == bytes);
  FUZZ_CHECK(unicode::lossy_source_offset(bytes, lossy.size()) == bytes.size());
  FUZZ_CHECK(unicode::lossy_source_offset(bytes, 0) == 0);
  for (std::size_t pos = 0, before = 0; pos < lossy.size(); before = pos) {
    unicode::decode_at(lossy, pos);
    FUZZ_CHECK(pos > before && pos <= lossy.size());
  }
  const std::string_view trimmed = unicode::trim_white_space(lossy);
  FUZZ_CHECK(unicode::trim_white_space(trimmed) == trimmed);
  FUZZ_CHECK(unicode::is_valid_utf8(unicode::to_lower(lossy)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_id_code_and_unit(text);
  check_index(text);
  check_numbers(text);
  check_unicode(text);
  return 0;
}

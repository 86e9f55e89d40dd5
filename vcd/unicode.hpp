// Unicode character facts used by the reader and the analysis core, taken
// from the Unicode Character Database by tools/gen_unicode.py.
#pragma once

#include <string>
#include <string_view>

namespace vcd::unicode {

// White_Space property.
bool is_white_space(char32_t c);
// General categories Nd, Nl and No.
bool is_numeric(char32_t c);

bool is_valid_utf8(std::string_view bytes);
// Decodes `bytes` as UTF-8, replacing every invalid sequence by U+FFFD
// (maximal-subpart rule, one replacement per maximal invalid subpart).
std::string to_utf8_lossy(std::string_view bytes);
// The offset in `bytes` from which to_utf8_lossy(bytes) has produced
// `decoded_offset` bytes (a character boundary of its result).
std::size_t lossy_source_offset(std::string_view bytes, std::size_t decoded_offset);

// Decodes the code point at `pos` of valid UTF-8 text and advances `pos`.
char32_t decode_at(std::string_view utf8, std::size_t& pos);

// Removes leading and trailing White_Space characters from valid UTF-8 text.
std::string_view trim_white_space(std::string_view utf8);

// Default full lowercase mapping of valid UTF-8 text, including mappings
// that change the length and the Final_Sigma rule.
std::string to_lower(std::string_view utf8);

}  // namespace vcd::unicode

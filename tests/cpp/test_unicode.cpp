#include <string>
#include <string_view>

#include "check.hpp"
#include "vcd/unicode.hpp"

using namespace vcd::unicode;
using namespace std::string_view_literals;

TEST_CASE("white space members and non-members") {
  for (char32_t c : {U'\t', U'\n', U'\v', U'\f', U'\r', U' ', U'\u0085', U'\u00A0', U'\u1680',
                     U'\u2000', U'\u200A', U'\u2028', U'\u2029', U'\u202F', U'\u3000'})
    CHECK_EQ(is_white_space(c), true);
  for (char32_t c :
       {U'\0', U'\x1C', U'a', U'\u180E', U'\u200B', U'\u2060', U'\uFEFF', U'\uFFFD', U'\U0010FFFF'})
    CHECK_EQ(is_white_space(c), false);
  CHECK(!is_white_space(static_cast<char32_t>(0x110000)));
}

TEST_CASE("numeric categories Nd, Nl and No") {
  for (char32_t c :
       {U'0', U'5', U'9', U'\u0664', U'\u2167', U'\u00BD', U'\u00B2', U'\u3007', U'\U0001D7FF'})
    CHECK_EQ(is_numeric(c), true);
  for (char32_t c : {U'a', U'/', U':', U'.', U'+', U'\u4E00', U'\u00AA'})
    CHECK_EQ(is_numeric(c), false);
}

TEST_CASE("utf-8 validity") {
  for (std::string_view ok :
       {""sv, "abc"sv, "\xC2\x80"sv, "\xDF\xBF"sv, "\xE0\xA0\x80"sv, "\xED\x9F\xBF"sv,
        "\xEE\x80\x80"sv, "\xF0\x90\x80\x80"sv, "\xF4\x8F\xBF\xBF"sv, "a\0b"sv})
    CHECK_EQ(is_valid_utf8(ok), true);
  for (std::string_view bad : {"\x80"sv, "\xC0\x80"sv, "\xC1\xBF"sv, "\xC2"sv, "\xE0\x9F\xBF"sv,
                               "\xED\xA0\x80"sv, "\xE1\x80"sv, "\xF0\x8F\xBF\xBF"sv,
                               "\xF4\x90\x80\x80"sv, "\xF5\x80\x80\x80"sv, "\xFF"sv, "ab\xC3"sv})
    CHECK_EQ(is_valid_utf8(bad), false);
}

TEST_CASE("lossy decoding replaces each maximal subpart once") {
  CHECK_EQ(to_utf8_lossy("plain \xC3\xA9"sv), "plain \xC3\xA9"sv);
  CHECK_EQ(to_utf8_lossy("\xE1\x80"sv), "\xEF\xBF\xBD"sv);
  CHECK_EQ(to_utf8_lossy("\xE1\x80x"sv), "\xEF\xBF\xBDx"sv);
  CHECK_EQ(to_utf8_lossy("\xF0\x90\x80"sv), "\xEF\xBF\xBD"sv);
  // A second byte out of range ends the subpart at the lead byte.
  CHECK_EQ(to_utf8_lossy("\xE0\x80\x80"sv), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv);
  CHECK_EQ(to_utf8_lossy("\xED\xA0\x80"sv), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"sv);
  CHECK_EQ(to_utf8_lossy("\xC0\xAF"sv), "\xEF\xBF\xBD\xEF\xBF\xBD"sv);
  CHECK_EQ(to_utf8_lossy("\xFF\xFE"sv), "\xEF\xBF\xBD\xEF\xBF\xBD"sv);
  // Lossy output is always valid and equals the input exactly when the input was valid.
  for (std::string_view bytes : {"\xF4\x8F\xBF\xBF"sv, "\xF4\x90"sv, "a\x80"sv, "\xC2\xA0"sv}) {
    const std::string lossy = to_utf8_lossy(bytes);
    CHECK(is_valid_utf8(lossy));
    CHECK_EQ(lossy == bytes, is_valid_utf8(bytes));
  }
}

TEST_CASE("decode_at advances over one code point") {
  const std::string_view text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"sv;
  std::size_t pos = 0;
  CHECK_EQ(decode_at(text, pos), U'a');
  CHECK_EQ(decode_at(text, pos), U'\u00E9');
  CHECK_EQ(pos, std::size_t{3});
  CHECK_EQ(decode_at(text, pos), U'\u20AC');
  CHECK_EQ(decode_at(text, pos), U'\U0001F600');
  CHECK_EQ(pos, text.size());
}

TEST_CASE("trim removes Unicode white space at both ends only") {
  CHECK_EQ(trim_white_space(""sv), ""sv);
  CHECK_EQ(trim_white_space(" \t\r\n"sv), ""sv);
  CHECK_EQ(trim_white_space("\u3000a b\u00A0\u0085"sv), "a b"sv);
  CHECK_EQ(trim_white_space("\f\vnote\xE2\x80\xA8"sv), "note"sv);
  // U+200B is not White_Space and stays.
  CHECK_EQ(trim_white_space("\xE2\x80\x8Bx\xE2\x80\x8B "sv), "\xE2\x80\x8Bx\xE2\x80\x8B"sv);
  // The last byte of U+00E0 is 0xA0, which must not be taken for a no-break space.
  CHECK_EQ(trim_white_space(" \xC3\xA0"sv), "\xC3\xA0"sv);
}

TEST_CASE("lowercase: ascii, length-changing and non-Latin mappings") {
  CHECK_EQ(to_lower("Hello, WORLD 0X1F"sv), "hello, world 0x1f"sv);
  CHECK_EQ(to_lower("\xC4\xB0"sv), "i\xCC\x87"sv);                 // U+0130
  CHECK_EQ(to_lower("\xC3\x80\xC3\x9F"sv), "\xC3\xA0\xC3\x9F"sv);  // À ß
  CHECK_EQ(to_lower("\xE2\x84\xAA"sv), "k"sv);                     // KELVIN SIGN
  CHECK_EQ(to_lower("\xE2\x85\xA7"sv), "\xE2\x85\xB7"sv);          // Ⅷ
  CHECK_EQ(to_lower("\xF0\x90\x90\x80"sv), "\xF0\x90\x90\xA8"sv);  // U+10400
  CHECK_EQ(to_lower("\xC7\x85"sv), "\xC7\x86"sv);                  // Dž titlecase
  CHECK_EQ(to_lower("\xC4\x80\xC4\x81\xC4\x82"sv), "\xC4\x81\xC4\x81\xC4\x83"sv);
}

TEST_CASE("lowercase: final sigma") {
  CHECK_EQ(to_lower("ΟΔΟΣ"sv), "οδος"sv);
  CHECK_EQ(to_lower("Σ"sv), "σ"sv);
  CHECK_EQ(to_lower("ΑΣ ΑΣ."sv), "ας ας."sv);
  CHECK_EQ(to_lower("Σ'Α"sv), "σ'α"sv);
  CHECK_EQ(to_lower("ΑΣΑ"sv), "ασα"sv);
  CHECK_EQ(to_lower("ΑΣΣ"sv), "ασς"sv);
  CHECK_EQ(to_lower("Α'Σ"sv), "α'ς"sv);  // apostrophe is Case_Ignorable
  CHECK_EQ(to_lower("ΑΣ'Α"sv), "ασ'α"sv);
  CHECK_EQ(to_lower("1Σ"sv), "1σ"sv);
  CHECK_EQ(to_lower("aΣ"sv), "aς"sv);
  // Characters both Cased and Case_Ignorable (U+02B0) are skipped like Python does.
  CHECK_EQ(to_lower("\xCA\xB0Σ"sv), "\xCA\xB0σ"sv);
  CHECK_EQ(to_lower("ΑΣ\xCA\xB0"sv), "ας\xCA\xB0"sv);
}

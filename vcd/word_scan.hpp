// Word-at-a-time scans of a window of bytes: byte classes, blank and token
// scans, and identifier codes read without a copy. The parser's fast roads
// and its token reader are built on these; none of them reads past `end`.
#pragma once

#include <string.h>  // memmem

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "vcd/idcode.hpp"
#include "vcd/unicode.hpp"
#include "vcd/value.hpp"

namespace vcd {

// Token capacities.
inline constexpr std::size_t kTokenCapacity = 32;
inline constexpr std::size_t kKeywordCapacity = 16;
inline constexpr std::size_t kShortTokenCapacity = 8;

// Tab, line feed, carriage return and space; nothing else.
constexpr bool is_whitespace(int byte) {
  return byte == ' ' || byte == '\n' || byte == '\t' || byte == '\r';
}

// Whitespace within a line: tab, carriage return and space.
constexpr bool is_blank(int byte) { return byte == ' ' || byte == '\t' || byte == '\r'; }

// True when every byte is ASCII or the bytes form valid UTF-8.
inline bool is_utf8_token(std::string_view token) {
  unsigned char high = 0;
  for (const char c : token) high |= static_cast<unsigned char>(c);
  return high < 0x80 || unicode::is_valid_utf8(token);
}

namespace detail {

// Byte classes for the window scans of the value section.
enum ByteClass : std::uint8_t { kOther, kSpace, kLowerBit, kUpperBit };

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (const unsigned char c : {' ', '\n', '\t', '\r'}) classes[c] = kSpace;
  // The letters of the IEEE 1364 states; the fast roads leave the others to
  // the byte-by-byte reader, which knows the dialect.
  for (const StateLetter& state : kStateLetters) {
    if (!state.four_state) continue;
    const auto lower = static_cast<unsigned char>(state.letter);
    classes[lower] = kLowerBit;
    if (lower >= 'a' && lower <= 'z') classes[lower - 'a' + 'A'] = kUpperBit;
  }
  return classes;
}

inline constexpr std::array<std::uint8_t, 256> kByteClass = make_byte_classes();

// The state of each byte of class kLowerBit or kUpperBit; Zero for every
// other byte.
constexpr std::array<Value, 256> make_scalar_values() {
  std::array<Value, 256> values{};
  for (int byte = 0; byte < 256; ++byte) {
    if (kByteClass[byte] >= kLowerBit) values[byte] = *value_from_char(static_cast<char>(byte));
  }
  return values;
}

inline constexpr std::array<Value, 256> kScalarValue = make_scalar_values();

inline bool is_space_byte(unsigned char byte) { return kByteClass[byte] == kSpace; }

inline std::uint64_t load_word(const unsigned char* p) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// 0x80 in the first byte of `word` (in memory order) below '!', and
// perhaps in bytes after it; zero when there is none.
inline std::uint64_t low_bytes(std::uint64_t word) {
  return (word - kOnes * 0x21) & ~word & kHighBits;
}

// The offset of the first `needle` in `text` at or after `from`, or
// text.size().
inline std::size_t find_bytes(std::string_view text, std::size_t from, std::string_view needle) {
  const void* found =
      ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return found == nullptr ? text.size()
                          : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
}

// True when all eight bytes at `p` are '0' or '1'.
inline bool are_binary_digits(const unsigned char* p) {
  return (load_word(p) & 0xFEFEFEFEFEFEFEFEULL) == 0x3030303030303030ULL;
}

// Steps `p` over blanks, counting line feeds.
inline void skip_blanks(const unsigned char*& p, const unsigned char* end,
                        std::uint64_t& line_feeds) {
  while (p != end && is_space_byte(*p)) line_feeds += *p++ == '\n' ? 1 : 0;
}

// A token of at most `capacity` bytes after blanks, and its terminating
// blank, when they lie whole before `end`: `p` moves past that blank and
// `line_feeds` counts the line feeds stepped over. False where the slow path
// must decide (`p` is then meaningless).
inline bool scan_token(const unsigned char*& p, const unsigned char* end, std::uint64_t& line_feeds,
                       std::size_t capacity, std::string_view& token) {
  skip_blanks(p, end, line_feeds);
  const unsigned char* const start = p;
  const unsigned char* const limit =
      end - p > static_cast<std::ptrdiff_t>(capacity) ? p + capacity + 1 : end;
  // Eight bytes at a time up to the first one below '!'; only a blank ends
  // the token, so other such bytes are stepped over.
  while (limit - p >= 8) {
    const std::uint64_t low = low_bytes(load_word(p));
    if (low == 0) {
      p += 8;
      continue;
    }
    p += __builtin_ctzll(low) / 8;
    if (is_space_byte(*p)) break;
    ++p;
  }
  while (p != limit && !is_space_byte(*p)) ++p;
  if (p == limit) return false;  // too long, or the window ends first
  token = {reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start)};
  line_feeds += *p++ == '\n' ? 1 : 0;
  return true;
}

// The length (1 to 7) of the identifier code that starts `word` and ends at
// its first byte below '!', or 0 when it does not end within the word or a
// byte before its end is no code character.
[[gnu::always_inline]] inline unsigned code_length(std::uint64_t word) {
  const std::uint64_t low = low_bytes(word);
  if (low == 0) return 0;  // eight or more code characters
  const unsigned length = static_cast<unsigned>(__builtin_ctzll(low)) / 8;
  // Code characters end at '~': no byte of 0x7f or above before the end.
  const std::uint64_t code_bytes = (std::uint64_t{1} << (8 * length)) - 1;
  return (((word + kOnes) | word) & kHighBits & code_bytes) == 0 ? length : 0;
}

// An identifier code glued to what precedes it and its terminating blank,
// as scan_token reads a token.
[[gnu::always_inline]] inline bool scan_id_code(const unsigned char*& p, const unsigned char* end,
                                                std::uint64_t& line_feeds, IdCode& code) {
  // Codes of up to seven characters, the codes of nearly every dump, from
  // one word.
  if (end - p > 8) {
    const std::uint64_t word = load_word(p);
    const unsigned length = code_length(word);
    if (length != 0 && is_space_byte(p[length])) {
      code = id_code_of_text_word(word, length);
      line_feeds += p[length] == '\n' ? 1 : 0;
      p += length + 1;
      return true;
    }
  }
  std::string_view token;
  if (!scan_token(p, end, line_feeds, kTokenCapacity, token)) return false;
  const auto parsed = parse_id_code(token);
  if (!parsed) return false;
  code = *parsed;
  return true;
}

// Reads an identifier code of one to seven characters followed by a line
// feed, from eight bytes that may be read at `p`. On success returns true
// with `p` past the line feed; else leaves everything to the slower roads.
[[gnu::always_inline]] inline bool take_code_line(const unsigned char*& p, IdCode& code) {
  const std::uint64_t word = load_word(p);
  const unsigned length = code_length(word);
  if (length == 0 || p[length] != '\n') return false;
  code = id_code_of_text_word(word, length);
  p += length + 1;
  return true;
}

}  // namespace detail
}  // namespace vcd

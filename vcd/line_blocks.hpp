// Block-at-a-time classification for the line road of the value section: for
// 64 bytes at once, which are line feeds and which are not bits of a vector
// ('0', '1', 'x', 'z'), as one bit per byte. The road then walks from line
// end to line end on these masks instead of looking at every byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vcd::detail {

inline constexpr std::ptrdiff_t kBlockBytes = 64;
// The longest line read from the masks: it may start in the block before
// the one its line feed is in.
inline constexpr unsigned kMaxBlockLine = 63;

// What the first byte of a line tells of it.
enum LineKind : std::uint8_t { kOtherLine, kScalarLine, kVectorLine };

constexpr std::array<std::uint8_t, 256> make_line_kinds() {
  std::array<std::uint8_t, 256> kinds{};
  for (const unsigned char c : {'0', '1', 'x', 'X', 'z', 'Z'}) kinds[c] = kScalarLine;
  kinds['b'] = kVectorLine;
  return kinds;
}

inline constexpr std::array<std::uint8_t, 256> kLineKind = make_line_kinds();

struct BlockMasks {
  std::uint64_t line_feeds;  // bit i: byte i is '\n'
  std::uint64_t not_bits;    // bit i: byte i is none of '0', '1', 'x', 'z'
};

#if defined(__SSE2__)

inline BlockMasks classify_block(const unsigned char* p) {
  const __m128i line_feed = _mm_set1_epi8('\n');
  const __m128i one = _mm_set1_epi8(1);
  const __m128i two = _mm_set1_epi8(2);
  const __m128i digit_one = _mm_set1_epi8('1');
  const __m128i letter_z = _mm_set1_epi8('z');
  std::uint64_t line_feeds = 0;
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    // '0' and '1' are '1' with the low bit set; 'x' and 'z' are 'z' with bit 1 set.
    const __m128i bit = _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(v, one), digit_one),
                                     _mm_cmpeq_epi8(_mm_or_si128(v, two), letter_z));
    const auto shift = static_cast<unsigned>(16 * i);
    line_feeds |=
        std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, line_feed)))}
        << shift;
    bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(bit))} << shift;
  }
  return {line_feeds, ~bits};
}

#else

inline BlockMasks classify_block(const unsigned char* p) {
  std::uint64_t line_feeds = 0;
  std::uint64_t not_bits = 0;
  for (int i = 0; i < kBlockBytes; ++i) {
    const unsigned char c = p[i];
    line_feeds |= std::uint64_t{c == '\n'} << i;
    not_bits |= std::uint64_t{(c | 1) != '1' && (c | 2) != 'z'} << i;
  }
  return {line_feeds, not_bits};
}

#endif

}  // namespace vcd::detail

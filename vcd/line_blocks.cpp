#include "vcd/line_blocks.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUARNEL_X86 1
#endif

namespace vcd::detail {

namespace {

// One bit per byte of a block.
struct ByteMasks {
  std::uint64_t line_feed;  // '\n'
  std::uint64_t space;      // ' '
  std::uint64_t bit;        // '0', '1', 'x', 'z'
  std::uint64_t code;       // '!' to '~'
  std::uint64_t scalar;     // '0', '1', 'x', 'z', 'X', 'Z'
  std::uint64_t vector;     // 'b'
  std::uint64_t time;       // '#'
};

// a + b + carry, with the carry out kept for the next block.
[[gnu::always_inline]] inline std::uint64_t add(std::uint64_t a, std::uint64_t b,
                                                std::uint64_t& carry) {
  std::uint64_t sum = 0;
  const bool first = __builtin_add_overflow(a, b, &sum);
  const bool second = __builtin_add_overflow(sum, carry, &sum);
  carry = static_cast<std::uint64_t>(first || second);
  return sum;
}

// The shapes of the lines of one block, from its byte masks.
[[gnu::always_inline]] inline LineBlock check_lines(const ByteMasks& m, LineBlocks::Carry& carry) {
  const std::uint64_t line_starts = (m.line_feed << 1) | carry.line_feed;
  carry.line_feed = m.line_feed >> 63;
  const std::uint64_t vectors = line_starts & m.vector;
  const std::uint64_t scalars = line_starts & m.scalar;
  std::uint64_t faults = line_starts & ~(m.scalar | m.vector | m.time);

  // The bits of each vector run from after its 'b' to the first byte that is
  // no bit, which must be a space: a one added at the start of a run carries
  // through it.
  const std::uint64_t bits_starts = (vectors << 1) | (carry.vectors >> 63);
  carry.vectors = vectors;
  const std::uint64_t after_bits = add(bits_starts, m.bit, carry.bits_sum) & ~m.bit;
  faults |= (bits_starts & ~m.bit) | (after_bits & ~m.space);

  // Each code runs from after the value (and its space) to the line feed.
  const std::uint64_t value_ends = scalars | after_bits;
  const std::uint64_t code_starts = (value_ends << 1) | (carry.value_ends >> 63);
  carry.value_ends = value_ends;
  const std::uint64_t sum = add(code_starts, m.code, carry.code_sum);
  const std::uint64_t code_bytes = m.code & ~sum;
  faults |= (code_starts & ~m.code) | (sum & ~m.code & ~m.line_feed);
  // A code byte eight or more bytes after the nearest code start before it
  // is in a code too long to read at once: each start is smeared over the
  // eight bytes from it, across the block edge.
  std::uint64_t before = carry.code_starts;
  std::uint64_t near = code_starts;
  carry.code_starts = code_starts;
  near |= (near << 1) | (before >> 63);
  before |= before << 1;
  near |= (near << 2) | (before >> 62);
  before |= before << 2;
  near |= (near << 4) | (before >> 60);
  faults |= code_bytes & ~near;

  return {m.line_feed, ~m.bit, faults};
}

#if defined(QUARNEL_X86)

// The bits of each 16 bytes of a compare result, placed at `shift`.
[[gnu::always_inline]] inline std::uint64_t mask_bits(__m128i found, int shift) {
  return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(found))} << shift;
}

void classify_sse2(const unsigned char* p, std::size_t count, LineBlocks::Carry& carry,
                   LineBlock* out) {
  const __m128i line_feed = _mm_set1_epi8('\n');
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i one = _mm_set1_epi8(1);
  const __m128i two = _mm_set1_epi8(2);
  const __m128i digit_one = _mm_set1_epi8('1');
  const __m128i lower_z = _mm_set1_epi8('z');
  const __m128i upper_z = _mm_set1_epi8('Z');
  const __m128i del = _mm_set1_epi8(0x7f);
  const __m128i letter_b = _mm_set1_epi8('b');
  const __m128i hash = _mm_set1_epi8('#');
  for (std::size_t block = 0; block < count; ++block, p += kBlockBytes) {
    ByteMasks m{};
    for (int shift = 0; shift < kBlockBytes; shift += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + shift));
      // '0' and '1' are '1' with the low bit set; 'x' and 'z' are 'z' with
      // bit 1 set, 'X' and 'Z' likewise 'Z'.
      const __m128i with_bit_1 = _mm_or_si128(v, two);
      const __m128i bit = _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(v, one), digit_one),
                                       _mm_cmpeq_epi8(with_bit_1, lower_z));
      m.line_feed |= mask_bits(_mm_cmpeq_epi8(v, line_feed), shift);
      m.space |= mask_bits(_mm_cmpeq_epi8(v, space), shift);
      m.bit |= mask_bits(bit, shift);
      // Signed comparisons: bytes from 0x80 up are negative.
      m.code |= mask_bits(_mm_and_si128(_mm_cmpgt_epi8(v, space), _mm_cmplt_epi8(v, del)), shift);
      m.scalar |= mask_bits(_mm_or_si128(bit, _mm_cmpeq_epi8(with_bit_1, upper_z)), shift);
      m.vector |= mask_bits(_mm_cmpeq_epi8(v, letter_b), shift);
      m.time |= mask_bits(_mm_cmpeq_epi8(v, hash), shift);
    }
    out[block] = check_lines(m, carry);
  }
}

// The same 32 bytes at a time.
[[gnu::target("avx2")]] inline std::uint64_t mask_bits_256(__m256i found, int shift) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(found))} << shift;
}

[[gnu::target("avx2")]] void classify_avx2(const unsigned char* p, std::size_t count,
                                           LineBlocks::Carry& carry, LineBlock* out) {
  const __m256i line_feed = _mm256_set1_epi8('\n');
  const __m256i space = _mm256_set1_epi8(' ');
  const __m256i one = _mm256_set1_epi8(1);
  const __m256i two = _mm256_set1_epi8(2);
  const __m256i digit_one = _mm256_set1_epi8('1');
  const __m256i lower_z = _mm256_set1_epi8('z');
  const __m256i upper_z = _mm256_set1_epi8('Z');
  const __m256i del = _mm256_set1_epi8(0x7f);
  const __m256i letter_b = _mm256_set1_epi8('b');
  const __m256i hash = _mm256_set1_epi8('#');
  for (std::size_t block = 0; block < count; ++block, p += kBlockBytes) {
    ByteMasks m{};
    for (int shift = 0; shift < kBlockBytes; shift += 32) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + shift));
      const __m256i with_bit_1 = _mm256_or_si256(v, two);
      const __m256i bit = _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_or_si256(v, one), digit_one),
                                          _mm256_cmpeq_epi8(with_bit_1, lower_z));
      m.line_feed |= mask_bits_256(_mm256_cmpeq_epi8(v, line_feed), shift);
      m.space |= mask_bits_256(_mm256_cmpeq_epi8(v, space), shift);
      m.bit |= mask_bits_256(bit, shift);
      m.code |= mask_bits_256(
          _mm256_and_si256(_mm256_cmpgt_epi8(v, space), _mm256_cmpgt_epi8(del, v)), shift);
      m.scalar |=
          mask_bits_256(_mm256_or_si256(bit, _mm256_cmpeq_epi8(with_bit_1, upper_z)), shift);
      m.vector |= mask_bits_256(_mm256_cmpeq_epi8(v, letter_b), shift);
      m.time |= mask_bits_256(_mm256_cmpeq_epi8(v, hash), shift);
    }
    out[block] = check_lines(m, carry);
  }
}

#endif

void classify_bytes(const unsigned char* p, std::size_t count, LineBlocks::Carry& carry,
                    LineBlock* out) {
  for (std::size_t block = 0; block < count; ++block, p += kBlockBytes) {
    ByteMasks m{};
    for (int i = 0; i < kBlockBytes; ++i) {
      const unsigned c = p[i];
      const std::uint64_t at = std::uint64_t{1} << i;
      const bool bit = (c | 1) == '1' || (c | 2) == 'z';
      m.line_feed |= c == '\n' ? at : 0;
      m.space |= c == ' ' ? at : 0;
      m.bit |= bit ? at : 0;
      m.code |= c > ' ' && c < 0x7f ? at : 0;
      m.scalar |= bit || (c | 2) == 'Z' ? at : 0;
      m.vector |= c == 'b' ? at : 0;
      m.time |= c == '#' ? at : 0;
    }
    out[block] = check_lines(m, carry);
  }
}

}  // namespace

void LineBlocks::classify(const unsigned char* p, std::size_t count, LineBlock* out, Isa isa) {
#if defined(QUARNEL_X86)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (isa == Isa::best && avx2) {
    classify_avx2(p, count, carry_, out);
  } else if (isa != Isa::portable) {
    classify_sse2(p, count, carry_, out);
  } else {
    classify_bytes(p, count, carry_, out);
  }
#else
  static_cast<void>(isa);  // one way only
  classify_bytes(p, count, carry_, out);
#endif
}

}  // namespace vcd::detail

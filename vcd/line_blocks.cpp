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

// The vector type of each instruction set, with the operations that
// block_masks.inc uses.
namespace sse2 {

struct Vector {
  static constexpr int kBytes = 16;
  __m128i v;

  [[gnu::always_inline]] static Vector load(const unsigned char* p) {
    return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))};
  }
  [[gnu::always_inline]] static Vector set1(char c) { return {_mm_set1_epi8(c)}; }
  [[gnu::always_inline]] friend Vector eq(Vector a, Vector b) { return {_mm_cmpeq_epi8(a.v, b.v)}; }
  [[gnu::always_inline]] friend Vector gt(Vector a, Vector b) { return {_mm_cmpgt_epi8(a.v, b.v)}; }
  [[gnu::always_inline]] friend Vector operator|(Vector a, Vector b) {
    return {_mm_or_si128(a.v, b.v)};
  }
  [[gnu::always_inline]] friend Vector operator&(Vector a, Vector b) {
    return {_mm_and_si128(a.v, b.v)};
  }
  // One bit per byte, the first byte's lowest.
  [[gnu::always_inline]] std::uint64_t mask() const {
    return static_cast<std::uint16_t>(_mm_movemask_epi8(v));
  }
};

#include "vcd/block_masks.inc"

}  // namespace sse2

void classify_sse2(const unsigned char* p, std::size_t count, LineBlocks::Carry& carry,
                   LineBlock* out) {
  sse2::classify_vectors<sse2::Vector>(p, count, carry, out);
}

// The AVX2 classifier is compiled for AVX2 as a whole, so that the shared
// code is inlined with its vector operations; it runs only where the
// processor has AVX2.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif

namespace avx2 {

struct Vector {
  static constexpr int kBytes = 32;
  __m256i v;

  [[gnu::always_inline]] static Vector load(const unsigned char* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))};
  }
  [[gnu::always_inline]] static Vector set1(char c) { return {_mm256_set1_epi8(c)}; }
  [[gnu::always_inline]] friend Vector eq(Vector a, Vector b) {
    return {_mm256_cmpeq_epi8(a.v, b.v)};
  }
  [[gnu::always_inline]] friend Vector gt(Vector a, Vector b) {
    return {_mm256_cmpgt_epi8(a.v, b.v)};
  }
  [[gnu::always_inline]] friend Vector operator|(Vector a, Vector b) {
    return {_mm256_or_si256(a.v, b.v)};
  }
  [[gnu::always_inline]] friend Vector operator&(Vector a, Vector b) {
    return {_mm256_and_si256(a.v, b.v)};
  }
  [[gnu::always_inline]] std::uint64_t mask() const {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
  }
};

#include "vcd/block_masks.inc"  // NOLINT(readability-duplicate-include): for AVX2

}  // namespace avx2

void classify_avx2(const unsigned char* p, std::size_t count, LineBlocks::Carry& carry,
                   LineBlock* out) {
  avx2::classify_vectors<avx2::Vector>(p, count, carry, out);
}

#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

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

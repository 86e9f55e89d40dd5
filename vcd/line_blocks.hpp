// Block-at-a-time classification for the line road of the value section.
// For 64 bytes at once it finds the line feeds and checks the shape of every
// change line with whole-block mask arithmetic, so that the road then only
// walks from line end to line end:
//   scalar change  [01xzXZ]<code>\n
//   vector change  b[01xz]+ <code>\n
// where <code> is one to eight characters from '!' to '~'. Timestamp lines
// ('#') are checked by the road itself. A line that fails anywhere, or starts
// with anything else, is flagged: the road leaves it to the line readers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vcd::detail {

inline constexpr std::ptrdiff_t kBlockBytes = 64;
// The longest line whose bytes the road finds in the masks of its own block
// and the one before.
inline constexpr unsigned kMaxBlockLine = 63;

// What the road needs of one block, one bit per byte (bit i for byte i).
struct LineBlock {
  std::uint64_t line_feeds;
  std::uint64_t not_bits;  // bytes other than '0', '1', 'x', 'z'
  // A bit in every line that is not in one of the shapes above; it lies
  // after the line's first byte or on it, and at the latest on its line feed.
  std::uint64_t faults;
};

// The blocks of a stretch of bytes, one after the other, from the start of a
// line (or of a command standing alone up to its line feed).
class LineBlocks {
 public:
  // The instructions to classify with: the best this machine has, or the
  // others, which give the same (for tests).
  enum class Isa : std::uint8_t { best, sse2, portable };

  // Classifies the `count` blocks from `p` on, which follow those classified
  // before, into `out`.
  void classify(const unsigned char* p, std::size_t count, LineBlock* out, Isa isa = Isa::best);

  // What is carried from one block to the next; public for the classifiers.
  struct Carry {
    std::uint64_t line_feed = 1;  // the first byte starts a line
    std::uint64_t vectors = 0;
    std::uint64_t value_ends = 0;
    std::uint64_t code_starts = 0;
    std::uint64_t bits_sum = 0;
    std::uint64_t code_sum = 0;
  };

 private:
  Carry carry_;
};

}  // namespace vcd::detail

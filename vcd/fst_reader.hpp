// FST dumps: the compact block format that simulators write instead of VCD.
// The file is a run of blocks, each a type byte and a big-endian length: a
// header, the hierarchy (the declarations, gzip- or LZ4-compressed), the
// geometry (each signal's width), blackouts ($dumpoff/$dumpon times) and
// value-change blocks. A value-change block covers a span of time: a table
// of its times, the values of every signal at its start, and per signal a
// compressed run of changes, found through a table of positions. The reader
// decodes only the blocks and signals asked for; every length and offset is
// checked, so a damaged or cut file is an error of kind InvalidData.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vcd/error.hpp"
#include "vcd/file.hpp"
#include "vcd/fst_block_changes.hpp"
#include "vcd/interrupt.hpp"
#include "vcd/value.hpp"

namespace vcd::fst {

// Whether a file that begins with `head` is an FST file: it starts with a
// header block, or is one gzip stream of a whole FST file behind a wrapper
// block (as GHDL writes it). No VCD text begins so.
inline constexpr std::size_t kHeadSize = 19;
bool is_fst(std::span<const unsigned char> head);

// Whether the first bytes of a stream (up to 4 of them) may begin an FST
// file; no VCD text begins so.
bool may_be_fst(std::span<const unsigned char> head);

struct Header {
  std::int8_t timescale = 0;  // the tick is 10 to this power seconds
  bool swapped_doubles = false;
  std::uint64_t handles = 0;  // the number of signals with their own changes
  // What the writer's $timezero adds to each stored time: the times the
  // reader hands out are moved by it.
  std::int64_t timezero = 0;
};

// The declarations of the hierarchy block, in file order.
class HierarchyVisitor {
 public:
  virtual ~HierarchyVisitor() = default;
  virtual void scope(std::string_view name) = 0;
  virtual void upscope() = 0;
  // `type` is the FST variable type; `handle` (from 1) names the signal
  // whose changes the variable shows, shared by aliases.
  virtual void var(std::string_view name, std::uint8_t type, std::uint32_t width,
                   std::uint32_t handle) = 0;
};

// FST variable types that need telling apart: 0 to kTypeLast are types.
inline constexpr std::uint8_t kTypeReal = 3;
inline constexpr std::uint8_t kTypeRealParameter = 4;
inline constexpr std::uint8_t kTypeRealTime = 20;
inline constexpr std::uint8_t kTypeString = 21;
inline constexpr std::uint8_t kTypeShortReal = 29;
inline constexpr std::uint8_t kTypeLast = 29;
std::string_view var_type_word(std::uint8_t type);

// The place and time span of one value-change block.
struct Block {
  std::uint64_t offset;  // of its type byte
  std::uint64_t length;  // from its length word to its end
  std::uint64_t begin;
  std::uint64_t end;
  std::uint8_t type;
};

class Reader {
 public:
  // The reader of `path` when it is a regular file that begins as an FST
  // file, with its header, geometry and block list read (the error tells
  // what is damaged); null for any other file, which is left unread.
  static Result<std::unique_ptr<Reader>> open_if_fst(const std::string& path,
                                                     const Interrupt* interrupt = nullptr);

  // The same for an open regular file.
  static Result<std::unique_ptr<Reader>> open_if_fst(File file,
                                                     const Interrupt* interrupt = nullptr);
  // The reader of the FST file that `pipe` (whose first bytes may_be_fst)
  // streams: the stream is copied to a temporary file first, as the reader
  // reads out of order.
  static Result<std::unique_ptr<Reader>> open_piped(File& pipe,
                                                    const Interrupt* interrupt = nullptr);

  const Header& header() const { return header_; }
  std::span<const Block> blocks() const { return blocks_; }
  Result<void> read_hierarchy(HierarchyVisitor& visitor) const;
  // The changes of block `index` of the signals whose handle's entry
  // (handle - 1) in `wanted` is set, with the values at the block's start
  // when `with_start_values` (the first block); the signals' data is read
  // and unpacked on up to `threads` threads.
  Result<void> read_block(std::size_t index, const std::vector<bool>& wanted,
                          bool with_start_values, BlockChanges& out, unsigned threads = 1) const;
  // The value of a change as the rest of the reader hands it out.
  ChangeView view(const BlockChanges::Change& change) const;

 private:
  Reader(File file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  Result<void> unwrap();
  // A stored time moved by the header's timezero; an error when that leaves
  // the times an unsigned 64-bit number holds.
  Result<std::uint64_t> shifted(std::uint64_t time) const;
  Result<void> scan();
  Result<std::vector<unsigned char>> read_bytes(std::uint64_t offset, std::uint64_t size) const;
  Result<void> read_geometry(const Block& block);

  File file_;
  std::uint64_t size_;
  // The whole file, unpacked, when it was wrapped in gzip.
  std::vector<unsigned char> unwrapped_;
  Header header_;
  std::vector<Block> blocks_;
  Block hierarchy_{};
  bool has_hierarchy_ = false;
  // Per handle (from 1, at index handle - 1): its width in bytes or bits.
  std::vector<std::uint32_t> widths_;
  std::vector<Storage> storage_;
};

inline ChangeView Reader::view(const BlockChanges::Change& change) const {
  const std::string_view bytes = change.value;
  const std::uint32_t h = change.handle - 1;
  switch (storage_[h]) {
    case Storage::Real: {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data(), 8);
      if (header_.swapped_doubles) word = __builtin_bswap64(word);
      return ChangeView::of_real(std::bit_cast<double>(word));
    }
    case Storage::Text: return ChangeView::of_string(bytes);
    case Storage::Bits: break;
  }
  if (widths_[h] == 1) return ChangeView::of_scalar(*nine_state_value_from_char(bytes[0]));
  return ChangeView::of_vector(bytes);
}

}  // namespace vcd::fst

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

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "vcd/error.hpp"
#include "vcd/file.hpp"
#include "vcd/interrupt.hpp"
#include "vcd/value.hpp"

namespace vcd::fst {

// Whether a file that begins with `head` is an FST file: it starts with a
// header block, or is one gzip stream of a whole FST file behind a wrapper
// block (as GHDL writes it). No VCD text begins so.
inline constexpr std::size_t kHeadSize = 19;
bool is_fst(std::span<const unsigned char> head);

// What one signal's changes hold.
enum class Storage : std::uint8_t { Bits, Real, Text };

struct Header {
  std::uint64_t start_time = 0;
  std::uint64_t end_time = 0;
  std::int8_t timescale = 0;  // the tick is 10 to this power seconds
  bool swapped_doubles = false;
  std::uint64_t handles = 0;  // the number of signals with their own changes
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

// FST variable types that need telling apart.
inline constexpr std::uint8_t kTypeEvent = 0;
inline constexpr std::uint8_t kTypeLast = 29;
std::string_view var_type_word(std::uint8_t type);

// The changes of one value-change block, for the signals asked for: the
// block's times, then every change in time order, and within one time in
// the order of the signals' handles.
struct BlockChanges {
  struct Change {
    std::uint32_t time_index;
    std::uint32_t handle;  // from 1
    std::uint32_t offset;  // of its value in `values`
    std::uint32_t size;
  };
  std::vector<std::uint64_t> times;
  std::vector<Change> changes;
  std::vector<char> values;  // bits as lower-case letters, reals as 8 bytes, texts

  void clear() {
    times.clear();
    changes.clear();
    values.clear();
  }
};

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

  const Header& header() const { return header_; }
  std::span<const Block> blocks() const { return blocks_; }
  Result<void> read_hierarchy(HierarchyVisitor& visitor) const;
  // The changes of block `index` of the signals whose handle's entry
  // (handle - 1) in `wanted` is set, with the values at the block's start
  // when `with_start_values` (the first block).
  Result<void> read_block(std::size_t index, const std::vector<bool>& wanted,
                          bool with_start_values, BlockChanges& out) const;
  // The value of a change as the rest of the reader hands it out.
  ChangeView view(const BlockChanges& block, const BlockChanges::Change& change) const;

 private:
  Reader(File file, std::uint64_t size) : file_(std::move(file)), size_(size) {}
  Result<void> unwrap();
  Result<void> scan();
  Result<std::vector<unsigned char>> read_bytes(std::uint64_t offset, std::uint64_t size) const;
  Result<void> read_geometry(const Block& block);
  Result<void> decode_changes(std::span<const unsigned char> data, std::uint32_t handle_index,
                              std::size_t times, std::uint32_t shift, BlockChanges& out) const;
  static void order_by_time(BlockChanges& out);

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

}  // namespace vcd::fst

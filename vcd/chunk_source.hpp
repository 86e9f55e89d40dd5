// A stretch of a regular file as a byte source, so that one value section can
// be read in pieces on several threads. A piece runs from one split point to
// the next, a split point being the first line at or after a given offset
// that starts with '#', where a timestamp begins. That is a guess: such a line
// may also lie inside a comment or a command that spans lines, which the
// reader of the pieces has to check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "vcd/error.hpp"
#include "vcd/file.hpp"
#include "vcd/interrupt.hpp"

namespace vcd {

class ChunkSource {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 18;
  // Short pieces get a buffer of their own size, down to this.
  static constexpr std::size_t kMinBufferSize = std::size_t{1} << 12;
  static constexpr std::uint64_t kNoEnd = std::numeric_limits<std::uint64_t>::max();

  // Reads `file` (which must outlive the source) from `from` when `exact`,
  // else from the split point at or after `from` (which must be past the
  // file's first byte), up to the split point at or after `to`, or to the end
  // of the file when `to` is kNoEnd. `interrupt` (may be null; must outlive
  // the source) is asked before every read, as FileSource asks it.
  ChunkSource(const File& file, std::uint64_t from, bool exact, std::uint64_t to,
              const Interrupt* interrupt);

  bool refill(const unsigned char*& cur, const unsigned char*& end);
  std::optional<ReaderError> take_error() {
    auto error = std::move(error_);
    error_.reset();
    return error;
  }

  // Where the piece begins; known once refill has been called.
  std::uint64_t begin() const { return begin_; }

 private:
  const File* file_;
  std::size_t buffer_size_;
  std::unique_ptr<unsigned char[]> buffer_;
  const Interrupt* interrupt_;
  std::uint64_t from_;
  std::uint64_t to_;
  std::uint64_t begin_;
  std::uint64_t next_read_;   // file offset of the next read
  unsigned char before_ = 0;  // the byte before the next read's first byte
  bool seeking_;              // the start of the piece is not found yet
  bool done_ = false;
  std::optional<ReaderError> error_;
};

}  // namespace vcd

// Two of the four byte sources a Parser reads from (the others are ChunkSource,
// a piece of a body, and HeaderSource, a declaration section made into text):
// text in memory and a file read forward. A source hands out whole windows
// of bytes, so the parser's inner loop is plain pointer arithmetic with one
// refill call at the end of each window and no per-byte virtual call.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vcd/error.hpp"
#include "vcd/file.hpp"
#include "vcd/interrupt.hpp"

namespace vcd {

// Text held in memory, as one window; the text must outlive the source.
class MemorySource {
 public:
  explicit MemorySource(std::string_view text) : text_(text) {}

  // Sets [cur, end) to the next window; false at end of input.
  bool refill(const unsigned char*& cur, const unsigned char*& end) {
    if (handed_out_ || text_.empty()) return false;
    handed_out_ = true;
    cur = reinterpret_cast<const unsigned char*>(text_.data());
    end = cur + text_.size();
    return true;
  }
  std::optional<ReaderError> take_error() { return std::nullopt; }

 private:
  std::string_view text_;
  bool handed_out_ = false;
};

// A file read forward through a buffer of fixed size, after `ahead`, bytes
// already read from it. `interrupt` (may be null; must outlive the source) is
// asked before every refill: when it asks to stop, reading ends with an error
// of kind Interrupted.
class FileSource {
 public:
  static constexpr std::size_t kBufferSize = std::size_t{1} << 18;

  explicit FileSource(File file, const Interrupt* interrupt = nullptr, std::string ahead = {})
      : file_(std::move(file)),
        buffer_(std::make_unique_for_overwrite<unsigned char[]>(kBufferSize)),
        interrupt_(interrupt),
        ahead_(std::move(ahead)) {}

  // Sets [cur, end) to the next window; false at end of file or on a read
  // error, which take_error then reports.
  bool refill(const unsigned char*& cur, const unsigned char*& end) {
    if (interrupt_requested(interrupt_)) {
      error_ = ReaderError::interrupted();
      return false;
    }
    if (!ahead_taken_ && !ahead_.empty()) {
      ahead_taken_ = true;
      cur = reinterpret_cast<const unsigned char*>(ahead_.data());
      end = cur + ahead_.size();
      return true;
    }
    auto got = file_.read(buffer_.get(), kBufferSize, interrupt_);
    if (!got) {
      error_ = std::move(got.error());
      return false;
    }
    cur = buffer_.get();
    end = cur + *got;
    return *got != 0;
  }
  std::optional<ReaderError> take_error() {
    auto error = std::move(error_);
    error_.reset();
    return error;
  }

 private:
  File file_;
  std::unique_ptr<unsigned char[]> buffer_;
  const Interrupt* interrupt_;
  std::string ahead_;
  bool ahead_taken_ = false;
  std::optional<ReaderError> error_;
};

}  // namespace vcd

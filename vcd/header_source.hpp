// The declaration section of a file as a byte source for the Parser: the
// file's lines up to and including the first one that holds
// "$enddefinitions", as the text the declaration reader reads (header_bytes),
// a piece at a time. Memory stays bounded by a read block and the longest
// line that has to be held whole (a "$scope" line), whatever the size of the
// section; a file without the marker is read to its end in that memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "vcd/error.hpp"
#include "vcd/file.hpp"
#include "vcd/header_bytes.hpp"
#include "vcd/interrupt.hpp"

namespace vcd {

// A file that is read once (a pipe, a FIFO, a device, a compressed file),
// after its declaration section: the body goes on with `ahead`, the bytes
// already read past its start, then with the rest of `file`.
struct FileRest {
  File file;
  std::string ahead;
};

class HeaderSource {
 public:
  // `interrupt` (may be null; must outlive the source) is asked before every
  // block read: a file without the marker that never ends can be stopped.
  explicit HeaderSource(File file, const Interrupt* interrupt = nullptr);

  // Sets [cur, end) to the next piece of the text; false at the end of the
  // section or of the file, or on a read error, which take_error reports.
  bool refill(const unsigned char*& cur, const unsigned char*& end);
  std::optional<ReaderError> take_error() const { return error_; }

  // After the declaration reader failed: reads on, taking no text, to the
  // end of the section. Returns what outranks the reader's error: a read
  // error, or an error of kind MissingEndDefinitions when no line holds the
  // marker.
  std::optional<ReaderError> finish_scan();

  // After the declaration reader read "$enddefinitions $end" and stopped at
  // `cursor` of the last piece: where the body begins, counted in bytes of
  // what the file reads as (the text of a compressed one). That is just
  // after the marker line, unless more than whitespace follows on that line:
  // then where the reader stopped, or where the whitespace after it ends.
  Result<std::uint64_t> body_offset(const unsigned char* cursor);

  // Whether the file can be opened again and read from `body_offset`.
  bool reopenable() const { return file_.regular_size().has_value(); }
  // The file positioned for reading its body from `body_offset`, which
  // body_offset() returned.
  FileRest take_rest(std::uint64_t body_offset);

 private:
  // Reads a block onto the end of raw_, dropping what lies well behind pos_;
  // false at the end of the file or on an error.
  bool read_block();
  // The extent of the next piece, from pos_; nullopt at the end of the
  // section or of the file, or on an error.
  std::optional<std::size_t> next_piece_end();
  // Makes the next piece the text; false as next_piece_end.
  bool next_piece();
  bool at_line_start() const {
    return offset_of(pos_) == 0 || raw_[pos_ - 1] == '\n' || raw_[pos_ - 1] == '\r';
  }
  // Notes the marker and the end of its line in raw_ up to `to`.
  void find_marker(std::size_t to);
  std::uint64_t offset_of(std::size_t index) const { return base_ + index; }

  File file_;
  const Interrupt* interrupt_;
  std::string raw_;         // bytes of the file from offset base_
  std::uint64_t base_ = 0;  // the file offset of raw_[0]
  std::size_t pos_ = 0;     // raw_ before this has been handed out
  bool file_ended_ = false;
  std::optional<std::uint64_t> marker_;  // the first "$enddefinitions"
  std::optional<std::uint64_t> end_;     // just past the marker line
  std::uint64_t searched_ = 0;           // the marker was looked for before this
  std::optional<ReaderError> error_;
  // The text of the last piece, whose bytes end at pos_.
  std::unique_ptr<HeaderText> text_;
};

}  // namespace vcd

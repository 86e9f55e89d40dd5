// The bytes of the declaration section made into the text the declaration
// reader reads (lossy UTF-8, scope lines rewritten), with the way back from
// that text to the file's bytes. The section is made into text a piece of
// whole lines at a time (header_source.hpp).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vcd {

class HeaderText {
 public:
  HeaderText() = default;
  HeaderText(const HeaderText&) = delete;
  HeaderText& operator=(const HeaderText&) = delete;

  // Makes `bytes` (which must outlive their use here) the piece: decoded as
  // lossy UTF-8 (valid UTF-8, the usual case, is used where it lies), then,
  // when the piece begins at a line's start, with scope lines rewritten
  // (scope_lines.hpp). A piece that begins inside a line ends with it.
  void assign(std::string_view bytes, bool line_start);

  std::string_view text() const { return text_; }

  // How many bytes at the end of the piece hold what lies from `offset` of
  // text() on, when that is more than whitespace; else 0.
  std::size_t unread_bytes(std::size_t offset) const;

 private:
  std::string_view bytes_;
  bool valid_ = true;
  std::string decoded_storage_;
  std::string_view decoded_;
  std::string normalized_storage_;
  std::string_view text_;
};

}  // namespace vcd

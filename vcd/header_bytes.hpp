// The bytes of the declaration section: found in a file by the marker scan,
// then made into the text the declaration reader reads (lossy UTF-8, scope
// lines rewritten), with the way back from that text to the file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vcd/error.hpp"
#include "vcd/interrupt.hpp"

namespace vcd {

struct HeaderBytes {
  std::string bytes;          // every line up to and including the marker line
  std::uint64_t body_offset;  // equals bytes.size()
};

// Copies the file's lines up to the first one that holds "$enddefinitions";
// an error of kind MissingEndDefinitions when no line does. `interrupt` (may
// be null) is asked before every block read: a file without the marker that
// never ends (a device, a pipe) can be stopped. With `decompress`, a
// compressed file is read as the text it holds (file.hpp).
Result<HeaderBytes> scan_header_bytes(const std::string& path, const Interrupt* interrupt = nullptr,
                                      bool decompress = false);

// The header bytes as the declaration reader takes them: decoded as lossy
// UTF-8 (valid UTF-8, the usual case, is used where it lies), then with
// scope lines rewritten (scope_lines.hpp). `bytes` must outlive this.
class HeaderText {
 public:
  explicit HeaderText(std::string_view bytes);
  HeaderText(const HeaderText&) = delete;
  HeaderText& operator=(const HeaderText&) = delete;

  std::string_view text() const { return text_; }

  // How many bytes at the end of the header bytes hold what lies from
  // `offset` of text() on, when that is more than whitespace; else 0.
  std::size_t unread_bytes(std::size_t offset) const;

 private:
  std::string_view bytes_;
  bool valid_;
  std::string decoded_storage_;
  std::string_view decoded_;
  std::string normalized_storage_;
  std::string_view text_;
};

}  // namespace vcd

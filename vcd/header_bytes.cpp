#include "vcd/header_bytes.hpp"

#include <algorithm>

#include "vcd/scope_lines.hpp"
#include "vcd/unicode.hpp"
#include "vcd/word_scan.hpp"

namespace vcd {

void HeaderText::assign(std::string_view bytes, bool line_start) {
  bytes_ = bytes;
  valid_ = unicode::is_valid_utf8(bytes);
  if (valid_) {
    decoded_ = bytes;
  } else {
    decoded_storage_ = unicode::to_utf8_lossy(bytes);
    decoded_ = decoded_storage_;
  }
  text_ = line_start ? normalize_scope_lines(decoded_, normalized_storage_) : decoded_;
}

std::size_t HeaderText::unread_bytes(std::size_t offset) const {
  // The text after the last rewritten line was copied unchanged, so what
  // ends the text ends the decoded bytes too.
  const std::string_view unread = text_.substr(offset);
  const bool only_whitespace = std::ranges::all_of(unread, [](char c) { return is_whitespace(c); });
  if (only_whitespace || !decoded_.ends_with(unread)) return 0;
  if (valid_) return unread.size();
  return bytes_.size() - unicode::lossy_source_offset(bytes_, decoded_.size() - unread.size());
}

}  // namespace vcd

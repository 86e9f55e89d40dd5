#include "vcd/header_bytes.hpp"

#include <algorithm>
#include <cstring>

#include "vcd/file.hpp"
#include "vcd/scope_lines.hpp"
#include "vcd/unicode.hpp"
#include "vcd/word_scan.hpp"

namespace vcd {

namespace {

constexpr std::string_view kMarker = "$enddefinitions";
constexpr std::size_t kReadBlock = std::size_t{1} << 16;

}  // namespace

Result<HeaderBytes> scan_header_bytes(const std::string& path, const Interrupt* interrupt,
                                      bool decompress) {
  auto file = File::open_read(path, interrupt, decompress);
  if (!file) return std::unexpected(std::move(file.error()));
  HeaderBytes header{{}, 0};
  std::string& bytes = header.bytes;
  // The marker line is the line of the marker's first occurrence; once that
  // is found, only its line feed is looked for.
  std::size_t search_from = 0;
  std::size_t marker = std::string::npos;
  for (;;) {
    if (interrupt_requested(interrupt)) return std::unexpected(ReaderError::interrupted());
    const std::size_t old_size = bytes.size();
    bytes.resize(old_size + kReadBlock);
    auto got = file->read(reinterpret_cast<unsigned char*>(bytes.data() + old_size), kReadBlock,
                          interrupt);
    if (!got) return std::unexpected(std::move(got.error()));
    bytes.resize(old_size + *got);
    if (*got == 0) {
      // The marker line has no line feed, or there is no marker at all.
      if (marker != std::string::npos) break;
      return std::unexpected(ReaderError::missing_end_definitions());
    }
    if (marker == std::string::npos) {
      marker = detail::find_bytes(bytes, search_from, kMarker);
      if (marker == bytes.size()) marker = std::string::npos;
      // A marker may straddle this block and the next.
      search_from = bytes.size() - std::min(bytes.size(), kMarker.size() - 1);
    }
    if (marker != std::string::npos) {
      const std::size_t from = std::max(marker, old_size);
      const void* lf = std::memchr(bytes.data() + from, '\n', bytes.size() - from);
      if (lf != nullptr) {
        bytes.resize(static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1);
        break;
      }
    }
  }
  header.body_offset = bytes.size();
  return header;
}

HeaderText::HeaderText(std::string_view bytes)
    : bytes_(bytes),
      valid_(unicode::is_valid_utf8(bytes)),
      decoded_storage_(valid_ ? std::string() : unicode::to_utf8_lossy(bytes)),
      decoded_(valid_ ? bytes : std::string_view(decoded_storage_)),
      text_(normalize_scope_lines(decoded_, normalized_storage_)) {}

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

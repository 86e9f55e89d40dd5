#include "vcd/header_source.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "vcd/unicode.hpp"
#include "vcd/word_scan.hpp"

namespace vcd {

namespace {

constexpr std::string_view kMarker = "$enddefinitions";
constexpr std::size_t kReadBlock = std::size_t{1} << 16;
// A line longer than this is handed out in pieces, unless it may declare a
// scope: that one is rewritten as a whole.
constexpr std::size_t kLongLine = std::size_t{1} << 16;
// What is kept of the bytes handed out: the start of a marker may lie there,
// and the byte before a piece tells whether it begins a line.
constexpr std::size_t kKeep = kMarker.size();

bool ends_line(char c) { return c == '\n' || c == '\r'; }
bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Whether the line that begins with `start` may be one that scope_lines
// rewrites, so that it is to be held whole.
bool may_declare_scope(std::string_view start) {
  constexpr std::string_view kScope = "$scope ";
  const auto first = static_cast<unsigned char>(start.front());
  if ((first > ' ' && first < 0x80 && first != '$') || start.starts_with("$var")) return false;
  const std::string_view stripped = unicode::trim_white_space(start);
  return stripped.starts_with(kScope) || kScope.starts_with(stripped);
}

}  // namespace

HeaderSource::HeaderSource(File file, const Interrupt* interrupt)
    : file_(std::move(file)), interrupt_(interrupt), text_(std::make_unique<HeaderText>()) {}

bool HeaderSource::read_block() {
  if (file_ended_ || error_) return false;
  if (interrupt_requested(interrupt_)) {
    error_ = ReaderError::interrupted();
    return false;
  }
  const std::size_t drop = pos_ - std::min(pos_, kKeep);
  raw_.erase(0, drop);
  base_ += drop;
  pos_ -= drop;
  const std::size_t old_size = raw_.size();
  raw_.resize(old_size + kReadBlock);
  auto got =
      file_.read(reinterpret_cast<unsigned char*>(raw_.data() + old_size), kReadBlock, interrupt_);
  raw_.resize(old_size + (got ? *got : 0));
  if (!got) {
    error_ = std::move(got.error());
    return false;
  }
  file_ended_ = *got == 0;
  return !file_ended_;
}

void HeaderSource::find_marker(std::size_t to) {
  const std::string_view raw = std::string_view(raw_).substr(0, to);
  const std::size_t from = searched_ - base_;
  if (!marker_) {
    const std::size_t found = detail::find_bytes(raw, from, kMarker);
    if (found == raw.size()) {
      // A marker may begin in the last bytes and end in the next block.
      searched_ = base_ + std::max(from, raw.size() - std::min(raw.size(), kMarker.size() - 1));
      return;
    }
    marker_ = base_ + found;
    searched_ = *marker_;
  }
  // The marker line ends at the first line feed from the marker on.
  const std::size_t lf_from = searched_ - base_;
  const void* lf = std::memchr(raw.data() + lf_from, '\n', raw.size() - lf_from);
  if (lf == nullptr) {
    searched_ = base_ + raw.size();
    return;
  }
  end_ = base_ + static_cast<std::size_t>(static_cast<const char*>(lf) - raw.data()) + 1;
}

std::optional<std::size_t> HeaderSource::next_piece_end() {
  const bool line_start = at_line_start();
  std::uint64_t scanned = offset_of(pos_);  // no line ends before this
  for (;;) {
    if (error_ || (end_ && offset_of(pos_) >= *end_)) return std::nullopt;
    // A piece ends after the last line end at hand; one that begins inside
    // a line, after the first, so that it ends with that line.
    std::size_t stop = 0;
    const std::size_t from = scanned - base_;
    if (line_start) {
      for (std::size_t i = raw_.size(); i > from && stop == 0; --i) {
        if (ends_line(raw_[i - 1])) stop = i;
      }
    } else {
      for (std::size_t i = from; i < raw_.size() && stop == 0; ++i) {
        if (ends_line(raw_[i])) stop = i + 1;
      }
    }
    scanned = offset_of(raw_.size());
    if (stop == 0 && file_ended_) {
      if (pos_ == raw_.size()) {
        if (!marker_) error_ = ReaderError::missing_end_definitions();
        end_ = offset_of(pos_);
        return std::nullopt;
      }
      stop = raw_.size();
    } else if (stop == 0 && raw_.size() - pos_ >= kLongLine &&
               !(line_start && may_declare_scope(std::string_view(raw_).substr(pos_)))) {
      // Cut before the last character's first byte, so that no character
      // is split between two pieces.
      stop = raw_.size();
      for (std::size_t back = 0; back < 4; ++back) {
        if (!is_continuation(raw_[stop - back - 1])) {
          stop -= back + 1;
          break;
        }
      }
    }
    if (stop == 0) {
      read_block();
      continue;
    }
    if (!end_) find_marker(stop);
    if (end_) stop = std::min<std::size_t>(stop, *end_ - base_);
    return stop;
  }
}

bool HeaderSource::refill(const unsigned char*& cur, const unsigned char*& end) {
  if (!next_piece()) return false;
  const std::string_view text = text_->text();
  cur = reinterpret_cast<const unsigned char*>(text.data());
  end = cur + text.size();
  return true;
}

bool HeaderSource::next_piece() {
  const bool line_start = at_line_start();
  const auto stop = next_piece_end();
  if (!stop) return false;
  text_->assign(std::string_view(raw_).substr(pos_, *stop - pos_), line_start);
  pos_ = *stop;
  return true;
}

std::optional<ReaderError> HeaderSource::finish_scan() {
  for (;;) {
    if (error_ || end_) return error_;
    find_marker(raw_.size());
    if (end_) return std::nullopt;
    if (file_ended_) {
      if (!marker_) error_ = ReaderError::missing_end_definitions();
      return error_;
    }
    // Nothing of what was read is handed out.
    pos_ = raw_.size();
    read_block();
  }
}

Result<std::uint64_t> HeaderSource::body_offset(const unsigned char* cursor) {
  std::string_view text = text_->text();
  const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t offset = 0;
  if (cursor >= begin && cursor <= begin + text.size()) {
    offset = static_cast<std::size_t>(cursor - begin);
  } else {
    offset = text.size();  // pushed-back bytes: nothing left of this piece
  }
  for (;;) {
    // More than whitespace left on the marker line: the body begins there.
    if (const std::size_t unread = text_->unread_bytes(offset); unread != 0)
      return offset_of(pos_) - unread;
    const bool blank =
        std::ranges::all_of(text.substr(offset), [](char c) { return is_whitespace(c); });
    if (!blank || !next_piece()) break;
    text = text_->text();
    offset = 0;
  }
  // The rest of the marker line is left to the header.
  if (auto failed = finish_scan()) return std::unexpected(std::move(*failed));
  return end_.value_or(offset_of(raw_.size()));
}

FileRest HeaderSource::take_rest(std::uint64_t body_offset) {
  const std::size_t from =
      std::min<std::uint64_t>(body_offset - std::min(body_offset, base_), raw_.size());
  return FileRest{std::move(file_), raw_.substr(from)};
}

}  // namespace vcd

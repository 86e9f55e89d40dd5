#include "vcd/chunk_source.hpp"

#include <algorithm>
#include <cstring>

namespace vcd {

namespace {

// The first '#' in [lo, end) at file offset `from` or later whose byte
// before is a line feed; `buffer` holds the bytes from file offset `base`,
// `before` is the byte before it. Null when there is none.
const unsigned char* find_split(const unsigned char* buffer, const unsigned char* lo,
                                const unsigned char* end, std::uint64_t base, std::uint64_t from,
                                unsigned char before) {
  if (from > base) {
    if (from - base >= static_cast<std::uint64_t>(end - buffer)) return nullptr;
    lo = std::max(lo, buffer + (from - base));
  }
  while (lo != end) {
    const auto* hash = static_cast<const unsigned char*>(std::memchr(lo, '#', end - lo));
    if (hash == nullptr) return nullptr;
    if ((hash == buffer ? before : hash[-1]) == '\n') return hash;
    lo = hash + 1;
  }
  return nullptr;
}

}  // namespace

ChunkSource::ChunkSource(const File& file, std::uint64_t from, bool exact, std::uint64_t to,
                         const Interrupt* interrupt)
    : file_(&file),
      buffer_size_(to - from < kBufferSize ? std::max<std::size_t>(to - from, kMinBufferSize)
                                           : kBufferSize),
      buffer_(std::make_unique_for_overwrite<unsigned char[]>(buffer_size_)),
      interrupt_(interrupt),
      from_(from),
      to_(to),
      begin_(from),
      // Looking for a split point starts a byte early, to see the line feed.
      next_read_(exact ? from : from - 1),
      seeking_(!exact) {}

bool ChunkSource::refill(const unsigned char*& cur, const unsigned char*& end) {
  while (!done_) {
    if (interrupt_requested(interrupt_)) {
      error_ = ReaderError::interrupted();
      return false;
    }
    auto got = file_->read_at(buffer_.get(), buffer_size_, next_read_, interrupt_);
    if (!got) {
      error_ = std::move(got.error());
      return false;
    }
    const std::uint64_t base = next_read_;
    if (*got == 0) {
      if (seeking_) begin_ = base;
      done_ = true;
      return false;
    }
    next_read_ += *got;
    const unsigned char* first = buffer_.get();
    const unsigned char* last = first + *got;
    const unsigned char before = before_;
    before_ = last[-1];
    if (seeking_) {
      first = find_split(buffer_.get(), first, last, base, from_, before);
      if (first == nullptr) continue;
      seeking_ = false;
      begin_ = base + static_cast<std::uint64_t>(first - buffer_.get());
      if (begin_ >= to_) {
        done_ = true;
        return false;
      }
    }
    if (to_ != kNoEnd && next_read_ > to_) {
      if (const unsigned char* split = find_split(buffer_.get(), first, last, base, to_, before)) {
        last = split;
        done_ = true;
      }
    }
    if (first != last) {
      cur = first;
      end = last;
      return true;
    }
  }
  return false;
}

}  // namespace vcd

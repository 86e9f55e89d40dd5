// A bounds-checked cursor over bytes of an FST file: big-endian words,
// LEB128 varints and NUL-terminated names. Every read past the end, or a
// varint longer than its type, fails instead of reading on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vcd::fst {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const unsigned char> bytes) : bytes_(bytes) {}

  std::size_t position() const { return pos_; }
  std::size_t left() const { return bytes_.size() - pos_; }
  bool at_end() const { return pos_ == bytes_.size(); }

  std::optional<std::uint8_t> byte() {
    if (pos_ >= bytes_.size()) return std::nullopt;
    return bytes_[pos_++];
  }
  std::optional<std::uint64_t> u64() {
    if (left() < 8) return std::nullopt;
    std::uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | bytes_[pos_++];
    return value;
  }
  // An unsigned LEB128 number of at most 64 bits.
  [[gnu::always_inline]] std::optional<std::uint64_t> varint() {
    // Most are a single byte.
    if (pos_ < bytes_.size() && bytes_[pos_] < 0x80) return bytes_[pos_++];
    std::uint64_t value = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
      if (pos_ >= bytes_.size()) return std::nullopt;
      const std::uint8_t b = bytes_[pos_++];
      value |= std::uint64_t{b & 0x7fu} << shift;
      if ((b & 0x80) == 0) return value;
    }
    return std::nullopt;
  }
  // A signed LEB128 number of at most 64 bits.
  std::optional<std::int64_t> svarint() {
    std::uint64_t value = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
      if (pos_ >= bytes_.size()) return std::nullopt;
      const std::uint8_t b = bytes_[pos_++];
      value |= std::uint64_t{b & 0x7fu} << shift;
      if ((b & 0x80) == 0) {
        if (shift + 7 < 64 && (b & 0x40) != 0) value |= ~std::uint64_t{0} << (shift + 7);
        return static_cast<std::int64_t>(value);
      }
    }
    return std::nullopt;
  }
  // The bytes up to the next NUL, which is passed over.
  std::optional<std::string_view> name() {
    for (std::size_t end = pos_; end < bytes_.size(); ++end) {
      if (bytes_[end] != 0) continue;
      const std::string_view text(reinterpret_cast<const char*>(bytes_.data() + pos_), end - pos_);
      pos_ = end + 1;
      return text;
    }
    return std::nullopt;
  }
  std::optional<std::span<const unsigned char>> take(std::size_t size) {
    if (left() < size) return std::nullopt;
    const auto taken = bytes_.subspan(pos_, size);
    pos_ += size;
    return taken;
  }

 private:
  std::span<const unsigned char> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace vcd::fst

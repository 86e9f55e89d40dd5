// The changes of one signal in one file, packed into bytes, and the reader
// that walks them in the merge of two files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "src/lib/change_value.hpp"
#include "vcd/value.hpp"

namespace quarnel {

// The times of the timestamps at which a file's collected changes happened,
// in file order; a change refers to its timestamp by position.
using Timeline = std::vector<std::uint64_t>;

// The changes of one signal in one file, in file order, packed into bytes:
// per change how many timestamps of the timeline on from the previous change
// (a varint), then the value as one tag byte and its payload. A scalar is
// its tag alone, an integer a varint, a real its 8 bytes, a text its length
// and bytes. Identical values pack to identical bytes.
class ChangeList {
 public:
  // `stamp` is the change's position in the timeline, never less than that
  // of the change before.
  [[gnu::always_inline]] void add(std::uint64_t stamp, const vcd::ChangeView& value) {
    switch (value.kind) {
      case vcd::ChangeView::Kind::Scalar: return add_scalar(stamp, value.scalar);
      case vcd::ChangeView::Kind::Vector: return add_vector(stamp, value.text);
      case vcd::ChangeView::Kind::Real: return add_real(stamp, value.real);
      case vcd::ChangeView::Kind::String: return add_string(stamp, value.text);
    }
  }

  std::span<const unsigned char> bytes() const { return {bytes_.get(), size_}; }
  std::uint64_t last_stamp() const { return last_stamp_; }

 private:
  void add_scalar(std::uint64_t stamp, vcd::Value value);
  void add_vector(std::uint64_t stamp, std::string_view bits);  // a lower-case state per bit
  void add_real(std::uint64_t stamp, double value);
  void add_string(std::uint64_t stamp, std::string_view text);
  // Appends the step to `stamp`, then what `write` (unsigned char* -> end of
  // what it wrote) puts after it, at most `payload` bytes.
  template <class Write>
  void append(std::uint64_t stamp, std::size_t payload, Write write);
  void grow(std::size_t room);
  template <class T>
  void add_integer(std::uint64_t stamp, T value);
  void add_text(std::uint64_t stamp, unsigned char tag, std::string_view text);

  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::uint64_t last_stamp_ = 0;
};

// One signal's changes in one file, with the timeline they refer to.
struct SignalChanges {
  const ChangeList& list;
  const Timeline& times;
};

// The changes of the requested names in one file, one list per identifier
// code: names that share a code (aliases) share a list.
struct SignalValues {
  Timeline times;
  std::vector<ChangeList> lists;
  std::vector<std::size_t> list_of;  // per requested name; undeclared names get an empty list

  SignalChanges changes_of(std::size_t name) const { return {lists[list_of[name]], times}; }
};

namespace packing {

// The first byte of a packed value: a scalar's vcd::Value, so that a scalar
// packs to one byte, or one of these. kBits holds the bits of a vector that
// is no integer, kText the text of a string change.
enum Tag : unsigned char { kInteger = vcd::kValueCount, kReal, kText, kBits };

constexpr unsigned char scalar_tag(vcd::Value value) { return static_cast<unsigned char>(value); }

// Longest varint of 64 bits, 7 bits per byte.
inline constexpr std::size_t kMaxVarintBytes = 10;

// The bytes of one packed value, tag first.
struct PackedValue {
  const unsigned char* data;
  std::size_t size;
};

// Every value starts unknown.
inline constexpr unsigned char kStartBytes[] = {scalar_tag(vcd::Value::Unknown)};
inline constexpr PackedValue kStartValue{kStartBytes, 1};

template <class T>
T read_varint(const unsigned char*& in) {
  if (*in < 0x80) return *in++;
  T value = 0;
  for (unsigned shift = 0;; shift += 7) {
    const unsigned char byte = *in++;
    value |= static_cast<T>(byte & 0x7F) << shift;
    if (byte < 0x80) return value;
  }
}

inline std::size_t packed_size(const unsigned char* value) {
  if (value[0] < kInteger) return 1;
  const unsigned char* end = value + 1;
  switch (value[0]) {
    case kInteger: read_varint<u128>(end); break;
    case kReal: end += sizeof(double); break;
    case kText:
    case kBits: end += read_varint<std::size_t>(end); break;
    default: break;
  }
  return static_cast<std::size_t>(end - value);
}

}  // namespace packing

using packing::PackedValue;

// The rules of value_equality on packed values, without unpacking them
// where the bytes tell.
bool values_agree(const PackedValue& a, const PackedValue& b);
bool is_unknown(const PackedValue& value);
ChangeValue unpack(const PackedValue& value);

// The time of a reader past its last change; at_end() tells it from a
// change at the largest time.
inline constexpr std::uint64_t kNoTime = std::numeric_limits<std::uint64_t>::max();

// Walks a change list, the current change unpacked as far as the merge
// needs; its value starts unknown, as every signal does.
class ChangeReader {
 public:
  explicit ChangeReader(const SignalChanges& changes)
      : next_(changes.list.bytes().data()),
        end_(next_ + changes.list.bytes().size()),
        times_(changes.times.data()) {
    advance();
  }

  bool at_end() const { return next_ == nullptr; }
  // kNoTime once every change has been read.
  std::uint64_t time() const { return time_; }
  const PackedValue& value() const { return value_; }
  static PackedValue start_value() { return packing::kStartValue; }

  void advance() {
    if (next_ == end_) {
      next_ = nullptr;
      time_ = kNoTime;
      return;
    }
    stamp_ += packing::read_varint<std::uint64_t>(next_);
    time_ = times_[stamp_];
    value_ = {next_, packing::packed_size(next_)};
    next_ += value_.size;
  }

 private:
  const unsigned char* next_;
  const unsigned char* end_;
  const std::uint64_t* times_;
  std::uint64_t stamp_ = 0;
  std::uint64_t time_ = 0;
  PackedValue value_ = packing::kStartValue;
};

// Whether two lists hold the same changes at the same times, given that the
// first `same_times` stamps of their timelines agree. They then agree at
// every time.
bool same_changes(const ChangeList& a, const ChangeList& b, std::size_t same_times);

}  // namespace quarnel

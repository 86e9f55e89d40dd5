#include "src/lib/change_list.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#include "src/lib/value_equality.hpp"

namespace quarnel {

using namespace packing;

namespace {

template <class T>
unsigned char* put_varint(unsigned char* out, T value) {
  while (value >= 0x80) {
    *out++ = static_cast<unsigned char>(value) | 0x80;
    value >>= 7;
  }
  *out++ = static_cast<unsigned char>(value);
  return out;
}

bool is_bit_text(const PackedValue& value) {
  return value.data[0] < kInteger || value.data[0] == kBits;
}

// The text of a scalar, bits or text value.
std::string_view text_of(const PackedValue& value) {
  if (value.data[0] < kInteger) return vcd::to_text(static_cast<vcd::Value>(value.data[0]));
  const unsigned char* text = value.data + 1;
  const auto size = read_varint<std::size_t>(text);
  return {reinterpret_cast<const char*>(text), size};
}

}  // namespace

ChangeValue unpack(const PackedValue& value) {
  const unsigned char* payload = value.data + 1;
  switch (value.data[0]) {
    case kInteger: return ChangeValue{read_varint<u128>(payload)};
    case kReal: {
      double real = 0;
      std::memcpy(&real, payload, sizeof real);
      return ChangeValue{real};
    }
    case kText: return ChangeValue::of_string(std::string(text_of(value)));
    default: return ChangeValue::of_bits(std::string(text_of(value)));
  }
}

bool is_unknown(const PackedValue& value) {
  const unsigned char tag = value.data[0];
  if (tag < kInteger) return vcd::is_unknown(static_cast<vcd::Value>(tag));
  if (tag == kBits) return vcd::is_unknown_bits(shorten_bits(text_of(value)));
  return tag == kText && vcd::is_unknown_string(text_of(value));
}

bool values_agree(const PackedValue& a, const PackedValue& b) {
  if (a.data[0] == b.data[0] && a.size == b.size &&
      (a.size == 1 || std::memcmp(a.data + 1, b.data + 1, a.size - 1) == 0)) {
    return true;
  }
  // Scalars, integers and reals pack one way only, so different bytes are
  // different values.
  if ((a.data[0] < kInteger && b.data[0] < kInteger) ||
      (a.data[0] == b.data[0] && (a.data[0] == kInteger || a.data[0] == kReal))) {
    return false;
  }
  if (is_bit_text(a) && is_bit_text(b)) return shorten_bits(text_of(a)) == shorten_bits(text_of(b));
  if (a.data[0] == kText && b.data[0] == kText) {
    return equal_ignoring_ascii_case(text_of(a), text_of(b));
  }
  return values_agree(unpack(a), unpack(b));
}

bool same_changes(const ChangeList& a, const ChangeList& b, std::size_t same_times) {
  return std::ranges::equal(a.bytes(), b.bytes()) &&
         (a.bytes().empty() || a.last_stamp() < same_times);
}

void ChangeList::grow(std::size_t room) {
  capacity_ = std::max({capacity_ * 2, size_ + room, std::size_t{64}});
  auto larger = std::make_unique_for_overwrite<unsigned char[]>(capacity_);
  std::ranges::copy(bytes(), larger.get());
  bytes_ = std::move(larger);
}

template <class Write>
[[gnu::always_inline]] inline void ChangeList::append(std::uint64_t stamp, std::size_t payload,
                                                      Write write) {
  if (capacity_ - size_ < kMaxVarintBytes + payload) grow(kMaxVarintBytes + payload);
  unsigned char* const out = put_varint(bytes_.get() + size_, stamp - last_stamp_);
  size_ = static_cast<std::size_t>(write(out) - bytes_.get());
  last_stamp_ = stamp;
}

void ChangeList::add_scalar(std::uint64_t stamp, vcd::Value value) {
  append(stamp, 1, [value](unsigned char* out) {
    *out = static_cast<unsigned char>(value);
    return out + 1;
  });
}

void ChangeList::add_vector(std::uint64_t stamp, std::string_view bits) {
  u128 number = 0;
  if (!binary_vector_value(bits, number)) {
    add_text(stamp, kBits, bits);
  } else if (number >> 64 == 0) {
    // Most vectors fit in 64 bits, whose varint is cheaper to write.
    add_integer(stamp, static_cast<std::uint64_t>(number));
  } else {
    add_integer(stamp, number);
  }
}

template <class T>
void ChangeList::add_integer(std::uint64_t stamp, T value) {
  append(stamp, 1 + sizeof(T) * 8 / 7 + 1, [value](unsigned char* out) {
    *out = kInteger;
    return put_varint(out + 1, value);
  });
}

void ChangeList::add_real(std::uint64_t stamp, double value) {
  append(stamp, 1 + sizeof value, [value](unsigned char* out) {
    *out++ = kReal;
    std::memcpy(out, &value, sizeof value);
    return out + sizeof value;
  });
}

void ChangeList::add_string(std::uint64_t stamp, std::string_view text) {
  add_text(stamp, kText, text);
}

void ChangeList::add_text(std::uint64_t stamp, unsigned char tag, std::string_view text) {
  append(stamp, 1 + kMaxVarintBytes + text.size(), [tag, text](unsigned char* out) {
    *out++ = tag;
    out = put_varint(out, text.size());
    return std::ranges::copy(text, out).out;
  });
}

}  // namespace quarnel

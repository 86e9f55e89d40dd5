// The last change of a signal seen so far, kept beyond the reader's buffer.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "src/lib/change_value.hpp"
#include "vcd/fst_block_changes.hpp"

namespace quarnel {

struct HeldChange {
  bool set = false;
  ChangeView::Kind kind = ChangeView::Kind::Scalar;
  vcd::Value scalar = vcd::Value::Zero;
  double real = 0;
  // A vector's or string's text, its storage reused from change to change.
  std::string text;

  void hold(const ChangeView& view) {
    set = true;
    kind = view.kind;
    scalar = view.scalar;
    real = view.real;
    if (has_text()) text.assign(view.text);
  }
  // Holds the vector of `bits` bits `packed` eight to a byte, the first the
  // most significant.
  void hold_packed(std::span<const unsigned char> packed, std::uint32_t bits) {
    set = true;
    kind = ChangeView::Kind::Vector;
    text.clear();
    vcd::fst::append_bit_letters(packed, bits, text);
  }
  // Holds `view`, which is of the kind held (scalar or vector, a vector as
  // long as the one held) in place of it; returns whether the two were
  // alike. One pass over a vector's letters compares and copies them.
  bool exchange_bits(const ChangeView& view) {
    if (kind == ChangeView::Kind::Scalar) {
      const bool alike = scalar == view.scalar;
      scalar = view.scalar;
      return alike;
    }
    char* held = text.data();
    const char* next = view.text.data();
    const std::size_t size = text.size();
    std::uint64_t differ = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
      std::uint64_t a = 0;
      std::uint64_t b = 0;
      std::memcpy(&a, held + i, 8);
      std::memcpy(&b, next + i, 8);
      differ |= a ^ b;
      std::memcpy(held + i, &b, 8);
    }
    for (; i < size; ++i) {
      differ |= static_cast<unsigned char>(held[i] ^ next[i]);
      held[i] = next[i];
    }
    return differ == 0;
  }
  // Whether `view` is of the kind exchange_bits() takes.
  bool bits_like(const ChangeView& view) const {
    return set && kind == view.kind &&
           (kind == ChangeView::Kind::Scalar ||
            (kind == ChangeView::Kind::Vector && text.size() == view.text.size()));
  }
  // Valid while this is neither changed nor destroyed.
  ChangeView view() const {
    return ChangeView{kind, scalar, has_text() ? std::string_view(text) : std::string_view(), real};
  }

 private:
  bool has_text() const {
    return kind == ChangeView::Kind::Vector || kind == ChangeView::Kind::String;
  }
};

}  // namespace quarnel

// Display texts of change values as Python str objects.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "src/lib/change_value.hpp"
#include "src/python/pyref.hpp"

namespace quarnel::python {

// Builds the str of a value's display text. Texts are shared
// where it is cheap to find them again: the one-bit texts (one per state)
// and the decimal texts of small integers are made once per converter, and
// the texts of recent larger numbers, reals and short texts are kept in
// small direct-mapped caches. str objects are immutable, so sharing them is
// invisible to the caller; the caches only hold texts that the caller's
// result holds too.
class ValueTexts {
 public:
  // A new reference, or an empty PyRef with an exception set.
  PyRef text_of(const ChangeValue& value);
  // The same text for a change as the reader hands it out, without building
  // the ChangeValue first. `bit_index` is set to the vcd::Value (0 to 8) when
  // the text is one of the one-bit texts, and to kNotABit otherwise.
  static constexpr int kNotABit = vcd::kValueCount;
  PyRef text_of(const ChangeView& view, int& bit_index);

 private:
  static constexpr unsigned kSmallIntegers = 256;
  static constexpr std::size_t kCacheSlots = 256;
  // Texts longer than this are not cached.
  static constexpr std::size_t kMaxCachedText = 64;

  PyRef bit(vcd::Value value);
  PyRef number(u128 value);
  PyRef real(double value);
  // `bit_index` as for text_of.
  PyRef text(std::string_view text, int& bit_index);

  struct NumberSlot {
    u128 key = 0;
    PyRef text;
  };
  struct RealSlot {
    std::uint64_t key = 0;  // the bits of the double
    PyRef text;
  };
  struct TextSlot {
    std::string key;
    PyRef text;
  };

  std::array<PyRef, vcd::kValueCount> bits_;
  std::array<PyRef, kSmallIntegers> small_integers_;
  std::array<NumberSlot, kCacheSlots> numbers_;
  std::array<RealSlot, kCacheSlots> reals_;
  std::array<TextSlot, kCacheSlots> texts_;
};

}  // namespace quarnel::python

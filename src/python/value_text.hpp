// Display texts of change values as Python str objects.
#pragma once

#include <Python.h>

#include <array>

#include "src/lib/change_value.hpp"
#include "src/python/pyref.hpp"

namespace quarnel::python {

// Builds the str of a value's display text. The texts that recur most (the
// one-bit texts "0", "1", "x", "z" and the decimal texts of small integers)
// are made once per converter and shared: str objects are immutable, so
// sharing them is invisible to the caller.
class ValueTexts {
 public:
  // A new reference, or an empty PyRef with an exception set.
  PyRef text_of(const ChangeValue& value);

 private:
  static constexpr unsigned kSmallIntegers = 256;
  std::array<PyRef, 4> bits_;
  std::array<PyRef, kSmallIntegers> small_integers_;
};

}  // namespace quarnel::python

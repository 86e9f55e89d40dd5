// Parameter tables of the module's functions and the one routine that binds
// a call's positional tuple and keyword dict to them.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string>

#include "src/python/errors.hpp"

namespace quarnel::python {

struct KeywordOnlyParam {
  const char* name;
  bool required;
};

// How one function takes its arguments. Positional parameters come first in
// the slot order, keyword-only ones after them.
struct ParamTable {
  const char* function;
  std::span<const char* const> positional;
  std::size_t positional_only;
  // The required positional parameters are a prefix of `positional`.
  std::size_t required_positional;
  std::span<const KeywordOnlyParam> keyword_only;

  constexpr std::size_t size() const { return positional.size() + keyword_only.size(); }
  constexpr const char* name_of(std::size_t slot) const {
    return slot < positional.size() ? positional[slot]
                                    : keyword_only[slot - positional.size()].name;
  }
};

// Room for the longest parameter list of the module.
inline constexpr std::size_t kMaxParams = 10;

// One borrowed reference per parameter, in slot order; nullptr where the
// call gave no value, so the parameter takes its default.
using Slots = std::array<PyObject*, kMaxParams>;

// Binds `args` (a tuple) and `kwargs` (a dict or nullptr) to the parameters,
// checking in this order: too many positional arguments; each keyword in the
// dict's order (first duplicate or unknown name wins); missing required
// parameters. Each failure raises TypeError.
PyResult<Slots> bind_arguments(const ParamTable& table, PyObject* args, PyObject* kwargs);

}  // namespace quarnel::python

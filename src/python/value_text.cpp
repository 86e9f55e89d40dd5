#include "src/python/value_text.hpp"

#include <string>

#include "src/python/convert.hpp"

namespace quarnel::python {

namespace {

int bit_slot(char c) {
  switch (c) {
    case '0': return 0;
    case '1': return 1;
    case 'x': return 2;
    case 'z': return 3;
    default: return -1;
  }
}

}  // namespace

PyRef ValueTexts::text_of(const ChangeValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.value)) {
    const int slot = text->size() == 1 ? bit_slot(text->front()) : -1;
    if (slot < 0) return to_py_str(*text);
    PyRef& cached = bits_[static_cast<std::size_t>(slot)];
    if (!cached) cached = to_py_str(*text);
    return PyRef::borrow(cached.get());
  }
  if (const auto* number = std::get_if<u128>(&value.value); number && *number < kSmallIntegers) {
    PyRef& cached = small_integers_[static_cast<std::size_t>(*number)];
    if (!cached) cached = to_py_str(to_decimal(*number));
    return PyRef::borrow(cached.get());
  }
  return to_py_str(display_text(value));
}

}  // namespace quarnel::python

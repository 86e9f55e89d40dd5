#include "src/python/value_text.hpp"

#include <bit>
#include <functional>
#include <string>

#include "src/python/convert.hpp"

namespace quarnel::python {

namespace {

// The bit texts in the order of vcd::Value.
int bit_slot(char c) {
  const auto value = vcd::state_of_letter(c);
  return value ? static_cast<int>(*value) : -1;
}

std::size_t mix(std::uint64_t key) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 56);
}

}  // namespace

PyRef ValueTexts::bit(vcd::Value value) {
  PyRef& cached = bits_[static_cast<std::size_t>(value)];
  if (!cached) cached = to_py_str(vcd::to_text(value));
  return PyRef::borrow(cached.get());
}

PyRef ValueTexts::number(u128 value) {
  if (value < kSmallIntegers) {
    PyRef& cached = small_integers_[static_cast<std::size_t>(value)];
    if (!cached) cached = to_py_str(to_decimal(value));
    return PyRef::borrow(cached.get());
  }
  const auto low = static_cast<std::uint64_t>(value);
  const auto high = static_cast<std::uint64_t>(value >> 64);
  NumberSlot& slot = numbers_[mix(low ^ (high * 31))];
  if (slot.text && slot.key == value) return PyRef::borrow(slot.text.get());
  char digits[kMaxDecimalDigits];
  PyRef made = to_py_str({digits, write_decimal(value, digits)});
  if (!made) return {};
  slot.key = value;
  slot.text = PyRef::borrow(made.get());
  return made;
}

PyRef ValueTexts::real(double value) {
  const auto key = std::bit_cast<std::uint64_t>(value);
  RealSlot& slot = reals_[mix(key)];
  if (slot.text && slot.key == key) return PyRef::borrow(slot.text.get());
  PyRef made = to_py_str(real_display_text(value));
  if (!made) return {};
  slot.key = key;
  slot.text = PyRef::borrow(made.get());
  return made;
}

PyRef ValueTexts::text(std::string_view text, int& bit_index) {
  bit_index = kNotABit;
  if (text.size() == 1) {
    const int slot = bit_slot(text.front());
    if (slot >= 0) {
      bit_index = slot;
      return bit(static_cast<vcd::Value>(slot));
    }
  }
  if (text.size() > kMaxCachedText) return to_py_str(text);
  TextSlot& slot = texts_[mix(std::hash<std::string_view>{}(text))];
  if (slot.text && slot.key == text) return PyRef::borrow(slot.text.get());
  PyRef made = to_py_str(text);
  if (!made) return {};
  slot.key.assign(text);
  slot.text = PyRef::borrow(made.get());
  return made;
}

PyRef ValueTexts::text_of(const ChangeValue& value) {
  int bit_index = kNotABit;
  if (const auto* text_value = std::get_if<std::string>(&value.value)) {
    return text(*text_value, bit_index);
  }
  if (const auto* integer = std::get_if<u128>(&value.value)) return number(*integer);
  return real(std::get<double>(value.value));
}

PyRef ValueTexts::text_of(const ChangeView& view, int& bit_index) {
  bit_index = kNotABit;
  switch (view.kind) {
    case ChangeView::Kind::Scalar:
      bit_index = static_cast<int>(view.scalar);
      return bit(view.scalar);
    case ChangeView::Kind::Vector: {
      u128 integer = 0;
      if (binary_vector_value(view.text, integer)) return number(integer);
      return text(view.text, bit_index);
    }
    case ChangeView::Kind::Real: return real(view.real);
    case ChangeView::Kind::String: break;
  }
  return text(view.text, bit_index);
}

}  // namespace quarnel::python

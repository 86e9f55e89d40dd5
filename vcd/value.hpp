// The value model of the reader: the state letters and their classes, the
// kinds of value a change carries, and the view of one change's value as the
// reader hands it out. Every rule about letters reads the table below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vcd {

// The first four are the IEEE 1364 states; the rest are the nine-state
// letters that only the extended dialect reads.
enum class Value : std::uint8_t {
  Zero,
  One,
  Unknown,
  HighImpedance,
  Uninitialized,
  WeakUnknown,
  WeakZero,
  WeakOne,
  DontCare,
};

inline constexpr int kValueCount = 9;

// One row per state, in the order of Value.
struct StateLetter {
  char letter;        // lower case; a letter is read in either case
  bool four_state;    // read by the IEEE 1364 dialect, not only the extended one
  bool unknown;       // counts as unknown (ignore_unknown, is_unknown)
  char extends_with;  // the bit that left extension puts before it
};

// 0 and 1 are the bits of a number and extend with 0; every other state
// extends with itself.
inline constexpr std::array<StateLetter, kValueCount> kStateLetters = {{
    {'0', true, false, '0'},
    {'1', true, false, '0'},
    {'x', true, true, 'x'},
    {'z', true, true, 'z'},
    {'u', false, true, 'u'},
    {'w', false, true, 'w'},
    {'l', false, false, 'l'},
    {'h', false, false, 'h'},
    {'-', false, true, '-'},
}};

constexpr const StateLetter& letter_of(Value value) {
  return kStateLetters[static_cast<std::uint8_t>(value)];
}

// Always lower case: "0", "1", "x", "z", "u", "w", "l", "h", "-".
constexpr char to_char(Value value) { return letter_of(value).letter; }

constexpr std::string_view to_text(Value value) { return {&letter_of(value).letter, 1}; }

// Only a state's own bit is a number: 0 and 1.
constexpr bool is_binary(Value value) { return value == Value::Zero || value == Value::One; }

constexpr bool is_unknown(Value value) { return letter_of(value).unknown; }

namespace detail {

// Per byte: 1 + the Value it spells in either case, or 0.
constexpr std::array<std::uint8_t, 256> make_letter_values() {
  std::array<std::uint8_t, 256> values{};
  for (std::uint8_t v = 0; v < kValueCount; ++v) {
    const char c = kStateLetters[v].letter;
    values[static_cast<unsigned char>(c)] = v + 1;
    if (c >= 'a' && c <= 'z') values[static_cast<unsigned char>(c - 'a' + 'A')] = v + 1;
  }
  return values;
}

inline constexpr std::array<std::uint8_t, 256> kLetterValue = make_letter_values();

}  // namespace detail

// The state a character spells in either case, in the extended dialect:
// 0 1 x z and the nine-state letters u w l h -.
constexpr std::optional<Value> nine_state_value_from_char(char c) {
  const std::uint8_t entry = detail::kLetterValue[static_cast<unsigned char>(c)];
  if (entry == 0) return std::nullopt;
  return static_cast<Value>(entry - 1);
}

// The state a character spells in the IEEE 1364 dialect: 0 1 x X z Z.
constexpr std::optional<Value> value_from_char(char c) {
  const auto value = nine_state_value_from_char(c);
  if (!value || !letter_of(*value).four_state) return std::nullopt;
  return value;
}

// The state that a lower-case letter spells; nullopt for every other byte,
// upper case included. Bits are held in lower case.
constexpr std::optional<Value> state_of_letter(char c) {
  const auto value = nine_state_value_from_char(c);
  if (!value || to_char(*value) != c) return std::nullopt;
  return value;
}

// Whether `c` spells a state other than 0 and 1 in lower case: a bit that
// makes bits no number.
constexpr bool is_other_state(char c) {
  const auto value = state_of_letter(c);
  return value && !is_binary(*value);
}

namespace detail {

// Per byte: the bit that left extension puts before it, as kStateLetters
// says; any other byte extends with itself.
constexpr std::array<char, 256> make_extensions() {
  std::array<char, 256> extensions{};
  for (int byte = 0; byte < 256; ++byte) extensions[byte] = static_cast<char>(byte);
  for (const StateLetter& state : kStateLetters) {
    extensions[static_cast<unsigned char>(state.letter)] = state.extends_with;
  }
  return extensions;
}

inline constexpr std::array<char, 256> kExtendsWith = make_extensions();

}  // namespace detail

// `bits` (lower-case state letters, most significant first) without the
// leading bits that left extension restores: every leading bit that the bit
// after it extends with. Two bit texts stand for the same bits exactly when
// these are equal.
constexpr std::string_view shorten_bits(std::string_view bits) {
  std::size_t i = 0;
  while (i + 1 < bits.size() &&
         bits[i] == detail::kExtendsWith[static_cast<unsigned char>(bits[i + 1])]) {
    ++i;
  }
  return bits.substr(i);
}

// Whether shortened bits (as shorten_bits gives them) are unknown: a single
// unknown state, such as all x or all z.
constexpr bool is_unknown_bits(std::string_view shortened) {
  if (shortened.size() != 1) return false;
  const auto value = state_of_letter(shortened[0]);
  return value && is_unknown(*value);
}

// Whether the text of a string change is unknown: one IEEE 1364 unknown
// letter, x or z in either case. A string is never nine-state bits.
constexpr bool is_unknown_string(std::string_view text) {
  if (text.size() != 1) return false;
  const auto value = value_from_char(text[0]);
  return value && is_unknown(*value);
}

// The value of one change as the reader hands it out, before conversion.
// `text` views the reader's window and is valid only while the change is
// handed on; whoever keeps it converts or copies it. A vector is held as its
// text form: one lower-case state letter per bit, in the order written (most
// significant first), never padded or truncated; an empty vector (a
// zero-width variable of the extended dialect) has no bits.
struct ChangeView {
  enum class Kind : std::uint8_t { Scalar, Vector, Real, String };
  Kind kind;
  Value scalar = Value::Zero;  // Scalar
  std::string_view text;       // Vector: its text form; String: the string
  double real = 0;             // Real

  static ChangeView of_scalar(Value value) { return {Kind::Scalar, value, {}, 0}; }
  static ChangeView of_vector(std::string_view bits) {
    return {Kind::Vector, Value::Zero, bits, 0};
  }
  static ChangeView of_real(double value) { return {Kind::Real, Value::Zero, {}, value}; }
  static ChangeView of_string(std::string_view text) {
    return {Kind::String, Value::Zero, text, 0};
  }
};

}  // namespace vcd

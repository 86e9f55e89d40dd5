// The value rules, one row per spelling of every state letter: which letters
// each dialect reads, which states are unknown, how bits extend to the left,
// and what that makes of equality, toggles, the normalised and comparison
// texts and the targets of a search, on values unpacked and packed alike.
#include <array>
#include <string>
#include <string_view>
#include <utility>

#include "check.hpp"
#include "src/lib/change_list.hpp"
#include "src/lib/target.hpp"
#include "src/lib/value_equality.hpp"
#include "vcd/value.hpp"

using namespace quarnel;

namespace {

struct Row {
  char spelling;
  vcd::Value value;
  bool four_state;          // read by the IEEE 1364 dialect
  bool unknown;             // bits of this state alone are unknown
  char extends_with;        // the bit left extension puts before it
  const char* normalised;   // normalize_value of the vector "0" and this letter
  const char* toggle_text;  // comparison_text of the 8-bit vector "1" and this letter
};

using vcd::Value;
constexpr std::array<Row, 15> kRows = {{
    {'0', Value::Zero, true, false, '0', "0", "0x2"},
    {'1', Value::One, true, false, '0', "1", "0x3"},
    {'x', Value::Unknown, true, true, 'x', "0x", "1x"},
    {'X', Value::Unknown, true, true, 'x', "0x", "1x"},
    {'z', Value::HighImpedance, true, true, 'z', "0z", "1z"},
    {'Z', Value::HighImpedance, true, true, 'z', "0z", "1z"},
    {'u', Value::Uninitialized, false, true, 'u', "0u", "1u"},
    {'U', Value::Uninitialized, false, true, 'u', "0u", "1u"},
    {'w', Value::WeakUnknown, false, true, 'w', "0w", "1w"},
    {'W', Value::WeakUnknown, false, true, 'w', "0w", "1w"},
    {'l', Value::WeakZero, false, false, 'l', "0l", "1l"},
    {'L', Value::WeakZero, false, false, 'l', "0l", "1l"},
    {'h', Value::WeakOne, false, false, 'h', "0h", "1h"},
    {'H', Value::WeakOne, false, false, 'h', "0h", "1h"},
    {'-', Value::DontCare, false, true, '-', "0-", "1-"},
}};

// One value packed alone, as compare keeps it.
struct Packed {
  ChangeList list;
  Timeline times{0};
  PackedValue value() const { return ChangeReader({list, times}).value(); }
};

Packed packed_bits(std::string_view bits) {
  Packed p;
  if (bits.size() == 1) {
    p.list.add(0, vcd::ChangeView::of_scalar(*vcd::state_of_letter(bits[0])));
  } else {
    p.list.add(0, vcd::ChangeView::of_vector(bits));
  }
  return p;
}

Packed packed_string(std::string_view text) {
  Packed p;
  p.list.add(0, vcd::ChangeView::of_string(text));
  return p;
}

ChangeValue bits_value(std::string_view bits) {
  return bits.size() == 1 ? ChangeValue::of_bits(std::string(bits)) : vector_change_value(bits);
}

}  // namespace

TEST_CASE("each state letter is read, classed and written as its row says") {
  for (const Row& row : kRows) {
    const char lower = vcd::to_char(row.value);
    CHECK_EQ(vcd::nine_state_value_from_char(row.spelling) == row.value, true);
    CHECK_EQ(vcd::value_from_char(row.spelling).has_value(), row.four_state);
    CHECK_EQ(vcd::value_from_char(row.spelling).value_or(row.value) == row.value, true);
    CHECK_EQ(lower,
             row.spelling >= 'A' && row.spelling <= 'Z' ? row.spelling - 'A' + 'a' : row.spelling);
    CHECK_EQ(vcd::to_text(row.value), std::string_view(&lower, 1));
    CHECK_EQ(vcd::state_of_letter(row.spelling).has_value(), row.spelling == lower);
    CHECK_EQ(vcd::is_unknown(row.value), row.unknown);
    CHECK_EQ(vcd::is_other_state(lower), row.extends_with != '0');
  }
  // Nothing else is a state letter, in either dialect.
  int letters = 0, four_state = 0;
  for (int byte = 0; byte < 256; ++byte) {
    letters += vcd::nine_state_value_from_char(static_cast<char>(byte)).has_value() ? 1 : 0;
    four_state += vcd::value_from_char(static_cast<char>(byte)).has_value() ? 1 : 0;
  }
  CHECK_EQ(letters, static_cast<int>(kRows.size()));
  CHECK_EQ(four_state, 6);
}

TEST_CASE("unknown: bits of one unknown state, and a string x or z, packed or not") {
  for (const Row& row : kRows) {
    const char lower = vcd::to_char(row.value);
    for (const std::string& bits : {std::string(1, lower), std::string(3, lower)}) {
      CHECK_EQ(is_unknown(bits_value(bits)), row.unknown);
      CHECK_EQ(is_unknown(packed_bits(bits).value()), row.unknown);
      // A 1 before it makes it known.
      const std::string mixed = "1" + bits;
      CHECK_EQ(is_unknown(bits_value(mixed)), false);
      CHECK_EQ(is_unknown(packed_bits(mixed).value()), false);
    }
    // Strings: only the IEEE 1364 unknown letters, in either case.
    const std::string text(1, row.spelling);
    const bool string_unknown = row.unknown && row.four_state;
    CHECK_EQ(is_unknown(ChangeValue::of_string(text)), string_unknown);
    CHECK_EQ(is_unknown(packed_string(text).value()), string_unknown);
    CHECK_EQ(is_unknown(ChangeValue::of_string(text + text)), false);
  }
}

TEST_CASE("bits are equal after left extension, each state extended as its row says") {
  for (const Row& lead : kRows) {
    for (const Row& row : kRows) {
      const char first = vcd::to_char(lead.value);
      const char letter = vcd::to_char(row.value);
      // "<first><letter>" against "<letter>": the same bits exactly when
      // first is what letter extends with.
      const std::string longer{first, letter};
      const std::string shorter(1, letter);
      const bool same = first == row.extends_with;
      CHECK_EQ(std::string(shorten_bits(longer)), same ? shorter : longer);
      CHECK_EQ(values_agree(bits_value(longer), bits_value(shorter)), same);
      CHECK_EQ(values_agree(packed_bits(longer).value(), packed_bits(shorter).value()), same);
      CHECK_EQ(same_toggle_value(bits_value(longer), bits_value(shorter), 2), same);
      CHECK_EQ(normalize_value(bits_value(longer)) == normalize_value(bits_value(shorter)), same);
    }
  }
}

TEST_CASE("normalised, comparison and target texts of every state letter") {
  for (const Row& row : kRows) {
    const char lower = vcd::to_char(row.value);
    const std::string zero_then{'0', lower};
    const std::string one_then{'1', lower};
    CHECK_EQ(normalize_value(bits_value(zero_then)), row.normalised);
    std::string text;
    comparison_text(bits_value(one_then), 2, text);
    CHECK_EQ(text, row.toggle_text);
    // A number on a one-bit signal is compared in decimal.
    comparison_text(bits_value(one_then), 1, text);
    CHECK_EQ(text, row.value == Value::Zero ? "2" : row.value == Value::One ? "3" : one_then);
    comparison_text(bits_value(std::string(1, lower)), 1, text);
    CHECK_EQ(text, std::string(1, lower));
    // A string of the letter is no bits: it agrees with the scalar by its
    // lower-case text, but only unpacked strings ignore case between them.
    CHECK_EQ(values_agree(ChangeValue::of_string(std::string(1, row.spelling)),
                          bits_value(std::string(1, lower))),
             true);
    CHECK_EQ(values_agree(packed_string(std::string(1, row.spelling)).value(),
                          packed_string(std::string(1, lower)).value()),
             true);

    // A target of the letter, in either case, matches the letter's bits at
    // any width but for 1 (three ones are 7); a target of the letter after
    // zeros matches the letter alone where the zeros extend it.
    const TargetMatcher alone(parse_target_value(std::string(1, row.spelling)));
    CHECK_EQ(alone.matches(bits_value(std::string(3, lower))), row.value != Value::One);
    CHECK_EQ(alone.matches(bits_value(std::string(1, lower))), true);
    const TargetMatcher padded(parse_target_value(std::string{'0', '0', row.spelling}));
    CHECK_EQ(padded.matches(bits_value(std::string(1, lower))), row.extends_with == '0');
    CHECK_EQ(padded.matches(bits_value(zero_then)), true);
  }
}

TEST_CASE("targets: every decimal and hexadecimal digit, in either case") {
  // Decimal texts of two and three 19-digit parts keep the zeros inside them.
  const u128 ten19 = 10000000000000000000ULL;
  const std::pair<std::string_view, u128> numbers[] = {
      {"9876543210", 9876543210},
      {"100000000000000000000", ten19 * 10},
      {"200000000000000000000000000000000000001", ten19 * ten19 * 2 + 1},
      {"0x0123456789abcdef", 0x0123456789abcdefULL},
      {"0XFEDCBA", 0xFEDCBA},
  };
  for (const auto& [text, number] : numbers) {
    if (!text.starts_with("0")) CHECK_EQ(to_decimal(number), text);
    CHECK(TargetMatcher(parse_target_value(text)).matches(ChangeValue{number}));
  }
  for (const std::string_view text : {"0xg", "1a", "0x", "-1"}) {
    CHECK(std::holds_alternative<std::string>(parse_target_value(text).value));
  }
}

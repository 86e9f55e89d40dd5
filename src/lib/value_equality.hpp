// When two values are the same value. Three notions live here side by side:
// the normalised text, on which values of different kinds and the targets of
// a search are compared; the comparison text of toggle counting; and the
// agreement of two dumps, with what counts as unknown.
//
// Bits (scalar and vector changes, integers included) are equal exactly when
// they stand for the same bits after left extension to any width, as the
// table of states in vcd/value.hpp extends them. String changes are never
// bits, whatever their text looks like.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "src/lib/change_value.hpp"

namespace quarnel {

// The bits that left extension restores are dropped as vcd::shorten_bits
// drops them.
using vcd::shorten_bits;

// The decimal digits of the number that `bits` (0 and 1 only) stands for,
// at any length.
std::string binary_to_decimal(std::string_view bits);

// Bits of 0 and 1 in decimal at any length, other bits shortened, reals as
// displayed, strings in lower case (full Unicode mapping).
std::string normalize_value(const ChangeValue& value);

// The text toggles are judged by when a value is not compared with bits:
// integers of signals two or more bits wide in zero-padded lowercase
// hexadecimal ("0x0a" for 10 in 8 bits), every other value as its display
// text. Written into `out`.
void comparison_text(const ChangeValue& value, std::uint32_t width, std::string& out);

// Whether a record repeats the previous one of its signal (`width` bits
// wide): bits by their shortened texts, any other pair by comparison text.
bool same_toggle_value(const ChangeValue& a, const ChangeValue& b, std::uint32_t width);

// Bits that shorten to one unknown state (vcd::is_unknown_bits) and the
// unknown strings (vcd::is_unknown_string); never an integer or a real.
bool is_unknown(const ChangeValue& value);

// Bits by their shortened texts, reals by bit pattern, strings byte by byte up to ASCII
// case, values of different kinds by their normalised texts.
bool values_agree(const ChangeValue& a, const ChangeValue& b);

// "A" to "Z" mapped to "a" to "z", every other byte identical.
bool equal_ignoring_ascii_case(std::string_view a, std::string_view b);

}  // namespace quarnel

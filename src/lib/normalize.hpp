// The normalised text of a value, the key on which values are compared, and
// the parsed target of a search.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "src/lib/change_value.hpp"

namespace quarnel {

// The display text, with Text lowercased (full Unicode lowercase mapping).
std::string normalize_value(const ChangeValue& value);

struct TargetValue {
  // Integer: a decimal or "0x" hexadecimal number below 2^128.
  // Text: anything else, trimmed of white space and lowercased.
  std::variant<u128, std::string> value;
};

// Never fails: every text is a target. `text` is UTF-8.
TargetValue parse_target_value(std::string_view text);

// Decimal digits for Integer, the (already lowercase) text for Text; equal
// to normalize_value of every change value that matches the target.
std::string target_text(const TargetValue& target);

}  // namespace quarnel

// The target of a search, as the user writes it, and what it matches.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "src/lib/change_value.hpp"

namespace quarnel {

struct TargetValue {
  // Integer: a decimal or "0x" hexadecimal number below 2^128.
  // Text: anything else, trimmed of white space and lowercased.
  std::variant<u128, std::string> value;
};

// Never fails: every text is a target. `text` is UTF-8.
TargetValue parse_target_value(std::string_view text);

// Decimal digits for Integer, the (already lowercase) text for Text; equal
// to normalize_value of every real or string value that matches the target.
std::string target_text(const TargetValue& target);

// Which change values a target matches: those whose normalised text is the
// target's. Bits match a target made of 0, 1 and other states (x, z, the
// nine-state letters) with another state in it by the same bits after left
// extension ("00x1" matches b0x1).
class TargetMatcher {
 public:
  explicit TargetMatcher(const TargetValue& target);
  bool matches(const ChangeValue& value) const;

 private:
  std::optional<u128> number_;  // an Integer target
  std::string text_;            // target_text
  std::string bits_;            // what bits with an x or z in them must shorten to
};

}  // namespace quarnel

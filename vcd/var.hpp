// Variable types of $var and the bit select or range behind a reference name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vcd {

enum class VarType : std::uint8_t {
  Event,
  Integer,
  Parameter,
  Real,
  Reg,
  Supply0,
  Supply1,
  Time,
  Tri,
  TriAnd,
  TriOr,
  TriReg,
  Tri0,
  Tri1,
  WAnd,
  Wire,
  WOr,
  String,
  Other,  // any other word, which only the extended dialect reads
};

// Whole-token, case-sensitive; nullopt is "invalid variable type".
std::optional<VarType> parse_var_type(std::string_view text);

struct BitSelect {
  std::int32_t index;
  friend bool operator==(const BitSelect&, const BitSelect&) = default;
};

struct Range {
  std::int32_t msb;
  std::int32_t lsb;
  friend bool operator==(const Range&, const Range&) = default;
};

using ReferenceIndex = std::variant<BitSelect, Range>;

// "[3]", "[+3]", "[7:0]", "[31:-4]"; nullopt is "invalid reference index".
std::optional<ReferenceIndex> parse_reference_index(std::string_view text);
// Appends "[3]" or "[7:0]".
void append_text(std::string& out, const ReferenceIndex& index);

}  // namespace vcd

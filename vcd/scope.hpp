// Scope types of $scope.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vcd {

// Other: any other word, which only the extended dialect reads.
enum class ScopeType : std::uint8_t { Module, Task, Function, Begin, Fork, Other };

// Whole-token, case-sensitive; nullopt is "invalid scope type".
std::optional<ScopeType> parse_scope_type(std::string_view text);

}  // namespace vcd

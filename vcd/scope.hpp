// Scope types of $scope.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vcd {

enum class ScopeType : std::uint8_t { Module, Task, Function, Begin, Fork };

// Whole-token, case-sensitive; nullopt is "invalid scope type".
std::optional<ScopeType> parse_scope_type(std::string_view text);

}  // namespace vcd

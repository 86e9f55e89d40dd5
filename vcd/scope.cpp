#include "vcd/scope.hpp"

#include <array>

namespace vcd {

namespace {
constexpr std::array<std::string_view, 5> kScopeTypes = {"module", "task", "function", "begin",
                                                         "fork"};
}  // namespace

std::optional<ScopeType> parse_scope_type(std::string_view text) {
  for (std::size_t i = 0; i < kScopeTypes.size(); ++i) {
    if (kScopeTypes[i] == text) return static_cast<ScopeType>(i);
  }
  return std::nullopt;
}

}  // namespace vcd

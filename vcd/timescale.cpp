#include "vcd/timescale.hpp"

#include <array>

namespace vcd {

namespace {
constexpr std::array<std::string_view, 6> kUnits = {"s", "ms", "us", "ns", "ps", "fs"};
}  // namespace

std::optional<TimescaleUnit> parse_timescale_unit(std::string_view text) {
  for (std::size_t i = 0; i < kUnits.size(); ++i) {
    if (kUnits[i] == text) return static_cast<TimescaleUnit>(i);
  }
  return std::nullopt;
}

std::string_view to_text(TimescaleUnit unit) { return kUnits.at(static_cast<std::size_t>(unit)); }

}  // namespace vcd

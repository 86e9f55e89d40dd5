// Time units of $timescale.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vcd {

enum class TimescaleUnit : std::uint8_t { S, Ms, Us, Ns, Ps, Fs };

struct Timescale {
  std::uint32_t magnitude;
  TimescaleUnit unit;
};

// Whole text, case-sensitive; nullopt is "invalid timescale unit".
std::optional<TimescaleUnit> parse_timescale_unit(std::string_view text);
std::string_view to_text(TimescaleUnit unit);

}  // namespace vcd

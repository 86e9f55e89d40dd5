// How often each requested signal changed value within a time window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/lib/change_value.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/dialect.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

// One entry per distinct requested name, in order of first request.
Result<std::vector<std::pair<std::string, std::uint64_t>>> count_toggles(
    const std::string& path, const std::vector<std::string>& signals,
    std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
    const vcd::Interrupt* interrupt = nullptr, vcd::Dialect dialect = vcd::Dialect::specified);

}  // namespace quarnel

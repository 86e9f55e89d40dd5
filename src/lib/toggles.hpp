// How often each requested signal changed value within a time window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// One entry per distinct requested name, in order of first request.
Result<std::vector<std::pair<std::string, std::uint64_t>>> count_toggles(
    const std::string& path, const std::vector<std::string>& signals, const Window& window,
    const CallContext& context = {});

}  // namespace quarnel

// The core of the Python function list_signals.
#pragma once

#include <optional>
#include <string>

#include "src/lib/call_context.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// Full names of the declared signals, in declaration order, optionally only
// those containing `filter` as a byte substring.
Result<SignalNames> list_signals_from_file(const std::string& path,
                                           const std::optional<std::string>& filter,
                                           const CallContext& context = {});

}  // namespace quarnel

// The core of the Python function list_signals.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// Full names of the declared signals, in declaration order, optionally only
// those containing `filter` as a byte substring. With the context's buses,
// each merged bus stands in the place of its first declared bit, and its bits
// are left out.
Result<SignalNames> list_signals_from_file(const std::string& path,
                                           const std::optional<std::string>& filter,
                                           const CallContext& context = {});

// A merged bus and the names of its bits, most significant first.
struct BusBits {
  std::string name;
  std::vector<std::string> bits;
};

// The buses that a dump declares one bit per variable, in the order of their
// first declared bits (buses.hpp).
Result<std::vector<BusBits>> list_buses(const std::string& path, const CallContext& context = {});

}  // namespace quarnel

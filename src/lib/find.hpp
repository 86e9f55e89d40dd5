// The Nth time a signal takes a target value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "src/lib/requested_changes.hpp"
#include "src/lib/target.hpp"

namespace quarnel {

// The `occurrence`-th change of `signal` within `window` whose normalised
// value equals the target's text, or nullopt when there are fewer. Fails on
// `occurrence` 0 before touching the file, and with "signal not found in VCD:
// {}" for an undeclared name. Reading stops at the match. The record's
// `signal` views the `signal` argument.
Result<std::optional<TimeValue>> find_nth_occurrence(const std::string& path,
                                                     const std::string& signal,
                                                     const TargetValue& target,
                                                     std::size_t occurrence, const Window& window,
                                                     const CallContext& context = {});

}  // namespace quarnel

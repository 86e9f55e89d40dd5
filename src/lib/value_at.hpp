// The value each requested signal holds at a given time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/change_value.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// For each entry of `signals`, in order: its last change at or before
// `time` (the last in file order within a time stamp), or nothing before its
// first change. The body is read up to the first timestamp after `time`;
// the errors are those of extraction over the window [0, time].
Result<std::vector<std::optional<ChangeValue>>> values_at(const std::string& path,
                                                          const std::vector<std::string>& signals,
                                                          std::uint64_t time,
                                                          const CallContext& context = {});

}  // namespace quarnel

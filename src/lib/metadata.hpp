// Signal count, time span and timescale of a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "src/lib/call_context.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/timescale.hpp"

namespace quarnel {

struct VcdMetadata {
  std::size_t signal_count;  // one per $var
  std::uint64_t start_time;  // first timestamp or first change; 0 when neither
  std::uint64_t end_time;    // last timestamp in file order; 0 when none
  std::optional<vcd::Timescale> timescale;
};

Result<VcdMetadata> read_vcd_metadata(const std::string& path, const CallContext& context = {});

}  // namespace quarnel

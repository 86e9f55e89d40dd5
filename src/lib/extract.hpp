// Every change of the requested signals within a time window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "src/lib/requested_changes.hpp"

namespace quarnel {

// Hands every change of `signals` within [start, end] to
// sink(requests, time, view) (see walk_requested), for builders that convert
// each value once for all the records of its change. All or nothing: on an
// error the caller drops what the sink has collected.
template <class ChangeSink>
Result<bool> extract_changes(const std::string& path, const std::vector<std::string>& signals,
                             std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                             ChangeSink sink, const vcd::Interrupt* interrupt = nullptr,
                             vcd::Dialect dialect = vcd::Dialect::specified) {
  auto request =
      request_signals(path, signals, VcdError::Kind::SignalsNotFound, interrupt, dialect);
  if (!request) return std::unexpected(std::move(request.error()));
  return walk_requested(*request, Window{start, end}, sink, interrupt);
}

}  // namespace quarnel

// Every change of the requested signals within a time window.
#pragma once

#include <string>
#include <vector>

#include "src/lib/requested_changes.hpp"

namespace quarnel {

// Hands every change of `signals` within `window` to
// sink(requests, time, view) (see walk_requested), for builders that convert
// each value once for all the records of its change. All or nothing: on an
// error the caller drops what the sink has collected.
template <class ChangeSink>
Result<bool> extract_changes(const std::string& path, const std::vector<std::string>& signals,
                             const Window& window, ChangeSink sink,
                             const CallContext& context = {}) {
  auto request = request_signals(path, signals, VcdError::Kind::SignalsNotFound, context);
  if (!request) return std::unexpected(std::move(request.error()));
  return walk_requested(*request, window, sink, context);
}

}  // namespace quarnel

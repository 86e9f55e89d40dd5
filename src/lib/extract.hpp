// Every change of the requested signals within a time window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "src/lib/header_pass.hpp"
#include "src/lib/value_stream.hpp"

namespace quarnel {

// Header pass, the missing-name check and the opened stream. Undeclared
// names fail with `missing_error`, its payload the names joined by ", ":
// SignalsNotFound for extraction and toggle counting ("signals not found in
// VCD: a, b"), SignalNotFound for the one-name search.
struct RequestedStream {
  HeaderInfo header;
  TimeValueIter stream;
};
Result<RequestedStream> open_requested_stream(
    const std::string& path, const std::vector<std::string>& signals,
    std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
    VcdError::Kind missing_error = VcdError::Kind::SignalsNotFound,
    const vcd::Interrupt* interrupt = nullptr);

// Hands every record to `sink` (returning false stops early); all or
// nothing: on an error the caller drops what the sink has collected.
template <class Sink>
Result<bool> extract_time_values(const std::string& path, const std::vector<std::string>& signals,
                                 std::optional<std::uint64_t> start,
                                 std::optional<std::uint64_t> end, Sink&& sink,
                                 const vcd::Interrupt* interrupt = nullptr) {
  auto opened =
      open_requested_stream(path, signals, start, end, VcdError::Kind::SignalsNotFound, interrupt);
  if (!opened) return std::unexpected(std::move(opened.error()));
  return opened->stream.run(std::forward<Sink>(sink));
}

// The same, one change at a time (TimeValueIter::run_changes): for builders
// that convert each value once for all the records of its change.
template <class ChangeSink>
Result<bool> extract_changes(const std::string& path, const std::vector<std::string>& signals,
                             std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                             ChangeSink&& sink, const vcd::Interrupt* interrupt = nullptr) {
  auto opened =
      open_requested_stream(path, signals, start, end, VcdError::Kind::SignalsNotFound, interrupt);
  if (!opened) return std::unexpected(std::move(opened.error()));
  return opened->stream.run_changes(std::forward<ChangeSink>(sink));
}

Result<std::vector<TimeValue>> extract_time_values_from_file(
    const std::string& path, const std::vector<std::string>& signals,
    std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
    const vcd::Interrupt* interrupt = nullptr);

}  // namespace quarnel

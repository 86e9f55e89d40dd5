// Two dumps compared signal by signal and time by time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/change_list.hpp"
#include "src/lib/change_value.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// How the times of two dumps meet when their timescales differ.
enum class TimeUnits : std::uint8_t {
  ticks,  // as written, whatever the timescales
  same,   // differing timescales are an error (a dump without one differs)
  finer,  // converted exactly to the finer timescale, the window given in it
};

struct ComparisonOptions {
  // Per signal: its comparison stops once this many mismatches are recorded
  // (0 still records one). Absent: no limit.
  std::optional<std::size_t> max_mismatches;
  std::vector<std::string> signals;  // restricts the comparison; empty: every common signal
  bool ignore_unknown = false;       // an unknown value on either side is never a mismatch
  Window window;                     // in the finer unit with TimeUnits::finer
  TimeUnits units = TimeUnits::ticks;
  // With a window start: the values each signal holds there (its last change
  // at or before it) are compared first, as changes at the start; without,
  // nothing before the window is carried into it.
  bool held_at_start = false;
};

struct SignalMismatch {
  std::string signal;
  std::uint64_t time;
  ChangeValue value1;  // the first file's current value
  ChangeValue value2;  // the second file's current value
  bool is_unknown;     // either value is unknown
};

struct ComparisonResult {
  bool passed;  // no mismatch recorded
  std::string file1;
  std::string file2;
  std::vector<std::string> common_signals;         // byte order; not restricted by `signals`
  std::vector<std::string> signals_only_in_file1;  // declaration order
  std::vector<std::string> signals_only_in_file2;  // declaration order
  std::uint64_t total_mismatches;
  std::uint64_t signals_with_mismatches;
  std::vector<SignalMismatch> mismatches;  // compared signals in order, each in merge order
};

// Errors in the order first header, second header, timescales, first body,
// second body; each error of a file says which (VcdError::input). Both
// bodies are read at once, each on half the context's threads.
Result<ComparisonResult> compare_vcd_files(const std::string& file1, const std::string& file2,
                                           const ComparisonOptions& options,
                                           const CallContext& context = {});

}  // namespace quarnel

// Signals sampled at the edges of a clock: one row per edge, with the value
// each signal holds just before it (as a flip-flop samples its input) or,
// on request, just after it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "src/lib/batch_stream.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/change_table.hpp"
#include "src/lib/held_change.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

enum class ClockEdge : std::uint8_t { Rising, Falling, Both };

struct SampleOptions {
  ClockEdge edge = ClockEdge::Rising;
  // The values at the edge's time stamp, after all its changes, rather than
  // those held up to the tick before it.
  bool after = false;
  Window window;  // the edges kept
};

// One row: the edge's number among all the clock's edges of the chosen kind
// from the start of the dump (0 for the first), its time, and per signal its
// value (`set` false before its first change), valid during the call only.
using SampleSink = std::function<bool(std::uint64_t cycle, std::uint64_t time,
                                      const std::vector<const HeldChange*>& values)>;

// Reads the dump and hands `sink` one row per edge of `clock` within the
// window. The clock's level at a time is its value after the last change at
// that time: an edge is a time at which the level becomes 1 from 0 (rising)
// or 0 from 1 (falling); a change from or to any other state (x, z, ...) is
// no edge, and neither is a clock that goes 0, 1, 0 within one time stamp.
// A vector clock's level is its value when that is 0 or 1. Undeclared names
// fail as extraction does. Returns whether the sink let the read run to its
// end.
Result<bool> sample_at_edges(const std::string& path, const std::string& clock,
                             const std::vector<std::string>& signals, const SampleOptions& options,
                             const SampleSink& sink, const CallContext& context = {});

// One record batch of a sampled table: the cycle and time of each row, then
// per signal a column of value texts (as extraction gives them), null where
// the signal has no value yet.
struct SampleBatch {
  struct Column {
    std::vector<std::int32_t> offsets{0};
    std::string data;
    Validity validity;
  };
  std::vector<std::uint64_t> cycle;
  std::vector<std::uint64_t> time;
  std::vector<Column> columns;

  std::size_t rows() const { return time.size(); }
};

// Reads sample_at_edges into batches of at most kMaxBatchRows rows (fewer
// when the texts of a column reach BatchLimits::value_bytes), handing each to
// `deliver`, which returns false to stop.
Result<bool> sample_batches(const std::string& path, const std::string& clock,
                            const std::vector<std::string>& signals, const SampleOptions& options,
                            const std::function<bool(SampleBatch&&)>& deliver,
                            const CallContext& context = {});

using SampleBatchStream = BatchStream<SampleBatch>;

// Starts the read of sample_batches(path, clock, signals, options); the
// stream's names are the signals, one column each.
std::unique_ptr<SampleBatchStream> read_sample_batches(std::string path, std::string clock,
                                                       std::vector<std::string> signals,
                                                       SampleOptions options,
                                                       const CallContext& context);

}  // namespace quarnel

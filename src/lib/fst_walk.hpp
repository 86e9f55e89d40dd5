// The body walk of an FST dump: its value-change blocks within the window,
// decoded for the signals the visitor wants, handed to the visitor as the
// walk of a VCD body hands them (body_walker.hpp): each time of a block's
// time table a timestamp, then its changes in the order of the signals'
// handles.
#pragma once

#include <cstdint>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/command.hpp"
#include "vcd/fst_reader.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

// Reads the changes of `dump` (an FST dump) to its end, to the first time
// after `window.end` or until the visitor stops. Returns whether it read to
// the end without the visitor stopping it.
template <class Visitor>
Result<bool> walk_fst(const Dump& dump, const Window& window, Visitor& visitor,
                      const CallContext& context, BodyTimes& times) {
  const vcd::fst::Reader& reader = *dump.fst;
  // What the visitor keeps for each handle, asked once.
  using Kept = decltype(visitor.wanted(vcd::IdCode{}));
  std::vector<Kept> kept(reader.header().handles, Kept{});
  std::vector<bool> wanted(kept.size(), false);
  for (const Signal& signal : dump.signals) {
    const std::uint64_t h = signal.id_code.value;
    if (h >= kept.size()) continue;
    kept[h] = visitor.wanted(signal.id_code);
    wanted[h] = static_cast<bool>(kept[h]);
  }
  const std::vector<bool> none(wanted.size(), false);
  vcd::fst::BlockChanges block;
  bool first_time = true;
  std::uint64_t previous = 0;
  const auto blocks = reader.blocks();
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (vcd::interrupt_requested(context.interrupt))
      return std::unexpected(VcdError::io(vcd::ReaderError::interrupted()));
    if (window.end && blocks[b].begin > *window.end) return true;
    // A block that ends before the window holds no change within it: only
    // its times are read.
    const bool before = window.start && blocks[b].end < *window.start;
    auto read =
        reader.read_block(b, before ? none : wanted, b == 0, block, context.settings.threads);
    if (!read) return std::unexpected(VcdError::io(read.error()));
    vcd::fst::BlockChanges::Change change{};
    auto more = block.next(change);
    const auto& times_of_block = block.times();
    for (std::uint32_t i = 0; i < times_of_block.size(); ++i) {
      const std::uint64_t time = times_of_block[i];
      if (first_time || time != previous) {
        if (window.end && time > *window.end) return true;
        if (!times.any) times.first = time;
        times.any = true;
        times.last = time;
        if constexpr (requires { visitor.timestamp(time); }) visitor.timestamp(time);
        first_time = false;
        previous = time;
      }
      for (; more && *more && change.time_index == i; more = block.next(change)) {
        if (window.start && time < *window.start) continue;
        const Kept& w = kept[change.handle - 1];
        const vcd::cmd::Change command{vcd::IdCode{change.handle - 1}, reader.view(change)};
        if (!visitor.change(time, command, w)) return false;
      }
      if (!more) return std::unexpected(VcdError::io(more.error()));
    }
  }
  return true;
}

}  // namespace quarnel

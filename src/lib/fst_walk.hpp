// The body walk of an FST dump: its value-change blocks within the window,
// decoded for the signals the visitor wants, handed to the visitor as the
// walk of a VCD body hands them (body_walker.hpp): each time of a block's
// time table a timestamp, then its changes in the order of the signals'
// handles.
//
// On several threads, workers decode the blocks ahead of the calling thread,
// a few at a time so that memory holds no more than those blocks: into a
// visitor of their own for a visitor that sums up pieces (split_walk.hpp),
// into a log of the wanted changes for any other. The calling thread takes
// the blocks in file order and joins or replays them; when a join is refused
// (find's match lies in the block), it reads that block and the rest itself.
#pragma once

#include <algorithm>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/change_log.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/split_walk.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/command.hpp"
#include "vcd/fst_reader.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

namespace fst_walk {

// A visitor that takes each signal's changes apart from the others' (a
// count of toggles) and no timestamps: within a block it gets the changes
// signal by signal, each signal's in time order, which spares merging them.
// `signal(kept)` gives what takes the changes of the signal it keeps `kept`
// for, looked up once per signal and block; it takes bits all 0 or 1 packed
// eight to a byte (packed_bits) as the block holds them.
template <class Visitor, class Kept>
concept TakesChangesBySignal =
    requires(Visitor& visitor, const Kept& kept, std::uint64_t time, const vcd::ChangeView& value,
             std::span<const unsigned char> packed, std::uint32_t bits) {
      { visitor.signal(kept).change(time, value) } -> std::convertible_to<bool>;
      { visitor.signal(kept).packed_bits(time, packed, bits) } -> std::convertible_to<bool>;
    };

// What reading one block came to.
struct BlockWalk {
  bool past_end = false;  // it reached a time after the window
  bool stopped = false;   // the sink stopped the walk
  BodyTimes times;
};

// What the visitor keeps for each handle, and whether it wants the handle.
template <class Kept>
struct Wants {
  std::vector<Kept> kept;
  std::vector<bool> wanted;
};

// Hands one signal's changes in a block to what the sink takes them with.
template <class Take>
struct SignalStep {
  Take take;
  const vcd::fst::Reader& reader;
  const Window& window;
  const std::vector<std::uint64_t>& times;

  // Inlined: the innermost step of the walk.
  [[gnu::always_inline]] bool operator()(const vcd::fst::BlockChanges::Change& change) {
    const std::uint64_t time = times[change.time_index];
    if (window.start && time < *window.start) return true;
    if (!change.packed.empty())
      return static_cast<bool>(take.packed_bits(time, change.packed, change.bits));
    return static_cast<bool>(take.change(time, reader.view(change)));
  }
};

// The changes of a block read into `block` within the window, signal by
// signal, to a sink that TakesChangesBySignal; its times must not go back.
template <class Sink, class Kept>
Result<BlockWalk> walk_by_signal(const vcd::fst::Reader& reader, const Window& window,
                                 const Wants<Kept>& wants, std::optional<std::uint64_t> previous,
                                 Sink& sink, vcd::fst::BlockChanges& block) {
  BlockWalk walk;
  const auto& times = block.times();
  // The block's times up to the window's end, then the changes before that
  // end signal by signal.
  const auto first_after = window.end ? std::ranges::upper_bound(times, *window.end) : times.end();
  const auto limit = static_cast<std::size_t>(first_after - times.begin());
  walk.past_end = first_after != times.end();
  const auto first = std::ranges::find_if(times.begin(), first_after,
                                          [&](std::uint64_t time) { return time != previous; });
  if (first != first_after) {
    walk.times.any = true;
    walk.times.first = *first;
    walk.times.last = *(first_after - 1);
  }
  auto read = block.each_by_signal(limit, [&](std::uint32_t handle) {
    return SignalStep<decltype(sink.signal(wants.kept[0]))>{sink.signal(wants.kept[handle - 1]),
                                                            reader, window, times};
  });
  if (!read) return std::unexpected(VcdError::io(read.error()));
  walk.stopped = !*read;
  return walk;
}

// Hands the changes of block `b` within the window to `sink` (the visitor,
// a piece of it or a log), each time of the block as a timestamp unless it
// repeats `previous`; the block's data is unpacked on `threads` threads.
template <class Sink, class Kept>
Result<BlockWalk> walk_block(const vcd::fst::Reader& reader, std::size_t b, const Window& window,
                             const Wants<Kept>& wants, std::optional<std::uint64_t> previous,
                             Sink& sink, unsigned threads, vcd::fst::BlockChanges& block) {
  BlockWalk walk;
  // A block that ends before the window holds no change within it: only
  // its times are read.
  static const std::vector<bool> kNone;
  const bool before = window.start && reader.blocks()[b].end < *window.start;
  auto read = reader.read_block(b, before ? kNone : wants.wanted, b == 0, block, threads);
  if (!read) return std::unexpected(VcdError::io(read.error()));
  vcd::fst::BlockChanges::Change change{};
  const auto& times = block.times();
  if constexpr (TakesChangesBySignal<Sink, Kept>) {
    // A time table never goes back, but a damaged block's start may lie
    // after its first time: such a block is read in time order.
    if (times.size() < 2 || times[0] <= times[1])
      return walk_by_signal(reader, window, wants, previous, sink, block);
  }
  auto more = block.next(change);
  for (std::uint32_t i = 0; i < times.size(); ++i) {
    const std::uint64_t time = times[i];
    if (time != previous) {
      if (window.end && time > *window.end) {
        walk.past_end = true;
        return walk;
      }
      if (!walk.times.any) walk.times.first = time;
      walk.times.any = true;
      walk.times.last = time;
      if constexpr (requires { sink.timestamp(time); }) sink.timestamp(time);
      previous = time;
    }
    for (; more && *more && change.time_index == i; more = block.next(change)) {
      if (window.start && time < *window.start) continue;
      const Kept& w = wants.kept[change.handle - 1];
      const vcd::cmd::Change command{vcd::IdCode{change.handle - 1}, reader.view(change)};
      if (!sink.change(time, command, w)) {
        walk.stopped = true;
        return walk;
      }
    }
    if (!more) return std::unexpected(VcdError::io(more.error()));
  }
  return walk;
}

template <class Keeper>
struct Decoded {
  Result<BlockWalk> walk = BlockWalk{};
  std::optional<Keeper> keeper;
  std::exception_ptr failure;  // an exception thrown while decoding it
};

// Blocks 0 to `count - 1` decoded on workers, at most `ahead` of them
// beyond the last one taken.
template <class Visitor, class Kept>
class Ahead {
 public:
  using Keeper = typename split::KeeperOf<Visitor, Kept>::type;

  Ahead(const vcd::fst::Reader& reader, const Window& window, const Wants<Kept>& wants,
        const Visitor& visitor, std::size_t count, unsigned threads)
      : reader_(reader),
        window_(window),
        wants_(wants),
        visitor_(visitor),
        count_(count),
        ahead_(threads + 1),
        slots_(count) {
    for (unsigned i = 0; i < threads; ++i) {
      try {
        workers_.emplace_back([this](const std::stop_token& stop) { work(stop); });
      } catch (const std::system_error&) {
        break;  // the threads that started do the work
      }
    }
  }
  Ahead(const Ahead&) = delete;
  Ahead& operator=(const Ahead&) = delete;
  ~Ahead() { stop(); }

  bool running() const { return !workers_.empty(); }

  // Block `b`, the one after the last taken, once decoded; nullopt when
  // the interrupt came first.
  std::optional<Decoded<Keeper>> take(std::size_t b, const vcd::Interrupt* interrupt) {
    std::unique_lock lock(mutex_);
    while (!slots_[b]) {
      if (changed_.wait_for(lock, vcd::kInterruptPoll) == std::cv_status::timeout) {
        lock.unlock();
        if (vcd::interrupt_requested(interrupt)) return std::nullopt;
        lock.lock();
      }
    }
    std::optional<Decoded<Keeper>> decoded = std::move(slots_[b]);
    slots_[b].reset();
    taken_ = b + 1;
    lock.unlock();
    changed_.notify_all();
    return decoded;
  }

  // Stops the workers once their blocks are done.
  void stop() {
    for (std::jthread& worker : workers_) worker.request_stop();
    changed_.notify_all();
    workers_.clear();
  }

 private:
  void work(const std::stop_token& stop) {
    vcd::fst::BlockChanges block;
    for (;;) {
      std::size_t b = 0;
      {
        std::unique_lock lock(mutex_);
        if (!changed_.wait(lock, stop, [&] { return next_ >= count_ || next_ < taken_ + ahead_; }))
          return;
        if (next_ >= count_) return;
        b = next_++;
      }
      Decoded<Keeper> decoded;
      try {
        decoded.keeper.emplace(make_keeper());
        std::optional<std::uint64_t> previous;
        if (b > 0) previous = reader_.blocks()[b - 1].end;
        decoded.walk = walk_block(reader_, b, window_, wants_, previous, *decoded.keeper, 1, block);
      } catch (...) {
        decoded.failure = std::current_exception();
      }
      {
        const std::scoped_lock lock(mutex_);
        slots_[b] = std::move(decoded);
      }
      changed_.notify_all();
    }
  }

  Keeper make_keeper() const {
    if constexpr (PieceVisitor<Visitor>) {
      return visitor_.piece();
    } else {
      return Keeper(UINT64_MAX);
    }
  }

  const vcd::fst::Reader& reader_;
  const Window& window_;
  const Wants<Kept>& wants_;
  const Visitor& visitor_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::size_t next_ = 0;   // the next block for a worker
  std::size_t taken_ = 0;  // the blocks before it have been taken
  std::size_t count_;
  std::size_t ahead_;
  std::vector<std::optional<Decoded<Keeper>>> slots_;
  std::vector<std::jthread> workers_;  // last: joined before the rest goes
};

}  // namespace fst_walk

// Reads the changes of `dump` (an FST dump) to its end, to the first time
// after `window.end` or until the visitor stops. Returns whether it read to
// the end without the visitor stopping it.
template <class Visitor>
Result<bool> walk_fst(const Dump& dump, const Window& window, Visitor& visitor,
                      const CallContext& context, BodyTimes& times) {
  const vcd::fst::Reader& reader = *dump.fst;
  // What the visitor keeps for each handle, asked once.
  using Kept = decltype(visitor.wanted(vcd::IdCode{}));
  fst_walk::Wants<Kept> wants{std::vector<Kept>(reader.header().handles, Kept{}),
                              std::vector<bool>(reader.header().handles, false)};
  for (const Signal& signal : dump.signals) {
    const std::uint64_t h = signal.id_code.value;
    if (h >= wants.kept.size()) continue;
    wants.kept[h] = visitor.wanted(signal.id_code);
    wants.wanted[h] = static_cast<bool>(wants.kept[h]);
  }
  const auto blocks = reader.blocks();
  std::size_t count = 0;
  while (count < blocks.size() && (!window.end || blocks[count].begin <= *window.end)) ++count;
  const unsigned threads = context.settings.threads;
  const auto interrupted = [] {
    return std::unexpected(VcdError::io(vcd::ReaderError::interrupted()));
  };

  std::optional<fst_walk::Ahead<Visitor, Kept>> ahead;
  if (threads > 1 && count > 1) ahead.emplace(reader, window, wants, visitor, count, threads);
  vcd::fst::BlockChanges block;
  std::optional<std::uint64_t> previous;
  for (std::size_t b = 0; b < count; ++b) {
    if (vcd::interrupt_requested(context.interrupt)) return interrupted();
    Result<fst_walk::BlockWalk> walk = fst_walk::BlockWalk{};
    bool read_here = true;
    if (ahead && ahead->running()) {
      auto decoded = ahead->take(b, context.interrupt);
      if (!decoded) return interrupted();
      if (decoded->failure) std::rethrow_exception(decoded->failure);
      walk = std::move(decoded->walk);
      if (walk && decoded->keeper) {
        if constexpr (PieceVisitor<Visitor>) {
          read_here = !visitor.join(std::move(*decoded->keeper));
          // The visitor reads the rest itself.
          if (read_here) ahead->stop();
        } else {
          read_here = false;
          if (!walk->stopped && !decoded->keeper->replay(visitor)) walk->stopped = true;
        }
      } else {
        read_here = false;
      }
    }
    if (read_here) {
      walk = fst_walk::walk_block(reader, b, window, wants, previous, visitor, ahead ? 1U : threads,
                                  block);
    }
    if (!walk) return std::unexpected(std::move(walk.error()));
    times.append(walk->times);
    if (walk->times.last) previous = walk->times.last;
    if (walk->stopped) return false;
    if (walk->past_end) return true;
  }
  return true;
}

}  // namespace quarnel

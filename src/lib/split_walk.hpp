// A body read in pieces on several threads, with the result of a read on one.
//
// The body of a regular file is cut at nominal offsets, each moved on to the
// next line that starts with '#' (vcd/chunk_source.hpp). Workers read the
// pieces ahead, each from the state a timestamp line begins in, and log the
// wanted changes; the calling thread takes the pieces in file order and hands
// their changes to the visitor. A visitor that can sum up a piece itself
// (see PieceVisitor) gets a visitor of its own for each piece instead, and
// joins them in file order. A piece counts only when the piece before it
// ended between two commands, at its last byte and outside a simulation
// section: then the guess it began from was right. Otherwise, and when a
// piece fails or has more wanted changes than its log may hold (the visitor
// wants too many for pieces to pay), the body is read again from where that
// piece began, with its true line number, on the calling thread to the end,
// so errors and their lines are those of a read on one thread. Nothing after the end of the
// window or the visitor's stop is handed on.
#pragma once

#include <atomic>
#include <chrono>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/change_log.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/chunk_source.hpp"
#include "vcd/file.hpp"
#include "vcd/interrupt.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

// A visitor that sums up pieces itself: piece() (const, called on other
// threads) gives a fresh visitor for one piece, read on a worker as from the
// start of a body, and join(piece) takes the sum of the next piece in file
// order. join returns false, changing nothing, when it cannot take the piece
// (find's match lies in it): the piece and the rest of the body are then
// read on the calling thread by the visitor itself.
template <class Visitor>
concept PieceVisitor = requires(Visitor& visitor) {
  { visitor.join(visitor.piece()) } -> std::same_as<bool>;
};

namespace split {

// What the worker keeps of one piece: the visitor's own sum of it, or the
// log of its wanted changes.
template <class Visitor, class Wanted>
struct KeeperOf {
  using type = ChangeLog<Wanted>;
};
template <PieceVisitor Visitor, class Wanted>
struct KeeperOf<Visitor, Wanted> {
  using type = decltype(std::declval<const Visitor&>().piece());
};

// What a worker found in one piece.
template <class Keeper>
struct Piece {
  std::uint64_t begin = 0;  // file offset of its first byte
  Result<StretchEnd> ending = StretchEnd::Input;
  bool in_section = false;  // ended inside a simulation section
  std::uint64_t line_feeds = 0;
  BodyTimes times;
  std::optional<Keeper> keeper;
  std::exception_ptr failure;  // an exception thrown while reading it
};

}  // namespace split

// Reads the body of `file`, a regular file whose body of `length` bytes
// begins at `body_offset`, in the context's dialect, in pieces of about
// `chunk_bytes` on `threads` workers (its settings), as scan_stretch over the
// whole body would read it: returns whether the visitor let the walk run to
// its end, or the first error, and notes the body's times in `times`. The
// context's interrupt is asked on the calling thread only. `first_line` is
// the line number of the first byte (a read resumed at a checkpoint starts
// there, at a timestamp). A visitor with checkpoint(offset, line, time) is
// told of the start of every piece after the first that counts, before it
// joins that piece: a point between two commands, outside any simulation
// section, at which the reader of the whole body would be on that line with
// that current time.
template <class Visitor>
Result<bool> walk_split(const vcd::File& file, std::uint64_t body_offset, std::uint64_t length,
                        const CallContext& context, const Window& window, Visitor& visitor,
                        BodyTimes& times, std::uint64_t first_line = 1) {
  const vcd::Dialect dialect = context.dialect;
  const ScanSettings& settings = context.settings;
  const vcd::Interrupt* interrupt = context.interrupt;
  using Wanted = std::decay_t<decltype(visitor.wanted(vcd::IdCode{0}))>;
  using Keeper = typename split::KeeperOf<Visitor, Wanted>::type;
  using Piece = split::Piece<Keeper>;
  const std::uint64_t chunk = settings.chunk_bytes;
  const std::uint64_t count = length / chunk + (length % chunk != 0);
  const auto nominal = [&](std::uint64_t k) {
    return k == count ? vcd::ChunkSource::kNoEnd : body_offset + k * chunk;
  };

  // The rest of the body from `begin`, a point between two commands, on
  // this thread.
  std::uint64_t line = first_line;
  std::uint64_t time = 0;
  const auto read_rest = [&](std::uint64_t begin) -> Result<bool> {
    vcd::Parser<vcd::ChunkSource> parser(
        vcd::ChunkSource(file, begin, true, vcd::ChunkSource::kNoEnd, interrupt), dialect, line);
    DirectSink<Visitor> sink{visitor};
    BodyTimes rest;
    auto ending = scan_stretch(parser, window, visitor, sink, time, rest);
    times.append(rest);
    if (!ending) return std::unexpected(std::move(ending.error()));
    return *ending != StretchEnd::Visitor;
  };

  struct Shared {
    std::mutex mutex;
    std::condition_variable done;  // a piece is ready
    std::condition_variable room;  // a slot is free, or the walk is over
    std::vector<std::optional<Piece>> ring;
    std::uint64_t next = 0;   // the next piece for a worker
    std::uint64_t taken = 0;  // pieces the calling thread has taken
    bool over = false;
    std::atomic<bool> halt{false};
  } shared;
  // At most two pieces per worker are read or wait to be taken.
  shared.ring.resize(std::size_t{2} * settings.threads);
  const vcd::Interrupt halt_hook{
      [](void* flag) { return static_cast<std::atomic<bool>*>(flag)->load(); }, &shared.halt};

  const auto read_piece = [&](std::uint64_t k, Piece& piece) {
    vcd::Parser<vcd::ChunkSource> parser(
        vcd::ChunkSource(file, nominal(k), k == 0, nominal(k + 1), &halt_hook), dialect);
    std::uint64_t piece_time = 0;
    if constexpr (PieceVisitor<Visitor>) {
      Keeper& sum = piece.keeper.emplace(std::as_const(visitor).piece());
      DirectSink<Keeper> sink{sum};
      piece.ending = scan_stretch(parser, window, sum, sink, piece_time, piece.times);
    } else {
      Keeper& log = piece.keeper.emplace(settings.log_bytes);
      piece.ending = scan_stretch(parser, window, visitor, log, piece_time, piece.times);
    }
    piece.begin = parser.source().begin();
    piece.in_section = parser.in_simulation_section();
    piece.line_feeds = parser.line() - 1;
  };
  const auto work = [&] {
    for (;;) {
      std::uint64_t k = 0;
      {
        std::unique_lock lock(shared.mutex);
        shared.room.wait(lock, [&] {
          return shared.over || shared.next == count ||
                 shared.next < shared.taken + shared.ring.size();
        });
        if (shared.over || shared.next == count) return;
        k = shared.next++;
      }
      Piece piece;
      try {
        read_piece(k, piece);
      } catch (...) {
        piece.failure = std::current_exception();
      }
      {
        const std::lock_guard lock(shared.mutex);
        shared.ring[k % shared.ring.size()].emplace(std::move(piece));
      }
      shared.done.notify_one();
    }
  };

  std::vector<std::jthread> workers;
  // Declared after the workers, so that on every way out the walk is over
  // before they are joined.
  struct Finish {
    Shared& shared;
    ~Finish() {
      {
        const std::lock_guard lock(shared.mutex);
        shared.over = true;
      }
      shared.halt.store(true);
      shared.room.notify_all();
    }
  } finish{shared};
  try {
    workers.reserve(settings.threads);
    for (unsigned i = 0; i < settings.threads; ++i) workers.emplace_back(work);
  } catch (const std::system_error&) {
    if (workers.empty()) return read_rest(body_offset);
  }

  const auto interrupted = [] {
    return std::unexpected(VcdError{VcdError::Kind::Interrupted, {}});
  };
  for (std::uint64_t k = 0; k < count; ++k) {
    if (vcd::interrupt_requested(interrupt)) return interrupted();
    Piece piece;
    {
      std::unique_lock lock(shared.mutex);
      auto& slot = shared.ring[k % shared.ring.size()];
      while (!slot) {
        if (shared.done.wait_for(lock, kInterruptPoll) == std::cv_status::timeout) {
          lock.unlock();
          if (vcd::interrupt_requested(interrupt)) return interrupted();
          lock.lock();
        }
      }
      piece = std::move(*slot);
      slot.reset();
      ++shared.taken;
    }
    shared.room.notify_all();
    if (piece.failure) std::rethrow_exception(piece.failure);
    const bool last = k + 1 == count;
    // A failed piece counts as stopped, as does one whose log ran out of room.
    const StretchEnd ending = piece.ending.value_or(StretchEnd::Visitor);
    bool joined = piece.keeper && (ending == StretchEnd::Window ||
                                   (ending == StretchEnd::Input && (!piece.in_section || last)));
    if constexpr (requires { visitor.checkpoint(piece.begin, line, time); }) {
      if (joined && k > 0) visitor.checkpoint(piece.begin, line, time);
    }
    if constexpr (PieceVisitor<Visitor>) {
      joined = joined && visitor.join(std::move(*piece.keeper));
    }
    if (!joined) {
      shared.halt.store(true);
      return read_rest(piece.begin);
    }
    times.append(piece.times);
    if constexpr (!PieceVisitor<Visitor>) {
      if (!piece.keeper->replay(visitor)) return false;
    }
    if (ending == StretchEnd::Window) return true;
    line += piece.line_feeds;
    if (piece.times.last) time = *piece.times.last;
  }
  return true;
}

}  // namespace quarnel

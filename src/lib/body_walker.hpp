// The one place that reads the body of a dump: it opens the file at the body
// offset, runs the reader over it, keeps the current time and the window, and
// hands every change within the window to a visitor. A long body of a regular
// file is read on several threads (split_walk.hpp), with the same result.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "src/lib/bus_merge.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/fst_walk.hpp"
#include "src/lib/split_walk.hpp"
#include "src/lib/stretch_scan.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/file.hpp"
#include "vcd/interrupt.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

// A dump's file positioned at its body, and the body's length in bytes when
// the file is a regular one read again (and so can be read in pieces).
struct Body {
  vcd::FileRest rest;
  std::optional<std::uint64_t> length;
};

// The dump's file at its body offset: opened again, or, for one that cannot
// be, taken from the dump (so its body is read once). A regular file that
// has become shorter than that offset since is cut short: it fails with the
// reader's end-of-input error rather than reading as an empty body.
Result<Body> open_body(const Dump& dump, const vcd::Interrupt* interrupt = nullptr);

// A point of a body to read from instead of its start (a checkpoint of its
// index): between two commands, outside any simulation section, at the start
// of a timestamp line, with the line number it has in the body.
struct Resume {
  std::uint64_t offset;
  std::uint64_t line;
};

// Where a walk within `window` may start when the context uses indexes and
// the dump's index allows it (body_index.cpp).
std::optional<Resume> indexed_resume(const Dump& dump, const Window& window,
                                     const CallContext& context);

// The outcome of a walk that did not fail.
struct Walked {
  bool finished;    // the visitor let the walk run to its end
  BodyTimes times;  // of the body read, when the visitor did not stop the walk
};

// Reads the body of `dump` to its end or to the first timestamp after
// `window.end`. The visitor gets
//   visitor.timestamp(time)          after a timestamp, at the latest before
//                                    the first wanted change after it, if it
//                                    has one;
//   visitor.wanted(code)             for every value change: what the visitor
//                                    keeps for that identifier code, or a
//                                    falsy value when it has no use for it;
//                                    const, and called on other threads;
//   visitor.change(time, command, w) for every wanted change at or after
//                                    `window.start`, in file order, with what
//                                    wanted() gave; returning false stops the
//                                    walk.
// A visitor that can sum up a piece of a body itself says so by being a
// PieceVisitor (split_walk.hpp). Changes before `window.start` are dropped
// without a trace. The body is read in the context's dialect (the one the
// dump was opened in), with its interrupt and on the threads its settings ask for. Returns the
// outcome or the first error. With `from`, or a point the dump's index gives
// for the window, the body of a regular file is read from there on, and the
// times noted are those of that part. A visitor that wants a merged bus gets
// its changes (bus_merge.hpp); the body is then read from its start, since
// a bit changed before the window or a snapshot still counts.
template <class Visitor>
Result<Walked> walk_body_as_read(const Dump& dump, const Window& window, Visitor& visitor,
                                 const CallContext& context, std::optional<Resume> from) {
  const vcd::Interrupt* interrupt = context.interrupt;
  const ScanSettings& settings = context.settings;
  if (dump.fst) {
    Walked walked{false, {}};
    auto read = walk_fst(dump, window, visitor, context, walked.times);
    if (!read) return std::unexpected(std::move(read.error()));
    walked.finished = *read;
    return walked;
  }
  auto body = open_body(dump, interrupt);
  if (!body) return std::unexpected(std::move(body.error()));
  std::uint64_t offset = dump.body_offset;
  std::uint64_t line = 1;
  if (!from && context.index) from = indexed_resume(dump, window, context);
  if (from && body->length && from->offset - dump.body_offset <= *body->length) {
    if (auto seek = body->rest.file.seek(from->offset); !seek)
      return std::unexpected(VcdError::io(seek.error()));
    *body->length -= from->offset - dump.body_offset;
    offset = from->offset;
    line = from->line;
  }
  Walked walked{false, {}};
  Result<bool> read = false;
  if (settings.threads > 1 && body->length && *body->length / 2 >= settings.chunk_bytes) {
    read = walk_split(body->rest.file, offset, *body->length, context, window, visitor,
                      walked.times, line);
  } else {
    vcd::Parser<vcd::FileSource> parser{
        vcd::FileSource(std::move(body->rest.file), interrupt, std::move(body->rest.ahead)),
        context.dialect, line};
    std::uint64_t time = 0;
    DirectSink<Visitor> sink{visitor};
    auto ending = scan_stretch(parser, window, visitor, sink, time, walked.times);
    if (ending)
      read = *ending != StretchEnd::Visitor;
    else
      read = std::unexpected(std::move(ending.error()));
  }
  if (!read) return std::unexpected(std::move(read.error()));
  walked.finished = *read;
  return walked;
}

template <class Visitor>
Result<Walked> walk_body(const Dump& dump, const Window& window, Visitor& visitor,
                         const CallContext& context = {},
                         std::optional<Resume> from = std::nullopt) {
  if (dump.buses.empty()) return walk_body_as_read(dump, window, visitor, context, from);
  BusMerger<Visitor> merger(dump, visitor, window.start);
  if (!merger.needed()) return walk_body_as_read(dump, window, visitor, context, from);
  CallContext from_start = context;
  from_start.index.reset();
  auto walked =
      walk_body_as_read(dump, Window{std::nullopt, window.end}, merger, from_start, std::nullopt);
  if (walked && walked->finished) walked->finished = merger.flush();
  return walked;
}

}  // namespace quarnel

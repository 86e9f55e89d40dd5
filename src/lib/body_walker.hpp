// The one place that reads the body of a dump: it opens the file at the body
// offset, runs the reader over it, keeps the current time and the window, and
// hands every change within the window to a visitor.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "src/lib/dump.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/file.hpp"
#include "vcd/interrupt.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

// An inclusive time window; an absent bound does not apply.
struct Window {
  std::optional<std::uint64_t> start;
  std::optional<std::uint64_t> end;
};

// Opens the dump's file again at its body offset. A regular file that has
// become shorter than that offset since is cut short: it fails with the
// reader's end-of-input error rather than reading as an empty body.
Result<vcd::File> open_body(const Dump& dump, const vcd::Interrupt* interrupt = nullptr);

template <class C>
inline constexpr bool is_change_v =
    std::is_same_v<C, vcd::cmd::ScalarChange> || std::is_same_v<C, vcd::cmd::VectorChange> ||
    std::is_same_v<C, vcd::cmd::RealChange> || std::is_same_v<C, vcd::cmd::StringChange>;

// Reads the body of `dump` to its end or to the first timestamp after
// `window.end`. The visitor gets
//   visitor.timestamp(time)          for every timestamp read, if it has one;
//   visitor.wanted(code)             for every value change: what the visitor
//                                    keeps for that identifier code, or a
//                                    falsy value when it has no use for it;
//   visitor.change(time, command, w) for every wanted change at or after
//                                    `window.start`, with what wanted() gave;
//                                    returning false stops the walk.
// Changes before `window.start` are dropped without a trace. Returns whether
// the visitor let the walk run to its end, or the first error.
template <class Visitor>
Result<bool> walk_body(const Dump& dump, Window window, Visitor& visitor,
                       const vcd::Interrupt* interrupt = nullptr) {
  auto file = open_body(dump, interrupt);
  if (!file) return std::unexpected(std::move(file.error()));
  vcd::Parser<vcd::FileSource> parser{vcd::FileSource(std::move(*file), interrupt), dump.dialect};
  std::uint64_t time = 0;
  bool stopped = false;
  auto read = parser.for_each_command([&](const auto& command) __attribute__((always_inline)) {
    using C = std::decay_t<decltype(command)>;
    if constexpr (std::is_same_v<C, vcd::cmd::Timestamp>) {
      time = command.time;
      if (window.end && time > *window.end) return false;
      if constexpr (requires { visitor.timestamp(time); }) visitor.timestamp(time);
      return true;
    } else if constexpr (is_change_v<C>) {
      const auto wanted = visitor.wanted(command.id_code);
      if (!wanted || (window.start && time < *window.start)) return true;
      if (visitor.change(time, command, wanted)) return true;
      stopped = true;
      return false;
    } else {
      // Simulation sections and declarations met in the body carry no value.
      return true;
    }
  });
  if (!read) return std::unexpected(VcdError::io(read.error()));
  return !stopped;
}

}  // namespace quarnel

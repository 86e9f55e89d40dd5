// The loop that reads a stretch of a body with one parser: it keeps the
// current time and the window, notes the times of the stretch, and hands
// each wanted change within the window on. Shared by the walk on one thread
// and the pieces of a walk on several.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "src/lib/vcd_error.hpp"
#include "vcd/code_filter.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

// An inclusive time window; an absent bound does not apply.
struct Window {
  std::optional<std::uint64_t> start;
  std::optional<std::uint64_t> end;
};

// The times met in a stretch of a body.
struct BodyTimes {
  bool any = false;                   // whether a timestamp or change was read
  std::uint64_t first = 0;            // the first timestamp, 0 when a change came first
  std::optional<std::uint64_t> last;  // the last timestamp within the window

  // The times of the stretch that follows this one.
  void append(const BodyTimes& next) {
    if (!any) {
      any = next.any;
      first = next.first;
    }
    if (next.last) last = next.last;
  }
};

// The changes a visitor has no use for, for the reader to step over unseen;
// each test notes that a change was met. A visitor that names its codes
// (codes()) is asked through their filter; any other through wanted(). A
// sink that keeps every change of the stretch, whatever its time, takes the
// changes the reader reads whole itself, raw, by their code's text
// (sink.take(text, length, line, value_length)).
template <class Visitor, class Sink>
class WantedChanges {
 public:
  WantedChanges(const Visitor& visitor, Sink& sink, BodyTimes& times)
      : visitor_(visitor), sink_(&sink), times_(times) {}

  [[gnu::always_inline]] void take(std::uint64_t text, unsigned length, const unsigned char* line,
                                   unsigned value_length) const
    requires requires(Sink& sink) { sink.take(text, length, line, value_length); }
  {
    if (!times_.any) times_.any = true;
    sink_->take(text, length, line, value_length);
  }

  // False when the change of the code whose `length` characters are `text`
  // (as vcd::id_code_text_word) is surely not wanted.
  [[gnu::always_inline]] bool operator()(std::uint64_t text, unsigned length) const {
    if (!times_.any) times_.any = true;
    if constexpr (requires { visitor_.codes(); }) {
      return visitor_.codes().filter().may_contain(text);
    } else {
      return static_cast<bool>(visitor_.wanted(vcd::id_code_of_text_word(text, length)));
    }
  }

 private:
  const Visitor& visitor_;
  Sink* sink_;
  BodyTimes& times_;
};

// How a stretch ended, when it did not fail.
enum class StretchEnd : std::uint8_t {
  Input,    // its bytes ran out between two commands
  Window,   // a timestamp after the window's end
  Visitor,  // the sink asked to stop
};

// Reads commands from `parser` until its input ends, a timestamp passes
// `window.end` or `sink` asks to stop. `time` is the current time, kept
// across stretches. For every change, visitor.wanted(code) says what the
// visitor keeps for that code (falsy: nothing); a wanted change at or after
// `window.start` goes to sink.change(time, command, wanted), which returns
// false to stop, and every timestamp within the window to
// sink.timestamp(time).
template <class Source, class Visitor, class Sink>
Result<StretchEnd> scan_stretch(vcd::Parser<Source>& parser, const Window& window,
                                const Visitor& visitor, Sink& sink, std::uint64_t& time,
                                BodyTimes& times) {
  StretchEnd ending = StretchEnd::Input;
  const auto handle = [&](const auto& command) __attribute__((always_inline)) {
    using C = std::decay_t<decltype(command)>;
    if constexpr (std::is_same_v<C, vcd::cmd::Timestamp>) {
      time = command.time;
      if (window.end && time > *window.end) {
        ending = StretchEnd::Window;
        return false;
      }
      if (!times.any) times.first = time;
      times.any = true;
      times.last = time;
      sink.timestamp(time);
      return true;
    } else if constexpr (std::is_same_v<C, vcd::cmd::Change>) {
      times.any = true;
      const auto wanted = visitor.wanted(command.id_code);
      if (!wanted || (window.start && time < *window.start)) return true;
      if (sink.change(time, command, wanted)) return true;
      ending = StretchEnd::Visitor;
      return false;
    } else {
      // Simulation sections and declarations met in the body carry no value.
      return true;
    }
  };
  auto read = parser.for_each_command(handle, WantedChanges<Visitor, Sink>(visitor, sink, times));
  if (!read) return std::unexpected(VcdError::io(read.error()));
  return ending;
}

// The sink that hands everything straight to the visitor.
template <class Visitor>
struct DirectSink {
  Visitor& visitor;

  void timestamp(std::uint64_t time) {
    if constexpr (requires { visitor.timestamp(time); }) visitor.timestamp(time);
  }
  template <class Wanted>
  [[gnu::always_inline]] bool change(std::uint64_t time, const vcd::cmd::Change& command,
                                     const Wanted& wanted) {
    return visitor.change(time, command, wanted);
  }
  [[gnu::always_inline]] void take(std::uint64_t text, unsigned length, const unsigned char* line,
                                   unsigned value_length)
    requires requires { visitor.take(text, length, line, value_length); }
  {
    visitor.take(text, length, line, value_length);
  }
};

}  // namespace quarnel

// The value changes of chosen signals within a time window, streamed from
// the body of a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "src/lib/change_value.hpp"
#include "src/lib/code_index.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

// Which identifier codes feed which requested names. Each entry of the
// request list adds its position under the code of its signal, in order.
class TargetMap {
 public:
  // Makes looking up any code up to `code` take the same road.
  void cover(vcd::IdCode code) { index_.cover(code); }
  void add(vcd::IdCode code, std::uint32_t request);
  // Request positions fed by `code`, or nullptr when nobody asked for it.
  const std::vector<std::uint32_t>* find(vcd::IdCode code) const {
    const std::uint32_t slot = index_.find(code);
    return slot == CodeIndex::kNone ? nullptr : &slots_[slot];
  }
  bool empty() const { return slots_.empty(); }

 private:
  CodeIndex index_;
  std::vector<std::vector<std::uint32_t>> slots_;
};

struct TargetRequest {
  TargetMap targets;
  std::vector<std::string_view> missing;  // undeclared names, request order, repeats kept
};

TargetRequest build_target_map(const HeaderInfo& header, const std::vector<std::string>& names);

// "a, b, c"
std::string join_names(const std::vector<std::string_view>& names);

struct TimeValue {
  std::string_view signal;  // the requested name
  std::uint32_t request;    // its position in the request list
  std::uint64_t time;
  ChangeValue value;
};

// Hands out one TimeValue per requested name and change, in file order,
// within the inclusive window [start, end]: changes before `start` are
// dropped, and reading stops at the first timestamp after `end`. The records
// of one change come together, in request order. The request list must
// outlive the stream.
class TimeValueIter {
 public:
  TimeValueIter(vcd::File file, const std::vector<std::string>& names, TargetMap targets,
                std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                const vcd::Interrupt* interrupt = nullptr)
      : parser_(vcd::FileSource(std::move(file), interrupt)),
        names_(&names),
        targets_(std::move(targets)),
        start_(start),
        end_(end) {}

  // Feeds every record to `sink` (a callable taking TimeValue&& and
  // returning false to stop early). Returns whether the stream was read to
  // its end, or the first error.
  template <class Sink>
  Result<bool> run(Sink&& sink);

  // The same stream one change at a time, before the value is converted:
  // `sink` is called as sink(requests, time, view) with the request
  // positions the change feeds (in request order, each standing for one
  // record) and returns false to stop early. The view is valid only during
  // the call. run() is this with one TimeValue per request.
  template <class ChangeSink>
  Result<bool> run_changes(ChangeSink&& sink);

 private:
  // The requests fed by a change of `code` at the current time, or nullptr
  // when the change is not wanted.
  const std::vector<std::uint32_t>* wanted(vcd::IdCode code) const {
    const auto* requests = targets_.find(code);
    return requests != nullptr && start_ && current_time_ < *start_ ? nullptr : requests;
  }

  vcd::Parser<vcd::FileSource> parser_;
  const std::vector<std::string>* names_;
  TargetMap targets_;
  std::optional<std::uint64_t> start_;
  std::optional<std::uint64_t> end_;
  std::uint64_t current_time_ = 0;
};

Result<TimeValueIter> open_value_stream(const std::string& path, std::uint64_t body_offset,
                                        const std::vector<std::string>& names, TargetMap targets,
                                        std::optional<std::uint64_t> start,
                                        std::optional<std::uint64_t> end,
                                        const vcd::Interrupt* interrupt = nullptr);

template <class ChangeSink>
Result<bool> TimeValueIter::run_changes(ChangeSink&& sink) {
  bool stopped = false;
  const auto emit = [&](const std::vector<std::uint32_t>& requests, const ChangeView& view) {
    if (sink(requests, current_time_, view)) return true;
    stopped = true;
    return false;
  };
  auto read = parser_.for_each_command([&](const auto& command) {
    using C = std::decay_t<decltype(command)>;
    if constexpr (std::is_same_v<C, vcd::cmd::Timestamp>) {
      current_time_ = command.time;
      return !(end_ && current_time_ > *end_);
    } else if constexpr (std::is_same_v<C, vcd::cmd::ScalarChange>) {
      const auto* requests = wanted(command.id_code);
      return requests == nullptr || emit(*requests, ChangeView::of_scalar(command.value));
    } else if constexpr (std::is_same_v<C, vcd::cmd::VectorChange>) {
      const auto* requests = wanted(command.id_code);
      return requests == nullptr || emit(*requests, ChangeView::of_vector(command.vector));
    } else if constexpr (std::is_same_v<C, vcd::cmd::RealChange>) {
      const auto* requests = wanted(command.id_code);
      return requests == nullptr || emit(*requests, ChangeView::of_real(command.value));
    } else if constexpr (std::is_same_v<C, vcd::cmd::StringChange>) {
      const auto* requests = wanted(command.id_code);
      return requests == nullptr || emit(*requests, ChangeView::of_string(command.text));
    } else {
      // Simulation sections and declarations met in the body carry no value.
      return true;
    }
  });
  if (!read) return std::unexpected(VcdError::io(read.error()));
  return !stopped;
}

template <class Sink>
Result<bool> TimeValueIter::run(Sink&& sink) {
  // Hands the converted value to every request of the change, copying it for
  // all but the last.
  return run_changes(
      [&](const std::vector<std::uint32_t>& requests, std::uint64_t time, const ChangeView& view) {
        ChangeValue value = change_value(view);
        for (std::size_t i = 0; i < requests.size(); ++i) {
          const std::uint32_t request = requests[i];
          TimeValue record{(*names_)[request], request, time,
                           i + 1 == requests.size() ? std::move(value) : value};
          if (!sink(std::move(record))) return false;
        }
        return true;
      });
}

}  // namespace quarnel

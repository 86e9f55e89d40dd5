// The changes of the signals a caller asked for by name: which identifier
// codes feed which requests, and the visitor of the body walker that hands
// each wanted change on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "src/lib/body_walker.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/change_value.hpp"
#include "src/lib/code_index.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// Which identifier codes feed which requested names. Each entry of the
// request list adds its position under the code of its signal, in order.
class TargetMap {
 public:
  // Makes looking up any code up to `code` take the same road.
  void cover(vcd::IdCode code) { index_.cover(code); }
  void add(vcd::IdCode code, std::uint32_t request);
  // The codes somebody asked for.
  const CodeIndex& codes() const { return index_; }
  // Request positions fed by `code`, or nullptr when nobody asked for it.
  [[gnu::always_inline]] const std::vector<std::uint32_t>* find(vcd::IdCode code) const {
    const std::uint32_t slot = index_.find(code);
    return slot == CodeIndex::kNone ? nullptr : &slots_[slot];
  }

 private:
  CodeIndex index_;
  std::vector<std::vector<std::uint32_t>> slots_;
};

// A dump with the requested names mapped to its codes.
struct Request {
  Dump dump;
  TargetMap targets;
};

// The header pass, then the names looked up. Undeclared names fail with
// `missing_error`, its payload the names joined by ", " in request order:
// SignalsNotFound for extraction and toggle counting ("signals not found in
// VCD: a, b"), SignalNotFound for the one-name search.
Result<Request> request_signals(const std::string& path, const std::vector<std::string>& names,
                                VcdError::Kind missing_error, const CallContext& context = {});

// The change that the search found: the requested name it was asked for by,
// the time and the value converted.
struct TimeValue {
  std::string_view signal;  // the requested name
  std::uint32_t request;    // its position in the request list
  std::uint64_t time;
  ChangeValue value;
};

// The visitor of walk_requested.
template <class ChangeSink>
struct RequestedChangeVisitor {
  const TargetMap& targets;
  ChangeSink& sink;

  const CodeIndex& codes() const { return targets.codes(); }
  [[gnu::always_inline]] const std::vector<std::uint32_t>* wanted(vcd::IdCode code) const {
    return targets.find(code);
  }
  [[gnu::always_inline]] bool change(std::uint64_t time, const vcd::cmd::Change& command,
                                     const std::vector<std::uint32_t>* requests) {
    return sink(*requests, time, command.value);
  }
};

// Walks the body of the request's dump within `window`, calling
// sink(requests, time, view) for every change of a requested signal with
// the request positions it feeds (in request order, each standing for one
// record); the view is valid only during the call. `sink` returns false to
// stop early. Returns whether the body was read to its end, or the first
// error.
template <class ChangeSink>
Result<bool> walk_requested(const Request& request, const Window& window, ChangeSink& sink,
                            const CallContext& context = {}) {
  RequestedChangeVisitor<ChangeSink> visitor{request.targets, sink};
  auto walked = walk_body(request.dump, window, visitor, context);
  if (!walked) return std::unexpected(std::move(walked.error()));
  return walked->finished;
}

}  // namespace quarnel

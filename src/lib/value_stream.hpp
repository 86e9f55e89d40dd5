// The value changes of chosen signals within a time window, streamed from
// the body of a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/lib/change_value.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

// Which identifier codes feed which requested names. Each entry of the
// request list adds its position under the code of its signal, in order.
class TargetMap {
 public:
  void add(vcd::IdCode code, std::uint32_t request);
  // Request positions fed by `code`, or nullptr when nobody asked for it.
  const std::vector<std::uint32_t>* find(vcd::IdCode code) const {
    if (code.value < flat_.size()) {
      const std::int32_t slot = flat_[code.value];
      return slot < 0 ? nullptr : &slots_[static_cast<std::size_t>(slot)];
    }
    if (sparse_.empty()) return nullptr;
    const auto it = sparse_.find(code);
    return it == sparse_.end() ? nullptr : &slots_[it->second];
  }
  bool empty() const { return slots_.empty(); }

 private:
  // Codes below this bound are looked up in a flat table.
  static constexpr std::uint64_t kFlatLimit = std::uint64_t{1} << 20;
  std::vector<std::vector<std::uint32_t>> slots_;
  std::vector<std::int32_t> flat_;
  std::unordered_map<vcd::IdCode, std::size_t> sparse_;
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
// within the inclusive window [start, end]. The request list must outlive it.
class TimeValueIter {
 public:
  TimeValueIter(vcd::File file, const std::vector<std::string>& names, TargetMap targets,
                std::optional<std::uint64_t> start, std::optional<std::uint64_t> end)
      : parser_(vcd::FileSource(std::move(file))),
        names_(&names),
        targets_(std::move(targets)),
        start_(start),
        end_(end) {}

  // A record, nullopt at the end of the stream, or the first error.
  Result<std::optional<TimeValue>> next();

 private:
  TimeValue take_pending();

  vcd::Parser<vcd::FileSource> parser_;
  const std::vector<std::string>* names_;
  TargetMap targets_;
  std::optional<std::uint64_t> start_;
  std::optional<std::uint64_t> end_;
  std::uint64_t current_time_ = 0;
  bool done_ = false;
  // The change being handed out: its value and the requests still to serve.
  const std::vector<std::uint32_t>* pending_ = nullptr;
  std::size_t pending_pos_ = 0;
  ChangeValue pending_value_;
};

Result<TimeValueIter> open_value_stream(const std::string& path, std::uint64_t body_offset,
                                        const std::vector<std::string>& names, TargetMap targets,
                                        std::optional<std::uint64_t> start,
                                        std::optional<std::uint64_t> end);

// Drains `stream` into `sink` (a callable taking TimeValue&& and returning
// false to stop early). Returns whether the stream was read to its end.
template <class Sink>
Result<bool> drain(TimeValueIter& stream, Sink&& sink) {
  for (;;) {
    auto record = stream.next();
    if (!record) return std::unexpected(std::move(record.error()));
    if (!*record) return true;
    if (!sink(std::move(**record))) return false;
  }
}

}  // namespace quarnel

#include "src/lib/toggles.hpp"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "src/lib/held_change.hpp"
#include "src/lib/requested_changes.hpp"
#include "src/lib/value_equality.hpp"

namespace quarnel {

namespace {

// The toggles of each distinct requested name within a stretch of the body;
// a visitor of the body walker that sums up the pieces of a body itself.
class ToggleCounter {
 public:
  struct Counter {
    std::uint32_t width;
    std::uint64_t count = 0;
    HeldChange first;  // the stretch's first value
    HeldChange last;
  };
  // Each counter stands alone, so the changes may come signal by signal.
  static constexpr bool kChangesBySignal = true;

  // `counter_of` maps each request position to its counter.
  ToggleCounter(const TargetMap& targets, const std::vector<std::size_t>& counter_of,
                std::vector<Counter> counters)
      : targets_(&targets), counter_of_(&counter_of), counters_(std::move(counters)) {}

  const CodeIndex& codes() const { return targets_->codes(); }
  [[gnu::always_inline]] const std::vector<std::uint32_t>* wanted(vcd::IdCode code) const {
    return targets_->find(code);
  }
  [[gnu::always_inline]] bool change(std::uint64_t /*time*/, const vcd::cmd::Change& command,
                                     const std::vector<std::uint32_t>* requests) {
    for (const std::uint32_t request : *requests) {
      Counter& counter = counters_[(*counter_of_)[request]];
      if (!counter.last.set) {
        counter.first.hold(command.value);
      } else if (!same_toggle_value(counter.last.view(), command.value, counter.width)) {
        ++counter.count;
      }
      counter.last.hold(command.value);
    }
    return true;
  }

  ToggleCounter piece() const {
    std::vector<Counter> fresh;
    fresh.reserve(counters_.size());
    for (const Counter& counter : counters_) fresh.push_back(Counter{counter.width, 0, {}, {}});
    return {*targets_, *counter_of_, std::move(fresh)};
  }
  // The next stretch: its first value against the last one before it.
  bool join(ToggleCounter next) {
    for (std::size_t i = 0; i < counters_.size(); ++i) {
      Counter& counter = counters_[i];
      Counter& later = next.counters_[i];
      if (!later.first.set) continue;
      if (!counter.last.set) {
        counter.first = std::move(later.first);
      } else if (!same_toggle_value(counter.last.view(), later.first.view(), counter.width)) {
        ++counter.count;
      }
      counter.count += later.count;
      counter.last = std::move(later.last);
    }
    return true;
  }

  const std::vector<Counter>& counters() const { return counters_; }

 private:
  const TargetMap* targets_;
  const std::vector<std::size_t>* counter_of_;
  std::vector<Counter> counters_;
};

}  // namespace

Result<std::vector<std::pair<std::string, std::uint64_t>>> count_toggles(
    const std::string& path, const std::vector<std::string>& signals, const Window& window,
    const CallContext& context) {
  auto request = request_signals(path, signals, VcdError::Kind::SignalsNotFound, context);
  if (!request) return std::unexpected(std::move(request.error()));

  // One counter per distinct name; each request position points at its own.
  std::vector<ToggleCounter::Counter> counters;
  std::vector<std::size_t> counter_of(signals.size());
  std::unordered_map<std::string_view, std::size_t> seen;
  for (std::size_t i = 0; i < signals.size(); ++i) {
    const auto [it, inserted] = seen.try_emplace(signals[i], counters.size());
    if (inserted) counters.push_back({request->dump.find(signals[i])->width, 0, {}, {}});
    counter_of[i] = it->second;
  }

  ToggleCounter counter(request->targets, counter_of, std::move(counters));
  auto read = walk_body(request->dump, window, counter, context);
  if (!read) return std::unexpected(std::move(read.error()));

  std::vector<std::pair<std::string, std::uint64_t>> counts;
  counts.reserve(counter.counters().size());
  for (std::size_t i = 0; i < signals.size(); ++i) {
    if (counter_of[i] == counts.size())
      counts.emplace_back(signals[i], counter.counters()[counter_of[i]].count);
  }
  return counts;
}

}  // namespace quarnel

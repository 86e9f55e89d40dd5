#include "src/lib/toggles.hpp"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "src/lib/requested_changes.hpp"
#include "src/lib/value_equality.hpp"

namespace quarnel {

Result<std::vector<std::pair<std::string, std::uint64_t>>> count_toggles(
    const std::string& path, const std::vector<std::string>& signals,
    std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
    const vcd::Interrupt* interrupt, vcd::Dialect dialect) {
  auto request =
      request_signals(path, signals, VcdError::Kind::SignalsNotFound, interrupt, dialect);
  if (!request) return std::unexpected(std::move(request.error()));

  // One counter per distinct name; each request position points at its own.
  struct Counter {
    std::uint32_t width;
    std::uint64_t count = 0;
    std::optional<ChangeValue> last;
  };
  std::vector<Counter> counters;
  std::vector<std::size_t> counter_of(signals.size());
  std::unordered_map<std::string_view, std::size_t> seen;
  for (std::size_t i = 0; i < signals.size(); ++i) {
    const auto [it, inserted] = seen.try_emplace(signals[i], counters.size());
    if (inserted) counters.push_back(Counter{request->dump.find(signals[i])->width, 0, {}});
    counter_of[i] = it->second;
  }

  const auto count = [&](TimeValue&& record) {
    Counter& counter = counters[counter_of[record.request]];
    if (counter.last && !same_toggle_value(*counter.last, record.value, counter.width)) {
      ++counter.count;
    }
    counter.last = std::move(record).value;
    return true;
  };
  auto read = walk_records(*request, signals, Window{start, end}, count, interrupt);
  if (!read) return std::unexpected(std::move(read.error()));

  std::vector<std::pair<std::string, std::uint64_t>> counts;
  counts.reserve(counters.size());
  for (std::size_t i = 0; i < signals.size(); ++i) {
    if (counter_of[i] == counts.size())
      counts.emplace_back(signals[i], counters[counter_of[i]].count);
  }
  return counts;
}

}  // namespace quarnel

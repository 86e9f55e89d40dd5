#include "src/lib/find.hpp"

#include <utility>
#include <vector>

#include "src/lib/requested_changes.hpp"

namespace quarnel {

Result<std::optional<TimeValue>> find_nth_occurrence(
    const std::string& path, const std::string& signal, const TargetValue& target,
    std::size_t occurrence, std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
    const vcd::Interrupt* interrupt, vcd::Dialect dialect) {
  if (occurrence == 0) return std::unexpected(VcdError{VcdError::Kind::InvalidOccurrence, {}});
  const std::vector<std::string> names{signal};
  auto request = request_signals(path, names, VcdError::Kind::SignalNotFound, interrupt, dialect);
  if (!request) return std::unexpected(std::move(request.error()));

  const TargetMatcher matcher(target);
  std::size_t matches = 0;
  std::optional<TimeValue> found;
  const auto match = [&](TimeValue&& record) {
    if (!matcher.matches(record.value) || ++matches < occurrence) return true;
    found = std::move(record);
    return false;
  };
  auto read = walk_records(*request, names, Window{start, end}, match, interrupt);
  if (!read) return std::unexpected(std::move(read.error()));
  // The record views the local request list; point it at the caller's name.
  if (found) found->signal = signal;
  return found;
}

}  // namespace quarnel

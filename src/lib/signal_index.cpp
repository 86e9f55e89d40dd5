#include "src/lib/signal_index.hpp"

namespace quarnel {

Result<SignalIndex> SignalIndex::build(const std::vector<Signal>& signals) {
  SignalIndex index;
  index.by_name.reserve(signals.size());
  for (std::size_t i = 0; i < signals.size(); ++i) {
    if (!index.by_name.try_emplace(signals[i].name, i).second) {
      return std::unexpected(VcdError{VcdError::Kind::DuplicateSignal, signals[i].name});
    }
  }
  return index;
}

}  // namespace quarnel

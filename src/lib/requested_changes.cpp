#include "src/lib/requested_changes.hpp"

#include "src/lib/header_pass.hpp"

namespace quarnel {

void TargetMap::add(vcd::IdCode code, std::uint32_t request) {
  const std::uint32_t slot = index_.insert(code, static_cast<std::uint32_t>(slots_.size()));
  if (slot == slots_.size()) slots_.emplace_back();
  slots_[slot].push_back(request);
}

Result<Request> request_signals(const std::string& path, const std::vector<std::string>& names,
                                VcdError::Kind missing_error, const CallContext& context) {
  auto dump = open_dump(path, context);
  if (!dump) return std::unexpected(std::move(dump.error()));
  TargetMap targets;
  for (const Signal& signal : dump->signals) targets.cover(signal.id_code);
  std::string missing;
  bool any_missing = false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const Signal* signal = dump->find(names[i])) {
      targets.add(signal->id_code, static_cast<std::uint32_t>(i));
    } else {
      if (any_missing) missing += ", ";
      missing += names[i];
      any_missing = true;
    }
  }
  if (any_missing) return std::unexpected(VcdError{missing_error, std::move(missing)});
  return Request{std::move(*dump), std::move(targets)};
}

}  // namespace quarnel

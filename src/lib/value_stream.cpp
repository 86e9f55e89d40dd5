#include "src/lib/value_stream.hpp"

#include "src/lib/header_pass.hpp"

namespace quarnel {

void TargetMap::add(vcd::IdCode code, std::uint32_t request) {
  const std::uint32_t slot = index_.insert(code, static_cast<std::uint32_t>(slots_.size()));
  if (slot == slots_.size()) slots_.emplace_back();
  slots_[slot].push_back(request);
}

TargetRequest build_target_map(const HeaderInfo& header, const std::vector<std::string>& names) {
  TargetRequest request;
  for (const Signal& signal : header.signals) request.targets.cover(signal.id_code);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const Signal* signal = header.find(names[i])) {
      request.targets.add(signal->id_code, static_cast<std::uint32_t>(i));
    } else {
      request.missing.push_back(names[i]);
    }
  }
  return request;
}

std::string join_names(const std::vector<std::string_view>& names) {
  std::string joined;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) joined += ", ";
    joined += names[i];
  }
  return joined;
}

Result<TimeValueIter> open_value_stream(const std::string& path, std::uint64_t body_offset,
                                        const std::vector<std::string>& names, TargetMap targets,
                                        std::optional<std::uint64_t> start,
                                        std::optional<std::uint64_t> end,
                                        const vcd::Interrupt* interrupt) {
  auto file = open_body(path, body_offset, interrupt);
  if (!file) return std::unexpected(std::move(file.error()));
  return TimeValueIter(std::move(*file), names, std::move(targets), start, end, interrupt);
}

}  // namespace quarnel

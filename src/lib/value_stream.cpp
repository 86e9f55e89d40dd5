#include "src/lib/value_stream.hpp"

#include <algorithm>

#include "src/lib/header_pass.hpp"

namespace quarnel {

void TargetMap::cover(vcd::IdCode code) {
  const std::uint64_t size = std::min(code.value + 1, kFlatLimit);
  if (size > flat_.size()) flat_.resize(size, -1);
}

void TargetMap::add(vcd::IdCode code, std::uint32_t request) {
  std::size_t slot = slots_.size();
  if (code.value < kFlatLimit) {
    if (code.value >= flat_.size()) flat_.resize(code.value + 1, -1);
    if (flat_[code.value] < 0) {
      flat_[code.value] = static_cast<std::int32_t>(slot);
      slots_.emplace_back();
    } else {
      slot = static_cast<std::size_t>(flat_[code.value]);
    }
  } else {
    const auto [it, inserted] = sparse_.try_emplace(code, slot);
    if (inserted) {
      slots_.emplace_back();
    } else {
      slot = it->second;
    }
  }
  slots_[slot].push_back(request);
}

TargetRequest build_target_map(const HeaderInfo& header, const std::vector<std::string>& names) {
  TargetRequest request;
  vcd::IdCode highest{0};
  for (const Signal& signal : header.signals)
    highest.value = std::max(highest.value, signal.id_code.value);
  request.targets.cover(highest);
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

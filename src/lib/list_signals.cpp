#include "src/lib/list_signals.hpp"

#include "src/lib/header_pass.hpp"

namespace quarnel {

Result<std::vector<std::string>> list_signals_from_file(const std::string& path,
                                                        const std::optional<std::string>& filter,
                                                        const vcd::Interrupt* interrupt) {
  auto header = read_signals_with_offset(path, interrupt);
  if (!header) return std::unexpected(std::move(header.error()));
  std::vector<std::string> names;
  names.reserve(header->signals.size());
  for (auto& signal : header->signals) {
    if (!filter || signal.name.find(*filter) != std::string::npos) {
      names.push_back(std::move(signal.name));
    }
  }
  return names;
}

}  // namespace quarnel

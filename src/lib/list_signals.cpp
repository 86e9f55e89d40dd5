#include "src/lib/list_signals.hpp"

#include "src/lib/header_pass.hpp"

namespace quarnel {

Result<SignalNames> list_signals_from_file(const std::string& path,
                                           const std::optional<std::string>& filter,
                                           const CallContext& context) {
  // The header pass without the signal records and their index: the names
  // only need to be unique.
  auto parsed = read_header(path, context);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  SignalNames& names = parsed->names;
  if (const auto repeated = find_repeated_name(names)) {
    return std::unexpected(
        VcdError{VcdError::Kind::DuplicateSignal, std::string(names[*repeated])});
  }
  if (!filter || filter->empty()) return std::move(names);
  SignalNames kept;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].find(*filter) != std::string_view::npos) kept.push_back(names[i]);
  }
  return kept;
}

}  // namespace quarnel

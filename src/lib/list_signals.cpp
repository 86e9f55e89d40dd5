#include "src/lib/list_signals.hpp"

#include "src/lib/header_pass.hpp"

namespace quarnel {

namespace {

bool kept_by(const std::optional<std::string>& filter, std::string_view name) {
  return !filter || name.find(*filter) != std::string_view::npos;
}

// The names with each merged bus in place of its bits.
Result<SignalNames> list_with_buses(const std::string& path,
                                    const std::optional<std::string>& filter,
                                    const CallContext& context) {
  auto dump = open_dump(path, context);
  if (!dump) return std::unexpected(std::move(dump.error()));
  std::vector<const Bus*> bus_at(dump->signals.size(), nullptr);
  for (const Bus& bus : dump->buses) bus_at[bus.first_bit] = &bus;
  SignalNames names;
  for (std::size_t i = 0; i < dump->signals.size() - dump->buses.size(); ++i) {
    const Signal& signal = dump->signals[i];
    const std::string_view name = bus_at[i] ? bus_at[i]->name : signal.name;
    if ((!signal.in_bus || bus_at[i]) && kept_by(filter, name)) names.push_back(name);
  }
  return names;
}

}  // namespace

Result<std::vector<BusBits>> list_buses(const std::string& path, const CallContext& context) {
  CallContext with_buses = context;
  with_buses.buses = true;
  auto dump = open_dump(path, with_buses);
  if (!dump) return std::unexpected(std::move(dump.error()));
  std::vector<BusBits> buses;
  for (const Bus& bus : dump->buses) {
    BusBits& listed = buses.emplace_back(BusBits{bus.name, {}});
    for (const std::size_t bit : bus.bits) listed.bits.push_back(dump->signals[bit].name);
  }
  return buses;
}

Result<SignalNames> list_signals_from_file(const std::string& path,
                                           const std::optional<std::string>& filter,
                                           const CallContext& context) {
  if (context.buses) return list_with_buses(path, filter, context);
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
    if (kept_by(filter, names[i])) kept.push_back(names[i]);
  }
  return kept;
}

}  // namespace quarnel

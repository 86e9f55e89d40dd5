#include "src/lib/buses.hpp"

#include <algorithm>
#include <charconv>
#include <map>
#include <string_view>

namespace quarnel {

namespace {

// The name before a trailing "[n]" and n, when `name` ends so.
bool split_bit_name(std::string_view name, std::string_view& base, std::uint64_t& index) {
  if (name.size() < 4 || name.back() != ']') return false;
  const std::size_t open = name.rfind('[');
  if (open == std::string_view::npos || open == 0 || open + 2 > name.size() - 1) return false;
  const std::string_view digits = name.substr(open + 1, name.size() - open - 2);
  if (!std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; })) return false;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
  if (error != std::errc{} || end != digits.data() + digits.size()) return false;
  base = name.substr(0, open);
  return true;
}

}  // namespace

std::vector<Bus> find_buses(std::vector<Signal>& signals) {
  // The one-bit variables of each base name: index and position.
  std::map<std::string_view, std::vector<std::pair<std::uint64_t, std::size_t>>> groups;
  std::vector<std::string_view> order;  // base names by their first bit
  std::uint64_t free_code = 0;
  for (std::size_t i = 0; i < signals.size(); ++i) {
    free_code = std::max(free_code, signals[i].id_code.value + 1);
    std::string_view base;
    std::uint64_t index = 0;
    if (signals[i].width != 1 || !split_bit_name(signals[i].name, base, index)) continue;
    auto& group = groups[base];
    if (group.empty()) order.push_back(base);
    group.emplace_back(index, i);
  }
  const auto index = SignalIndex::build(signals);
  std::vector<Bus> buses;
  for (std::string_view base : order) {
    auto& group = groups[base];
    if (group.size() < 2) continue;
    std::ranges::sort(group, std::greater<>());
    const std::uint64_t msb = group.front().first;
    const std::uint64_t lsb = group.back().first;
    if (msb - lsb + 1 != group.size() || std::ranges::adjacent_find(group, {}, [](const auto& bit) {
                                           return bit.first;
                                         }) != group.end()) {
      continue;  // a gap, or a bit declared twice
    }
    std::string name =
        std::string(base) + "[" + std::to_string(msb) + ":" + std::to_string(lsb) + "]";
    if (index && index->find(signals, name)) continue;
    Bus bus{std::move(name), vcd::IdCode{free_code++}, {}, signals.size()};
    for (const auto& [bit, position] : group) {
      bus.bits.push_back(position);
      bus.first_bit = std::min(bus.first_bit, position);
      signals[position].in_bus = true;
    }
    buses.push_back(std::move(bus));
  }
  return buses;
}

char bit_of_change(const vcd::ChangeView& view) {
  switch (view.kind) {
    case vcd::ChangeView::Kind::Scalar: return vcd::to_char(view.scalar);
    case vcd::ChangeView::Kind::Vector: return view.text.empty() ? 'x' : view.text.back();
    case vcd::ChangeView::Kind::Real:
    case vcd::ChangeView::Kind::String: break;
  }
  return 'x';
}

}  // namespace quarnel

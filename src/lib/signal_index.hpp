// Declared variables with their full names, and the index that finds them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/lib/vcd_error.hpp"
#include "vcd/idcode.hpp"
#include "vcd/timescale.hpp"
#include "vcd/var.hpp"

namespace quarnel {

// One $var command.
struct Signal {
  std::string name;  // scopes joined by ".", then the reference and its index
  vcd::IdCode id_code;
  std::uint32_t width;
  vcd::VarType var_type;
};

// Finds signals by full name. The keys view the names held in the signal
// list the index was built from, which must stay in place (moving the list
// as a whole is fine) for as long as the index is used.
struct SignalIndex {
  std::unordered_map<std::string_view, std::size_t> by_name;  // position in the list

  // Fails on the second declaration of the earliest repeated name.
  static Result<SignalIndex> build(const std::vector<Signal>& signals);

  const Signal* find(const std::vector<Signal>& signals, std::string_view name) const {
    const auto it = by_name.find(name);
    return it == by_name.end() ? nullptr : &signals[it->second];
  }
};

// The result of the header pass.
struct HeaderInfo {
  std::vector<Signal> signals;  // declaration order
  std::optional<vcd::Timescale> timescale;
  SignalIndex index;
  std::uint64_t body_offset;  // where the value-change section is read from

  const Signal* find(std::string_view name) const { return index.find(signals, name); }
};

}  // namespace quarnel

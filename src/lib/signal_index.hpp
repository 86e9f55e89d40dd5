// Declared variables with their full names, and the index that finds them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
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
  bool in_bus = false;  // a bit that a merged bus stands for (buses.hpp)
};

// Full names packed one after the other into one text, in declaration order.
struct SignalNames {
  std::string text;
  std::vector<std::size_t> ends;  // where each name ends in `text`

  std::size_t size() const { return ends.size(); }
  std::string_view operator[](std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends[i - 1];
    return std::string_view(text).substr(begin, ends[i] - begin);
  }
  void push_back(std::string_view name) {
    text += name;
    ends.push_back(text.size());
  }
};

// Positions in a list of names, found by name: open addressing over the
// positions, so the table holds no names of its own and `name_at(position)`
// gives them back. The hash is keyed with random bytes drawn once per
// process.
class NameTable {
 public:
  NameTable() = default;
  // Room for `count` names.
  explicit NameTable(std::size_t count);

  // Adds `position` under `name`; false, adding nothing, when the table
  // holds the name already.
  template <class NameAt>
  bool insert(std::string_view name, std::size_t position, const NameAt& name_at);

  template <class NameAt>
  std::optional<std::size_t> find(std::string_view name, const NameAt& name_at) const;

 private:
  // A slot holds the position plus one in its low bits (0: empty) and more
  // bits of the hash above them, which spare most comparisons of names.
  static constexpr int kPositionBits = 40;
  static constexpr std::uint64_t kPositionMask = (std::uint64_t{1} << kPositionBits) - 1;

  static std::uint64_t hash(std::string_view name);

  std::vector<std::uint64_t> slots_;  // a power of two, at most half full
};

template <class NameAt>
bool NameTable::insert(std::string_view name, std::size_t position, const NameAt& name_at) {
  const std::uint64_t h = hash(name);
  const std::uint64_t tag = h & ~kPositionMask;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(h) & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) {
      slots_[i] = tag | (position + 1);
      return true;
    }
    if ((slot & ~kPositionMask) == tag && name_at((slot & kPositionMask) - 1) == name) return false;
  }
}

template <class NameAt>
std::optional<std::size_t> NameTable::find(std::string_view name, const NameAt& name_at) const {
  if (slots_.empty()) return std::nullopt;
  const std::uint64_t h = hash(name);
  const std::uint64_t tag = h & ~kPositionMask;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(h) & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) return std::nullopt;
    const std::size_t position = (slot & kPositionMask) - 1;
    if ((slot & ~kPositionMask) == tag && name_at(position) == name) return position;
  }
}

// The position of the second declaration of the earliest repeated name, if
// any name is repeated.
std::optional<std::size_t> find_repeated_name(const SignalNames& names);

// Finds signals by full name. The index holds positions in the signal list
// it was built from, which must stay as it is for as long as the index is
// used.
struct SignalIndex {
  NameTable by_name;

  // Fails on the second declaration of the earliest repeated name.
  static Result<SignalIndex> build(const std::vector<Signal>& signals);

  const Signal* find(const std::vector<Signal>& signals, std::string_view name) const {
    const auto position =
        by_name.find(name, [&](std::size_t i) -> std::string_view { return signals[i].name; });
    return position ? &signals[*position] : nullptr;
  }
};

}  // namespace quarnel

// The visitor that makes the changes of merged buses (buses.hpp) out of the
// changes of their bits, for the visitor of a walk that asked for a bus: the
// walk hands it every change, and it hands the visitor those it wants, each
// bus once per time stamp in which any of its bits changed, after the other
// changes of that time stamp, as a vector of its bits (x for a bit without a
// value yet).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/lib/code_index.hpp"
#include "src/lib/dump.hpp"
#include "vcd/command.hpp"

namespace quarnel {

template <class Visitor>
class BusMerger {
 public:
  using Inner = decltype(std::declval<const Visitor&>().wanted(vcd::IdCode{}));
  // What a code feeds: the visitor's own use of it, and the bits it sets.
  struct Use {
    Inner inner{};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> bits;  // bus, position
  };

  // Merges the buses of `dump` that `visitor` wants; changes before `start`
  // only set bits.
  BusMerger(const Dump& dump, Visitor& visitor, std::optional<std::uint64_t> start)
      : visitor_(visitor), start_(start) {
    for (const Signal& signal : dump.signals) codes_.cover(signal.id_code);
    for (const Signal& signal : dump.signals) {
      if (Inner inner = visitor.wanted(signal.id_code)) use_of(signal.id_code).inner = inner;
    }
    for (const Bus& bus : dump.buses) {
      Inner inner = visitor.wanted(bus.code);
      if (!inner) continue;
      const auto number = static_cast<std::uint32_t>(buses_.size());
      buses_.push_back(Merged{bus.code, inner, std::string(bus.bits.size(), 'x'), false});
      for (std::size_t i = 0; i < bus.bits.size(); ++i)
        use_of(dump.signals[bus.bits[i]].id_code)
            .bits.emplace_back(number, static_cast<std::uint32_t>(i));
    }
  }

  // Whether the visitor wants any bus, and so needs this merger.
  bool needed() const { return !buses_.empty(); }

  const CodeIndex& codes() const { return codes_; }
  [[gnu::always_inline]] const Use* wanted(vcd::IdCode code) const {
    const std::uint32_t slot = codes_.find(code);
    return slot == CodeIndex::kNone ? nullptr : &uses_[slot];
  }
  // The buses changed in the time stamp before go first: the visitor may
  // take the time of a change from its timestamp.
  void timestamp(std::uint64_t time) {
    if (!pending_.empty() && time != pending_time_) stopped_ = !flush();
    if constexpr (requires { visitor_.timestamp(time); }) visitor_.timestamp(time);
  }
  bool change(std::uint64_t time, const vcd::cmd::Change& command, const Use* use) {
    if (stopped_ || (!pending_.empty() && time != pending_time_ && !flush())) return false;
    for (const auto& [number, position] : use->bits) {
      Merged& bus = buses_[number];
      bus.value[position] = bit_of_change(command.value);
      if (!bus.pending) pending_.push_back(number);
      bus.pending = true;
      pending_time_ = time;
    }
    if (!use->inner || (start_ && time < *start_)) return true;
    return visitor_.change(time, command, use->inner);
  }
  // Hands on the buses changed in the last time stamp; false when the
  // visitor stopped.
  bool flush() {
    std::ranges::sort(pending_);
    bool go_on = !stopped_;
    for (const std::uint32_t number : pending_) {
      Merged& bus = buses_[number];
      bus.pending = false;
      if (!go_on || (start_ && pending_time_ < *start_)) continue;
      const vcd::cmd::Change command{bus.code, vcd::ChangeView::of_vector(bus.value)};
      go_on = visitor_.change(pending_time_, command, bus.inner);
    }
    pending_.clear();
    return go_on;
  }

 private:
  struct Merged {
    vcd::IdCode code{};
    Inner inner;
    std::string value;     // its bits, most significant first
    bool pending = false;  // changed in the time stamp not handed on yet
  };

  Use& use_of(vcd::IdCode code) {
    const std::uint32_t slot = codes_.insert(code, static_cast<std::uint32_t>(uses_.size()));
    if (slot == uses_.size()) uses_.emplace_back();
    return uses_[slot];
  }

  Visitor& visitor_;
  std::optional<std::uint64_t> start_;
  CodeIndex codes_;
  std::vector<Use> uses_;
  std::vector<Merged> buses_;
  std::vector<std::uint32_t> pending_;
  std::uint64_t pending_time_ = 0;
  bool stopped_ = false;  // the visitor stopped during a flush
};

}  // namespace quarnel

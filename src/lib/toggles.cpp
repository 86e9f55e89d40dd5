#include "src/lib/toggles.hpp"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>

#include "src/lib/held_change.hpp"
#include "src/lib/requested_changes.hpp"
#include "src/lib/value_equality.hpp"

namespace quarnel {

namespace {

// Whether a change repeats the one before it, converted as records are.
bool same_value(const ChangeView& a, const ChangeView& b, std::uint32_t width) {
  return same_toggle_value(change_value(a), change_value(b), width);
}

// The toggles of each distinct requested name within a stretch of the body;
// a visitor of the body walker that sums up the pieces of a body itself.
class ToggleCounter {
 public:
  struct Counter {
    std::uint32_t width;
    std::uint64_t count = 0;
    HeldChange first;  // the stretch's first value
    HeldChange last;
  };
  // The counters of one signal's changes, for a walk signal by signal. Of
  // packed values in a row it compares each with the one before as packed,
  // and writes out only the last, when the row or the signal's turn ends.
  class Signal {
   public:
    Signal(Counter* counters, const std::vector<std::uint32_t>& fed)
        : counters_(counters), first_(fed.data()), last_(fed.data() + fed.size()) {}
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    ~Signal() { settle(); }

    [[gnu::always_inline]] bool change(std::uint64_t /*time*/, const ChangeView& value) {
      settle();
      for (const std::uint32_t* i = first_; i != last_; ++i) count(counters_[*i], value);
      return true;
    }
    [[gnu::always_inline]] bool packed_bits(std::uint64_t /*time*/,
                                            std::span<const unsigned char> packed,
                                            std::uint32_t bits) {
      if (!packed_.empty()) {
        // Packed bits of one length are the same exactly when their bytes are.
        if (!std::ranges::equal(packed_, packed)) {
          for (const std::uint32_t* i = first_; i != last_; ++i) ++counters_[*i].count;
        }
        packed_ = packed;
        return true;
      }
      std::string letters;
      vcd::fst::append_bit_letters(packed, bits, letters);
      for (const std::uint32_t* i = first_; i != last_; ++i)
        count(counters_[*i], ChangeView::of_vector(letters));
      packed_ = packed;
      bits_ = bits;
      return true;
    }

   private:
    // Writes the last packed value into the counters.
    void settle() {
      if (packed_.empty()) return;
      for (const std::uint32_t* i = first_; i != last_; ++i)
        counters_[*i].last.hold_packed(packed_, bits_);
      packed_ = {};
    }

    Counter* counters_;
    const std::uint32_t* first_;
    const std::uint32_t* last_;
    std::span<const unsigned char> packed_;  // the last value taken, when packed
    std::uint32_t bits_ = 0;                 // its length
  };

  // `by_code` maps each code to the counters it feeds.
  ToggleCounter(const TargetMap& by_code, std::vector<Counter> counters)
      : by_code_(&by_code), counters_(std::move(counters)) {}

  const CodeIndex& codes() const { return by_code_->codes(); }
  [[gnu::always_inline]] const std::vector<std::uint32_t>* wanted(vcd::IdCode code) const {
    return by_code_->find(code);
  }
  [[gnu::always_inline]] bool change(std::uint64_t time, const vcd::cmd::Change& command,
                                     const std::vector<std::uint32_t>* fed) {
    return signal(fed).change(time, command.value);
  }
  // Each counter stands alone, so the changes may come signal by signal.
  Signal signal(const std::vector<std::uint32_t>* fed) { return {counters_.data(), *fed}; }

  ToggleCounter piece() const {
    std::vector<Counter> fresh;
    fresh.reserve(counters_.size());
    for (const Counter& counter : counters_) fresh.push_back(Counter{counter.width, 0, {}, {}});
    return {*by_code_, std::move(fresh)};
  }
  // The next stretch: its first value against the last one before it.
  bool join(ToggleCounter next) {
    for (std::size_t i = 0; i < counters_.size(); ++i) {
      Counter& counter = counters_[i];
      Counter& later = next.counters_[i];
      if (!later.first.set) continue;
      if (!counter.last.set) {
        counter.first = std::move(later.first);
      } else if (!same_value(counter.last.view(), later.first.view(), counter.width)) {
        ++counter.count;
      }
      counter.count += later.count;
      counter.last = std::move(later.last);
    }
    return true;
  }

  const std::vector<Counter>& counters() const { return counters_; }

 private:
  [[gnu::always_inline]] static void count(Counter& counter, const ChangeView& value) {
    // Bits of one length are the same exactly when they are alike.
    if (counter.last.bits_like(value)) {
      counter.count += counter.last.exchange_bits(value) ? 0 : 1;
      return;
    }
    if (!counter.last.set) {
      counter.first.hold(value);
    } else if (!same_value(counter.last.view(), value, counter.width)) {
      ++counter.count;
    }
    counter.last.hold(value);
  }

  const TargetMap* by_code_;
  std::vector<Counter> counters_;
};

}  // namespace

Result<std::vector<std::pair<std::string, std::uint64_t>>> count_toggles(
    const std::string& path, const std::vector<std::string>& signals, const Window& window,
    const CallContext& context) {
  auto request = request_signals(path, signals, VcdError::Kind::SignalsNotFound, context);
  if (!request) return std::unexpected(std::move(request.error()));

  // One counter per distinct name, fed by its code.
  const Dump& dump = request->dump;
  std::vector<ToggleCounter::Counter> counters;
  std::vector<std::string_view> names;
  TargetMap by_code;
  for (const Signal& signal : dump.signals) by_code.cover(signal.id_code);
  std::unordered_set<std::string_view> seen;
  for (const std::string& name : signals) {
    if (!seen.insert(name).second) continue;
    const Signal& signal = *dump.find(name);
    by_code.add(signal.id_code, static_cast<std::uint32_t>(counters.size()));
    counters.push_back({signal.width, 0, {}, {}});
    names.push_back(name);
  }

  ToggleCounter counter(by_code, std::move(counters));
  auto read = walk_body(dump, window, counter, context);
  if (!read) return std::unexpected(std::move(read.error()));

  std::vector<std::pair<std::string, std::uint64_t>> counts;
  counts.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i)
    counts.emplace_back(names[i], counter.counters()[i].count);
  return counts;
}

}  // namespace quarnel

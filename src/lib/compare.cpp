#include "src/lib/compare.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "src/lib/body_index.hpp"
#include "src/lib/body_walker.hpp"
#include "src/lib/code_index.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/held_change.hpp"
#include "src/lib/side_by_side.hpp"

namespace quarnel {

namespace {

// Hands each change of a wanted identifier code to its list; a visitor of
// the body walker. Given a time to hold until, it keeps only the last change
// of each list before that time, and hands those on as changes at that time
// once the walk reaches it (or ends): the first time of the timeline, which
// changes at that time share unless `held_apart`.
class Collector {
 public:
  Collector(SignalValues& values, const CodeIndex& lists, std::optional<std::uint64_t> hold_until,
            bool held_apart)
      : values_(values),
        lists_(lists),
        hold_until_(hold_until),
        holding_(hold_until.has_value()),
        held_apart_(held_apart) {
    if (holding_) held_.resize(values_.lists.size());
  }

  void timestamp(std::uint64_t time) {
    time_ = time;
    stamped_ = false;
  }

  const CodeIndex& codes() const { return lists_; }
  [[gnu::always_inline]] ChangeList* wanted(vcd::IdCode code) const {
    const std::uint32_t list = lists_.find(code);
    return list == CodeIndex::kNone ? nullptr : &values_.lists[list];
  }

  [[gnu::always_inline]] bool change(std::uint64_t /*time*/, const vcd::cmd::Change& command,
                                     ChangeList* list) {
    if (hold_until_) {
      // Once the time held until is reached, what comes before it again (in
      // a dump whose time goes back) is dropped, as before a window.
      if (time_ < *hold_until_) {
        if (holding_)
          held_[static_cast<std::size_t>(list - values_.lists.data())].hold(command.value);
        return true;
      }
      release_held();
    }
    // The current time goes on the timeline with its first wanted change.
    if (!stamped_) {
      stamp_ = values_.times.size();
      values_.times.push_back(time_);
      stamped_ = true;
    }
    list->add(stamp_, command.value);
    return true;
  }

  // Holds `value` for `list` as if the walk had met it before the window.
  void hold(std::uint32_t list, const HeldChange& value) { held_[list] = value; }

  // The held changes, as changes at the time held until; then nothing more
  // is held.
  void release_held() {
    if (!holding_) return;
    stamp_ = values_.times.size();
    values_.times.push_back(*hold_until_);
    for (std::size_t i = 0; i < held_.size(); ++i) {
      if (held_[i].set) values_.lists[i].add(stamp_, held_[i].view());
    }
    stamped_ = time_ == *hold_until_ && !held_apart_;
    holding_ = false;
    held_.clear();
  }

 private:
  SignalValues& values_;
  const CodeIndex& lists_;
  std::optional<std::uint64_t> hold_until_;
  bool holding_;                  // the time held until is not reached yet
  bool held_apart_;               // the held changes keep a time of their own
  std::vector<HeldChange> held_;  // per list, while holding
  std::uint64_t time_ = 0;
  std::uint64_t stamp_ = 0;
  bool stamped_ = false;  // whether time_ is on the timeline yet
};

// Merges the change lists of one signal in time order, appending a mismatch
// for every time at which the current values disagree. Returns how many
// were appended.
std::size_t compare_signal(std::string_view signal, const SignalChanges& first,
                           const SignalChanges& second, const ComparisonOptions& options,
                           std::vector<SignalMismatch>& mismatches) {
  ChangeReader reader1(first);
  ChangeReader reader2(second);
  PackedValue current1 = ChangeReader::start_value();
  PackedValue current2 = ChangeReader::start_value();
  std::size_t count = 0;
  while (!reader1.at_end() || !reader2.at_end()) {
    const std::uint64_t time = std::min(reader1.time(), reader2.time());
    // Changes at one time collapse into the last of them.
    for (; !reader1.at_end() && reader1.time() == time; reader1.advance())
      current1 = reader1.value();
    for (; !reader2.at_end() && reader2.time() == time; reader2.advance())
      current2 = reader2.value();

    if (values_agree(current1, current2)) continue;
    const bool unknown = is_unknown(current1) || is_unknown(current2);
    if (unknown && options.ignore_unknown) continue;
    mismatches.push_back(
        SignalMismatch{std::string(signal), time, unpack(current1), unpack(current2), unknown});
    ++count;
    if (options.max_mismatches && count >= *options.max_mismatches) break;
  }
  return count;
}

// Every change of `names` within the window, the body read as the context
// says; with `held_at_start`, first the last change of each before the
// window, at the first time of the timeline. `start_between_ticks`: the
// window's start, rounded up to these ticks, lay between two of them, so
// the held changes keep a time of their own.
Result<SignalValues> collect_signal_values(const Dump& dump, const std::vector<std::string>& names,
                                           const Window& window, bool held_at_start,
                                           bool start_between_ticks, const CallContext& context) {
  // One list per identifier code, so that a change lands once however many
  // names it feeds; undeclared names share the first list, which stays empty.
  SignalValues values;
  values.lists.emplace_back();
  values.list_of.reserve(names.size());
  CodeIndex lists;
  for (const Signal& signal : dump.signals) lists.cover(signal.id_code);
  for (const std::string& name : names) {
    std::uint32_t list = 0;
    if (const Signal* signal = dump.find(name)) {
      list = lists.insert(signal->id_code, static_cast<std::uint32_t>(values.lists.size()));
      if (list == values.lists.size()) values.lists.emplace_back();
    }
    values.list_of.push_back(list);
  }

  // Holding is reading from the start of the body, or from the last
  // snapshot of an index before the window.
  const bool hold = held_at_start && window.start;
  Collector collector(values, lists, hold ? window.start : std::nullopt, start_between_ticks);
  std::optional<Resume> from;
  if (hold && *window.start > 0) {
    if (const auto start = snapshot_start(dump, *window.start - 1, context)) {
      for (const Signal& signal : dump.signals) {
        const std::uint32_t list = lists.find(signal.id_code);
        const HeldChange* value = start->find(signal.id_code);
        if (list != CodeIndex::kNone && value != nullptr) collector.hold(list, *value);
      }
      from = start->from;
    }
  }
  auto read =
      walk_body(dump, hold ? Window{std::nullopt, window.end} : window, collector, context, from);
  if (!read) return std::unexpected(std::move(read.error()));
  collector.release_held();
  return values;
}

// The name lists of the result: common (in byte order), and in one file only
// (in that file's order).
void split_names(const Dump& dump1, const Dump& dump2, ComparisonResult& result) {
  for (const Signal& signal : dump1.signals) {
    if (signal.in_bus) continue;  // its bus stands for it
    auto& list = dump2.find(signal.name) ? result.common_signals : result.signals_only_in_file1;
    list.push_back(signal.name);
  }
  for (const Signal& signal : dump2.signals) {
    if (!signal.in_bus && !dump1.find(signal.name))
      result.signals_only_in_file2.push_back(signal.name);
  }
  // std::string orders by unsigned bytes.
  std::ranges::sort(result.common_signals);
}

// The common signals that `wanted` names, in their order; all of them when
// it is empty.
std::vector<std::string> select_signals(const std::vector<std::string>& common,
                                        const std::vector<std::string>& wanted) {
  if (wanted.empty()) return common;
  const std::unordered_set<std::string_view> names(wanted.begin(), wanted.end());
  std::vector<std::string> selected;
  for (const std::string& name : common) {
    if (names.contains(name)) selected.push_back(name);
  }
  return selected;
}

// Merges every selected signal, in order, into the result's mismatches.
// Names that share their lists in both files (aliases) share their
// mismatches too: the first of them is merged, the others copy its records.
void merge_signals(const std::vector<std::string>& selected, const SignalValues& values1,
                   const SignalValues& values2, const ComparisonOptions& options,
                   ComparisonResult& result) {
  struct Merged {
    std::size_t list2;
    std::size_t begin;
    std::size_t count;
  };
  std::vector<std::optional<Merged>> merged(values1.lists.size());
  const auto same_times = static_cast<std::size_t>(
      std::ranges::mismatch(values1.times, values2.times).in1 - values1.times.begin());
  for (std::size_t i = 0; i < selected.size(); ++i) {
    const std::size_t list1 = values1.list_of[i];
    const std::size_t list2 = values2.list_of[i];
    auto& earlier = merged[list1];
    std::size_t count = 0;
    if (earlier && earlier->list2 == list2) {
      count = earlier->count;
      for (std::size_t k = 0; k < count; ++k) {
        SignalMismatch copy = result.mismatches[earlier->begin + k];
        copy.signal = selected[i];
        result.mismatches.push_back(std::move(copy));
      }
    } else {
      const std::size_t begin = result.mismatches.size();
      if (!same_changes(values1.lists[list1], values2.lists[list2], same_times)) {
        count = compare_signal(selected[i], values1.changes_of(i), values2.changes_of(i), options,
                               result.mismatches);
      }
      if (!earlier) earlier = Merged{list2, begin, count};
    }
    if (count > 0) ++result.signals_with_mismatches;
  }
}

// An error of the second file, marked as such.
VcdError second_file(VcdError error) {
  error.input = VcdError::Input::second;
  return error;
}

// The text of a timescale, "1 ns", or "none".
std::string timescale_text(const std::optional<vcd::Timescale>& timescale) {
  if (!timescale) return "none";
  return std::to_string(timescale->magnitude) + " " + std::string(vcd::to_text(timescale->unit));
}

unsigned __int128 femtoseconds(const vcd::Timescale& timescale) {
  unsigned __int128 length = timescale.magnitude;
  for (auto unit = static_cast<int>(timescale.unit);
       unit < static_cast<int>(vcd::TimescaleUnit::Fs); ++unit) {
    length *= 1000;
  }
  return length;
}

// What the ticks of each dump are multiplied by so that their times meet:
// both 1 unless `units` asks for the finer timescale of two that differ.
Result<std::array<std::uint64_t, 2>> tick_factors(const Dump& dump1, const Dump& dump2,
                                                  TimeUnits units) {
  constexpr std::array<std::uint64_t, 2> kAsWritten{1, 1};
  const auto& timescale1 = dump1.timescale;
  const auto& timescale2 = dump2.timescale;
  if (units == TimeUnits::ticks || (!timescale1 && !timescale2)) return kAsWritten;
  const auto differ = [&](std::string_view why) {
    return std::unexpected(VcdError{
        VcdError::Kind::TimescalesDiffer,
        timescale_text(timescale1) + " and " + timescale_text(timescale2) + std::string(why),
        VcdError::Input::none});
  };
  if (!timescale1 || !timescale2) return differ("");
  const unsigned __int128 length1 = femtoseconds(*timescale1);
  const unsigned __int128 length2 = femtoseconds(*timescale2);
  if (length1 == length2) return kAsWritten;
  if (units == TimeUnits::same) return differ("");
  const auto [fine, coarse] = std::minmax(length1, length2);
  if (fine == 0 || coarse % fine != 0 ||
      coarse / fine > std::numeric_limits<std::uint64_t>::max()) {
    return differ(", without an exact common unit");
  }
  const auto factor = static_cast<std::uint64_t>(coarse / fine);
  if (length1 > length2) return std::array<std::uint64_t, 2>{factor, 1};
  return std::array<std::uint64_t, 2>{1, factor};
}

// The window, given in the finer unit, in ticks `factor` times as long:
// exactly the ticks whose times lie in it.
Window window_in_ticks(const Window& window, std::uint64_t factor) {
  Window ticks;
  if (window.start) ticks.start = *window.start / factor + (*window.start % factor != 0 ? 1 : 0);
  if (window.end) ticks.end = *window.end / factor;
  return ticks;
}

// Turns the ticks of a file's timeline into times of the finer unit; an
// error when one of them does not fit in 64 bits.
Result<void> scale_times(Timeline& times, std::uint64_t factor, VcdError::Input input) {
  if (factor == 1) return {};
  for (std::uint64_t& time : times) {
    if (time > std::numeric_limits<std::uint64_t>::max() / factor) {
      return std::unexpected(VcdError{VcdError::Kind::TimeOverflow,
                                      std::to_string(time) + " * " + std::to_string(factor),
                                      input});
    }
    time *= factor;
  }
  return {};
}

}  // namespace

Result<ComparisonResult> compare_vcd_files(const std::string& file1, const std::string& file2,
                                           const ComparisonOptions& options,
                                           const CallContext& context) {
  auto dump1 = open_dump(file1, context);
  if (!dump1) return std::unexpected(std::move(dump1.error()));
  auto dump2 = open_dump(file2, context);
  if (!dump2) return std::unexpected(second_file(std::move(dump2.error())));
  const auto factors = tick_factors(*dump1, *dump2, options.units);
  if (!factors) return std::unexpected(factors.error());

  ComparisonResult result{};
  result.file1 = file1;
  result.file2 = file2;
  split_names(*dump1, *dump2, result);
  const std::vector<std::string> selected = select_signals(result.common_signals, options.signals);

  // Both files are read at once, each with half the threads. A window that
  // ends before it starts holds nothing; one between two ticks of a file
  // still holds that file's values.
  const Window& window = options.window;
  const bool hold =
      options.held_at_start && window.start && (!window.end || *window.start <= *window.end);
  const Window window1 = window_in_ticks(window, (*factors)[0]);
  const Window window2 = window_in_ticks(window, (*factors)[1]);
  const auto between = [&](std::uint64_t factor) { return hold && *window.start % factor != 0; };
  const auto half = [&](const vcd::Interrupt* stop) {
    CallContext each = context;
    each.interrupt = stop;
    each.settings.threads = std::max(1U, context.settings.threads / 2);
    return each;
  };
  auto [values1, values2] = side_by_side(
      [&](const vcd::Interrupt* stop) {
        return collect_signal_values(*dump1, selected, window1, hold, between((*factors)[0]),
                                     half(stop));
      },
      [&](const vcd::Interrupt* stop) {
        return collect_signal_values(*dump2, selected, window2, hold, between((*factors)[1]),
                                     half(stop));
      },
      context.interrupt);
  if (!values1) return std::unexpected(std::move(values1.error()));
  if (!values2) return std::unexpected(second_file(std::move(values2.error())));
  if (auto scaled = scale_times(values1->times, (*factors)[0], VcdError::Input::first); !scaled) {
    return std::unexpected(std::move(scaled.error()));
  }
  if (auto scaled = scale_times(values2->times, (*factors)[1], VcdError::Input::second); !scaled) {
    return std::unexpected(std::move(scaled.error()));
  }
  // The values a coarser file holds at a start between its ticks, at that
  // start rather than at its next tick.
  if (between((*factors)[0])) values1->times.front() = *window.start;
  if (between((*factors)[1])) values2->times.front() = *window.start;

  merge_signals(selected, *values1, *values2, options, result);
  result.total_mismatches = result.mismatches.size();
  result.passed = result.mismatches.empty();
  return result;
}

}  // namespace quarnel

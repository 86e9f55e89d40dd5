// Two dumps compared signal by signal and time by time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "src/lib/change_value.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

struct ComparisonOptions {
  // Per signal: its comparison stops once this many mismatches are recorded
  // (0 still records one). Absent: no limit.
  std::optional<std::size_t> max_mismatches;
  std::vector<std::string> signals;  // restricts the comparison; empty: every common signal
  bool ignore_unknown = false;       // an unknown value on either side is never a mismatch
  std::optional<std::uint64_t> start;
  std::optional<std::uint64_t> end;
};

struct SignalMismatch {
  std::string signal;
  std::uint64_t time;
  ChangeValue value1;  // the first file's current value
  ChangeValue value2;  // the second file's current value
  bool is_unknown;     // either value is unknown
};

struct ComparisonResult {
  bool passed;  // no mismatch recorded
  std::string file1;
  std::string file2;
  std::vector<std::string> common_signals;         // byte order; not restricted by `signals`
  std::vector<std::string> signals_only_in_file1;  // declaration order
  std::vector<std::string> signals_only_in_file2;  // declaration order
  std::uint64_t total_mismatches;
  std::uint64_t signals_with_mismatches;
  std::vector<SignalMismatch> mismatches;  // compared signals in order, each in merge order
};

struct Change {
  std::uint64_t time;
  ChangeValue value;
};

// The changes of one signal in one file, in file order. A signal mostly
// repeats a few values (a clock has two), so each of its first few distinct
// values is stored once and its changes refer to it by position.
class ChangeList {
 public:
  ChangeList() = default;
  ChangeList(std::initializer_list<Change> changes) {
    for (const Change& change : changes) add(change.time, ChangeValue(change.value));
  }

  void add(std::uint64_t time, ChangeValue&& value);
  std::size_t size() const { return times_.size(); }
  std::uint64_t time(std::size_t i) const { return times_[i]; }
  const ChangeValue& value(std::size_t i) const { return values_[value_of_[i]]; }

 private:
  // How many distinct values are looked up before new ones are simply kept.
  static constexpr std::size_t kShared = 8;
  std::vector<std::uint64_t> times_;
  std::vector<std::uint32_t> value_of_;
  std::vector<ChangeValue> values_;
};

using ValueMap = std::unordered_map<std::string, ChangeList>;  // by full name

// A one-byte text "x", "X", "z" or "Z"; the start value of every signal.
bool is_unknown(const ChangeValue& value);

// Integers by number, reals by bit pattern, texts byte by byte up to ASCII
// case, values of different kinds by their normalised texts.
bool values_agree(const ChangeValue& a, const ChangeValue& b);

// Merges the change lists of one signal in time order, appending a mismatch
// for every time at which the current values disagree. Returns how many
// were appended.
std::size_t compare_signal(std::string_view signal, const ChangeList& first,
                           const ChangeList& second, const ComparisonOptions& options,
                           std::vector<SignalMismatch>& mismatches);

// Every change of `names` within [start, end], one entry per distinct name;
// names the file does not declare get an empty list.
Result<ValueMap> collect_signal_values(const std::string& path, const HeaderInfo& header,
                                       const std::vector<std::string>& names,
                                       std::optional<std::uint64_t> start,
                                       std::optional<std::uint64_t> end,
                                       const vcd::Interrupt* interrupt = nullptr);

// Errors in the order first header, second header, first body, second body.
Result<ComparisonResult> compare_vcd_files(const std::string& file1, const std::string& file2,
                                           const ComparisonOptions& options,
                                           const vcd::Interrupt* interrupt = nullptr);

}  // namespace quarnel

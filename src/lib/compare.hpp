// Two dumps compared signal by signal and time by time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "src/lib/change_value.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/interrupt.hpp"
#include "vcd/value.hpp"

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

// The times of the timestamps at which a file's collected changes happened,
// in file order; a change refers to its timestamp by position.
using Timeline = std::vector<std::uint64_t>;

// The changes of one signal in one file, in file order, packed into bytes:
// per change how many timestamps of the timeline on from the previous change
// (a varint), then the value as one tag byte and its payload. A scalar is
// its tag alone, an integer a varint, a real its 8 bytes, a text its length
// and bytes. Identical values pack to identical bytes.
class ChangeList {
 public:
  // `stamp` is the change's position in the timeline, never less than that
  // of the change before.
  void add(std::uint64_t stamp, const ChangeValue& value);
  void add_scalar(std::uint64_t stamp, vcd::Value value);
  void add_vector(std::uint64_t stamp, std::string_view bits);  // "0", "1", "x", "z" per bit
  void add_real(std::uint64_t stamp, double value);
  void add_string(std::uint64_t stamp, std::string_view text);

  std::span<const unsigned char> bytes() const { return {bytes_.get(), size_}; }
  std::uint64_t last_stamp() const { return last_stamp_; }
  // Every change unpacked, in order, with its time from `times`.
  std::vector<Change> changes(const Timeline& times) const;

 private:
  // Appends the step to `stamp`, then what `write` (unsigned char* -> end of
  // what it wrote) puts after it, at most `payload` bytes.
  template <class Write>
  void append(std::uint64_t stamp, std::size_t payload, Write write);
  void grow(std::size_t room);
  template <class T>
  void add_integer(std::uint64_t stamp, T value);
  void add_text(std::uint64_t stamp, unsigned char tag, std::string_view text);

  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::uint64_t last_stamp_ = 0;
};

// One signal's changes in one file, with the timeline they refer to.
struct SignalChanges {
  const ChangeList& list;
  const Timeline& times;
};

// The changes of the requested names in one file, one list per identifier
// code: names that share a code (aliases) share a list.
struct SignalValues {
  Timeline times;
  std::vector<ChangeList> lists;
  std::vector<std::size_t> list_of;  // per requested name; undeclared names get an empty list

  SignalChanges changes_of(std::size_t name) const { return {lists[list_of[name]], times}; }
};

// Merges the change lists of one signal in time order, appending a mismatch
// for every time at which the current values disagree. Returns how many
// were appended.
std::size_t compare_signal(std::string_view signal, const SignalChanges& first,
                           const SignalChanges& second, const ComparisonOptions& options,
                           std::vector<SignalMismatch>& mismatches);

// Every change of `names` within [start, end].
Result<SignalValues> collect_signal_values(const std::string& path, const HeaderInfo& header,
                                           const std::vector<std::string>& names,
                                           std::optional<std::uint64_t> start,
                                           std::optional<std::uint64_t> end,
                                           const vcd::Interrupt* interrupt = nullptr);

// Errors in the order first header, second header, first body, second body.
Result<ComparisonResult> compare_vcd_files(const std::string& file1, const std::string& file2,
                                           const ComparisonOptions& options,
                                           const vcd::Interrupt* interrupt = nullptr);

}  // namespace quarnel

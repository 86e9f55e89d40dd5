// The changes of chosen signals as columns: the records of extraction laid
// out in record batches of bounded size, each column one contiguous buffer,
// ready to be handed out without a copy.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/change_value.hpp"
#include "src/lib/requested_changes.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// A column of 64-bit numbers where some rows have none: `valid` holds one
// bit per row, least significant first, and a row without a number holds 0.
// A column without any number keeps no values at all (see zero_values).
template <class T>
struct NullableColumn {
  std::vector<T> values;
  std::vector<std::uint8_t> valid;
  std::size_t rows = 0;
  std::int64_t nulls = 0;

  void push(std::optional<T> value);
};

// The most rows a batch holds.
inline constexpr std::size_t kMaxBatchRows = std::size_t{1} << 16;
// kMaxBatchRows zero values, the values of a column that has none.
const std::uint64_t* zero_values();

// One record batch: row i is the change of signal names[signal[i]] at
// time[i], its text value_data[value_offsets[i], value_offsets[i + 1]).
struct ChangeBatch {
  std::vector<std::uint64_t> time;
  std::vector<std::int32_t> signal;
  std::vector<std::int32_t> value_offsets{0};
  std::string value_data;
  // The number of bits of 0 and 1 whose value fits in 64 bits.
  NullableColumn<std::uint64_t> integer;
  // The value of a real change.
  NullableColumn<double> real;

  std::size_t rows() const { return time.size(); }
};

struct ChangeTable {
  // The names the signal column stands for, each once, in the order asked.
  std::vector<std::string> names;
  std::vector<ChangeBatch> batches;
};

// Limits of one batch: a batch ends after this many rows, or once its value
// texts reach this many bytes (so that their 32-bit offsets cannot overflow).
struct BatchLimits {
  std::size_t rows = kMaxBatchRows;  // at most that
  std::size_t value_bytes = std::size_t{1} << 26;
};

// Fills the columns from the changes that walk_requested hands on.
class ChangeTableBuilder {
 public:
  ChangeTableBuilder(const std::vector<std::string>& requests, BatchLimits limits);

  bool operator()(const std::vector<std::uint32_t>& requests, std::uint64_t time,
                  const ChangeView& view);
  ChangeTable finish() &&;

 private:
  ChangeBatch& batch_for(std::size_t value_bytes);

  BatchLimits limits_;
  ChangeTable table_;
  // The position in table_.names of each request.
  std::vector<std::int32_t> name_of_request_;
  std::string scratch_;
};

// The records of extract_changes as a table: the same rows, in the same
// order, with the same errors.
Result<ChangeTable> extract_table(const std::string& path, const std::vector<std::string>& signals,
                                  const Window& window, const CallContext& context = {},
                                  BatchLimits limits = {});

}  // namespace quarnel

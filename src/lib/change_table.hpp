// The changes of chosen signals as columns: the records of extraction laid
// out in record batches of bounded size, each column one contiguous buffer,
// ready to be handed out without a copy.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/lib/change_value.hpp"
#include "src/lib/vcd_error.hpp"

namespace quarnel {

// One bit per row, least significant first: set where the row has a value.
struct Validity {
  std::vector<std::uint8_t> bits;
  std::int64_t nulls = 0;
};

// The typed columns of a batch, integer and real, in one buffer: a row has
// at most one of the two, so each row has one 8-byte slot, holding the
// integer or the bits of the real, and each column a validity bitmap of its
// own. Both columns point into the one buffer; a null slot of either column
// holds 0, as the Arrow format allows. While no row has a number, the
// buffer stays empty (see zero_values).
struct NumberColumns {
  std::vector<std::uint64_t> slots;
  Validity integer;
  Validity real;
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
  // The number of bits of 0 and 1 whose value fits in 64 bits, and the
  // value of a real change.
  NumberColumns numbers;

  std::size_t rows() const { return time.size(); }
};

// Limits of one batch: a batch ends after this many rows, or once its value
// texts reach this many bytes (so that their 32-bit offsets cannot overflow).
struct BatchLimits {
  std::size_t rows = kMaxBatchRows;  // at most that
  std::size_t value_bytes = std::size_t{1} << 26;
};

// Fills batches from the changes that walk_requested hands on, and hands
// each on to `deliver` once it is full; finish() hands on the last one.
class ChangeTableBuilder {
 public:
  // Takes a full batch; returns false to stop the read.
  using Deliver = std::function<bool(ChangeBatch&&)>;

  ChangeTableBuilder(const std::vector<std::string>& requests, BatchLimits limits, Deliver deliver);

  // The names the signal column stands for, each once, in the order asked.
  const std::vector<std::string>& names() const { return names_; }

  bool operator()(const std::vector<std::uint32_t>& requests, std::uint64_t time,
                  const ChangeView& view);
  // Hands on the batch being filled, if it holds a row.
  bool finish();
  // Whether the read stopped at a value that no batch can hold.
  bool too_long() const { return too_long_; }

 private:
  // Makes room for a row whose value text has `value_bytes`: hands on the
  // batch being filled when it is full, and gives a new batch its room.
  bool room_for(std::size_t value_bytes);
  void add_row(std::uint64_t time, std::int32_t signal, std::string_view text,
               const std::uint64_t* number, bool is_real);

  BatchLimits limits_;
  Deliver deliver_;
  std::vector<std::string> names_;
  // The position in names_ of each request.
  std::vector<std::int32_t> name_of_request_;
  // The batch being filled: its columns have their whole room from the
  // start, sized to it at hand-over; rows_ and value_bytes_ say how much of
  // it holds rows.
  ChangeBatch batch_;
  std::size_t rows_ = 0;
  std::size_t value_bytes_ = 0;
  std::string scratch_;
  bool too_long_ = false;
};

// The error of a read that met a value too long for a table.
VcdError value_too_long_error();

}  // namespace quarnel

#include "src/lib/change_table.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>

namespace quarnel {

const std::uint64_t* zero_values() {
  static const std::vector<std::uint64_t> zeros(kMaxBatchRows);
  return zeros.data();
}

ChangeTableBuilder::ChangeTableBuilder(const std::vector<std::string>& requests, BatchLimits limits,
                                       Deliver deliver)
    : limits_(limits), deliver_(std::move(deliver)) {
  limits_.rows = std::min(limits_.rows, kMaxBatchRows);
  std::unordered_map<std::string_view, std::int32_t> seen;
  name_of_request_.reserve(requests.size());
  for (const std::string& name : requests) {
    const auto [at, added] = seen.try_emplace(name, static_cast<std::int32_t>(seen.size()));
    if (added) names_.push_back(name);
    name_of_request_.push_back(at->second);
  }
}

bool ChangeTableBuilder::room_for(std::size_t value_bytes) {
  if (rows_ == limits_.rows || (rows_ > 0 && value_bytes_ + value_bytes > limits_.value_bytes)) {
    if (!finish()) return false;
  }
  if (batch_.time.empty()) {
    // A batch is given its whole room at once: growing it by doubling would
    // leave the freed halves to the allocator, as resident memory that the
    // held table does not use. finish() gives back what was not used.
    const std::size_t rows = limits_.rows;
    batch_.time.resize(rows);
    batch_.signal.resize(rows);
    batch_.value_offsets.resize(rows + 1);
    batch_.value_data.resize(std::max(rows, value_bytes));
    batch_.numbers.integer.bits.resize((rows + 7) / 8);
    batch_.numbers.real.bits.resize((rows + 7) / 8);
  }
  if (value_bytes_ + value_bytes > batch_.value_data.size()) {
    batch_.value_data.resize(std::max(2 * batch_.value_data.size(), value_bytes_ + value_bytes));
  }
  return true;
}

void ChangeTableBuilder::add_row(std::uint64_t time, std::int32_t signal, std::string_view text,
                                 const std::uint64_t* number, bool is_real) {
  const std::size_t row = rows_++;
  batch_.time[row] = time;
  batch_.signal[row] = signal;
  std::memcpy(batch_.value_data.data() + value_bytes_, text.data(), text.size());
  value_bytes_ += text.size();
  batch_.value_offsets[row + 1] = static_cast<std::int32_t>(value_bytes_);
  if (number == nullptr) return;
  NumberColumns& numbers = batch_.numbers;
  if (numbers.slots.empty()) numbers.slots.resize(limits_.rows);  // zeros: the nulls so far
  numbers.slots[row] = *number;
  std::vector<std::uint8_t>& bits = is_real ? numbers.real.bits : numbers.integer.bits;
  bits[row / 8] = static_cast<std::uint8_t>(bits[row / 8] | (1U << (row % 8)));
}

bool ChangeTableBuilder::operator()(const std::vector<std::uint32_t>& requests, std::uint64_t time,
                                    const ChangeView& view) {
  // The value text as extraction gives it, and the typed value.
  std::string_view text;
  std::uint64_t number = 0;
  bool has_number = false;
  char digits[kMaxDecimalDigits];
  switch (view.kind) {
    case ChangeView::Kind::Scalar:
      text = vcd::to_text(view.scalar);
      has_number = vcd::is_binary(view.scalar);
      number = view.scalar == vcd::Value::One ? 1 : 0;
      break;
    case ChangeView::Kind::Vector: {
      u128 wide = 0;
      if (binary_vector_value(view.text, wide)) {
        text = {digits, write_decimal(wide, digits)};
        has_number = wide >> 64 == 0;
        number = static_cast<std::uint64_t>(wide);
      } else {
        text = view.text;
      }
      break;
    }
    case ChangeView::Kind::Real:
      scratch_ = real_display_text(view.real);
      text = scratch_;
      number = std::bit_cast<std::uint64_t>(view.real);
      has_number = true;
      break;
    case ChangeView::Kind::String: text = view.text; break;
  }
  // A text that no 32-bit offset can reach cannot be a row.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) / 2) {
    too_long_ = true;
    return false;
  }
  const bool is_real = view.kind == ChangeView::Kind::Real;
  for (const std::uint32_t request : requests) {
    if (!room_for(text.size())) return false;
    add_row(time, name_of_request_[request], text, has_number ? &number : nullptr, is_real);
  }
  return true;
}

namespace {

// Counts the unset bits of the first `rows` bits of a validity bitmap.
std::int64_t count_nulls(const std::vector<std::uint8_t>& bits, std::size_t rows) {
  std::size_t set = 0;
  for (std::size_t i = 0; i < rows / 8; ++i)
    set += static_cast<std::size_t>(std::popcount(bits[i]));
  if (rows % 8 != 0) {
    set += static_cast<std::size_t>(
        std::popcount(static_cast<std::uint8_t>(bits[rows / 8] & ((1U << (rows % 8)) - 1))));
  }
  return static_cast<std::int64_t>(rows - set);
}

}  // namespace

bool ChangeTableBuilder::finish() {
  if (rows_ == 0) return true;
  ChangeBatch full = std::exchange(batch_, ChangeBatch{});
  const std::size_t rows = std::exchange(rows_, 0);
  full.value_data.resize(std::exchange(value_bytes_, 0));
  full.value_data.shrink_to_fit();
  full.time.resize(rows);
  full.signal.resize(rows);
  full.value_offsets.resize(rows + 1);
  NumberColumns& numbers = full.numbers;
  numbers.integer.nulls = count_nulls(numbers.integer.bits, rows);
  numbers.real.nulls = count_nulls(numbers.real.bits, rows);
  numbers.integer.bits.resize((rows + 7) / 8);
  numbers.real.bits.resize((rows + 7) / 8);
  if (!numbers.slots.empty()) numbers.slots.resize(rows);
  if (rows < limits_.rows) {  // the last batch: no slack kept
    full.time.shrink_to_fit();
    full.signal.shrink_to_fit();
    full.value_offsets.shrink_to_fit();
    numbers.slots.shrink_to_fit();
    numbers.integer.bits.shrink_to_fit();
    numbers.real.bits.shrink_to_fit();
  }
  return deliver_(std::move(full));
}

VcdError value_too_long_error() { return {VcdError::Kind::Io, "value too long for a table"}; }

}  // namespace quarnel

#include "src/lib/change_table.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <unordered_map>
#include <utility>

namespace quarnel {

void NumberColumns::push(std::optional<std::uint64_t> integer, std::optional<double> real) {
  if (rows % 8 == 0) {
    this->integer.bits.push_back(0);
    this->real.bits.push_back(0);
  }
  const auto mark = [this](Validity& column, bool valid) {
    if (valid) {
      column.bits.back() = static_cast<std::uint8_t>(column.bits.back() | (1U << (rows % 8)));
    } else {
      ++column.nulls;
    }
  };
  mark(this->integer, integer.has_value());
  mark(this->real, real.has_value());
  if (integer || real) {
    if (slots.size() < rows) {
      // The room of the other columns (see start_batch_for).
      slots.reserve(std::max(this->integer.bits.capacity() * 8, rows + 1));
      slots.resize(rows);
    }
    slots.push_back(integer ? *integer : std::bit_cast<std::uint64_t>(*real));
  } else if (!slots.empty()) {
    slots.push_back(0);
  }
  ++rows;
}

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

bool ChangeTableBuilder::start_batch_for(std::size_t value_bytes) {
  const bool full =
      batch_.rows() >= limits_.rows ||
      (batch_.rows() > 0 && batch_.value_data.size() + value_bytes > limits_.value_bytes);
  if (full && !finish()) return false;
  if (batch_.rows() == 0) {
    // A batch is given its whole room at once: growing it by doubling would
    // leave the freed halves to the allocator, as resident memory that the
    // held table does not use. The last batch gives back what it did not.
    batch_.time.reserve(limits_.rows);
    batch_.signal.reserve(limits_.rows);
    batch_.value_offsets.reserve(limits_.rows + 1);
    batch_.value_data.reserve(limits_.rows);
    batch_.numbers.integer.bits.reserve((limits_.rows + 7) / 8);
    batch_.numbers.real.bits.reserve((limits_.rows + 7) / 8);
  }
  return true;
}

bool ChangeTableBuilder::operator()(const std::vector<std::uint32_t>& requests, std::uint64_t time,
                                    const ChangeView& view) {
  // The value text as extraction gives it, and the typed values.
  std::string_view text;
  std::optional<std::uint64_t> integer;
  std::optional<double> real;
  char digits[kMaxDecimalDigits];
  switch (view.kind) {
    case ChangeView::Kind::Scalar:
      text = vcd::to_text(view.scalar);
      if (vcd::is_binary(view.scalar)) integer = view.scalar == vcd::Value::One ? 1 : 0;
      break;
    case ChangeView::Kind::Vector: {
      u128 number = 0;
      if (binary_vector_value(view.text, number)) {
        text = {digits, write_decimal(number, digits)};
        if (number >> 64 == 0) integer = static_cast<std::uint64_t>(number);
      } else {
        text = view.text;
      }
      break;
    }
    case ChangeView::Kind::Real:
      scratch_ = real_display_text(view.real);
      text = scratch_;
      real = view.real;
      break;
    case ChangeView::Kind::String: text = view.text; break;
  }
  // A text that no 32-bit offset can reach cannot be a row.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) / 2) {
    too_long_ = true;
    return false;
  }
  for (const std::uint32_t request : requests) {
    if (!start_batch_for(text.size())) return false;
    batch_.time.push_back(time);
    batch_.signal.push_back(name_of_request_[request]);
    batch_.value_data.append(text);
    batch_.value_offsets.push_back(static_cast<std::int32_t>(batch_.value_data.size()));
    batch_.numbers.push(integer, real);
  }
  return true;
}

bool ChangeTableBuilder::finish() {
  if (batch_.rows() == 0) return true;
  ChangeBatch full = std::exchange(batch_, ChangeBatch{});
  full.value_data.shrink_to_fit();
  if (full.rows() < limits_.rows) {  // the last batch: no slack kept
    full.time.shrink_to_fit();
    full.signal.shrink_to_fit();
    full.value_offsets.shrink_to_fit();
    full.numbers.slots.shrink_to_fit();
  }
  return deliver_(std::move(full));
}

VcdError value_too_long_error() { return {VcdError::Kind::Io, "value too long for a table"}; }

}  // namespace quarnel

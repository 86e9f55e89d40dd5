#include "src/lib/change_table.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <unordered_map>
#include <utility>

#include "src/lib/extract.hpp"

namespace quarnel {

template <class T>
void NullableColumn<T>::push(std::optional<T> value) {
  if (rows % 8 == 0) valid.push_back(0);
  if (value) {
    if (values.size() < rows) {
      // Capacities stay powers of two, as those of the other columns, so a
      // full batch holds no slack.
      values.reserve(std::bit_ceil(rows + 1));
      values.resize(rows);
    }
    values.push_back(*value);
    valid.back() = static_cast<std::uint8_t>(valid.back() | (1U << (rows % 8)));
  } else {
    if (!values.empty()) values.push_back(T{});
    ++nulls;
  }
  ++rows;
}

const std::uint64_t* zero_values() {
  static const std::vector<std::uint64_t> zeros(kMaxBatchRows);
  return zeros.data();
}

template struct NullableColumn<std::uint64_t>;
template struct NullableColumn<double>;

ChangeTableBuilder::ChangeTableBuilder(const std::vector<std::string>& requests, BatchLimits limits)
    : limits_(limits) {
  limits_.rows = std::min(limits_.rows, kMaxBatchRows);
  std::unordered_map<std::string_view, std::int32_t> seen;
  name_of_request_.reserve(requests.size());
  for (const std::string& name : requests) {
    const auto [at, added] = seen.try_emplace(name, static_cast<std::int32_t>(seen.size()));
    if (added) table_.names.push_back(name);
    name_of_request_.push_back(at->second);
  }
}

ChangeBatch& ChangeTableBuilder::batch_for(std::size_t value_bytes) {
  if (table_.batches.empty() || table_.batches.back().rows() >= limits_.rows ||
      (table_.batches.back().rows() > 0 &&
       table_.batches.back().value_data.size() + value_bytes > limits_.value_bytes)) {
    if (!table_.batches.empty()) table_.batches.back().value_data.shrink_to_fit();
    table_.batches.emplace_back();
  }
  return table_.batches.back();
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
    return false;
  }
  for (const std::uint32_t request : requests) {
    ChangeBatch& batch = batch_for(text.size());
    batch.time.push_back(time);
    batch.signal.push_back(name_of_request_[request]);
    batch.value_data.append(text);
    batch.value_offsets.push_back(static_cast<std::int32_t>(batch.value_data.size()));
    batch.integer.push(integer);
    batch.real.push(real);
  }
  return true;
}

ChangeTable ChangeTableBuilder::finish() && {
  if (!table_.batches.empty()) {
    ChangeBatch& last = table_.batches.back();
    last.time.shrink_to_fit();
    last.signal.shrink_to_fit();
    last.value_offsets.shrink_to_fit();
    last.value_data.shrink_to_fit();
    last.integer.values.shrink_to_fit();
    last.real.values.shrink_to_fit();
  }
  return std::move(table_);
}

Result<ChangeTable> extract_table(const std::string& path, const std::vector<std::string>& signals,
                                  const Window& window, const CallContext& context,
                                  BatchLimits limits) {
  ChangeTableBuilder builder(signals, limits);
  bool too_long = false;
  auto read = extract_changes(
      path, signals, window,
      [&](const std::vector<std::uint32_t>& requests, std::uint64_t time, const ChangeView& view) {
        too_long = !builder(requests, time, view);
        return !too_long;
      },
      context);
  if (!read) return std::unexpected(std::move(read.error()));
  if (too_long) return std::unexpected(VcdError{VcdError::Kind::Io, "value too long for a table"});
  return std::move(builder).finish();
}

}  // namespace quarnel

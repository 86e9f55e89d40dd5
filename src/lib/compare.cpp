#include "src/lib/compare.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <unordered_set>
#include <utility>

#include "src/lib/header_pass.hpp"
#include "src/lib/normalize.hpp"
#include "src/lib/side_by_side.hpp"
#include "src/lib/value_stream.hpp"

namespace quarnel {

namespace {

// A change stamped with this time is never applied or compared.
constexpr std::uint64_t kNoTime = std::numeric_limits<std::uint64_t>::max();

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return ascii_lower(x) == ascii_lower(y);
         });
}

const ChangeList& changes_of(const ValueMap& values, const std::string& name) {
  static const ChangeList kNone;
  const auto it = values.find(name);
  return it == values.end() ? kNone : it->second;
}

}  // namespace

void ChangeList::add(std::uint64_t time, ChangeValue&& value) {
  // Identical to the bit: same kind, same number, same bit pattern, same text.
  const auto same = [&value](const ChangeValue& kept) {
    if (kept.value.index() != value.value.index()) return false;
    if (const auto* real = std::get_if<double>(&kept.value)) {
      return std::bit_cast<std::uint64_t>(*real) ==
             std::bit_cast<std::uint64_t>(std::get<double>(value.value));
    }
    return kept.value == value.value;
  };
  const auto shared =
      values_.begin() + static_cast<std::ptrdiff_t>(std::min(values_.size(), kShared));
  const auto found = std::find_if(values_.begin(), shared, same);
  if (found != shared) {
    value_of_.push_back(static_cast<std::uint32_t>(found - values_.begin()));
  } else {
    value_of_.push_back(static_cast<std::uint32_t>(values_.size()));
    values_.push_back(std::move(value));
  }
  times_.push_back(time);
}

bool is_unknown(const ChangeValue& value) {
  const auto* text = std::get_if<std::string>(&value.value);
  if (text == nullptr || text->size() != 1) return false;
  const char c = (*text)[0];
  return c == 'x' || c == 'X' || c == 'z' || c == 'Z';
}

bool values_agree(const ChangeValue& a, const ChangeValue& b) {
  if (a.value.index() != b.value.index()) return normalize_value(a) == normalize_value(b);
  if (const auto* number = std::get_if<u128>(&a.value)) return *number == std::get<u128>(b.value);
  if (const auto* real = std::get_if<double>(&a.value)) {
    return std::bit_cast<std::uint64_t>(*real) ==
           std::bit_cast<std::uint64_t>(std::get<double>(b.value));
  }
  return equal_ignoring_ascii_case(std::get<std::string>(a.value), std::get<std::string>(b.value));
}

std::size_t compare_signal(std::string_view signal, const ChangeList& first,
                           const ChangeList& second, const ComparisonOptions& options,
                           std::vector<SignalMismatch>& mismatches) {
  static const ChangeValue kStartValue{std::string("x")};
  const ChangeValue* current1 = &kStartValue;
  const ChangeValue* current2 = &kStartValue;
  std::size_t i1 = 0;
  std::size_t i2 = 0;
  std::size_t count = 0;
  while (i1 < first.size() || i2 < second.size()) {
    const std::uint64_t time = std::min(i1 < first.size() ? first.time(i1) : kNoTime,
                                        i2 < second.size() ? second.time(i2) : kNoTime);
    if (time == kNoTime) break;
    // Changes at one time collapse into the last of them.
    for (; i1 < first.size() && first.time(i1) == time; ++i1) current1 = &first.value(i1);
    for (; i2 < second.size() && second.time(i2) == time; ++i2) current2 = &second.value(i2);

    const bool unknown = is_unknown(*current1) || is_unknown(*current2);
    if (unknown && options.ignore_unknown) continue;
    if (values_agree(*current1, *current2)) continue;
    mismatches.push_back(SignalMismatch{std::string(signal), time, *current1, *current2, unknown});
    ++count;
    if (options.max_mismatches && count >= *options.max_mismatches) break;
  }
  return count;
}

Result<ValueMap> collect_signal_values(const std::string& path, const HeaderInfo& header,
                                       const std::vector<std::string>& names,
                                       std::optional<std::uint64_t> start,
                                       std::optional<std::uint64_t> end,
                                       const vcd::Interrupt* interrupt) {
  // Each distinct name is requested once, so every change lands in its list once.
  std::vector<std::string> distinct;
  std::unordered_set<std::string_view> seen;
  for (const std::string& name : names) {
    if (seen.insert(name).second) distinct.push_back(name);
  }
  // Undeclared names are no error here; they just collect nothing.
  auto request = build_target_map(header, distinct);
  auto stream = open_value_stream(path, header.body_offset, distinct, std::move(request.targets),
                                  start, end, interrupt);
  if (!stream) return std::unexpected(std::move(stream.error()));

  std::vector<ChangeList> lists(distinct.size());
  auto read = stream->run([&](TimeValue&& record) {
    lists[record.request].add(record.time, std::move(record.value));
    return true;
  });
  if (!read) return std::unexpected(std::move(read.error()));

  ValueMap values;
  values.reserve(distinct.size());
  for (std::size_t i = 0; i < distinct.size(); ++i)
    values.emplace(distinct[i], std::move(lists[i]));
  return values;
}

Result<ComparisonResult> compare_vcd_files(const std::string& file1, const std::string& file2,
                                           const ComparisonOptions& options,
                                           const vcd::Interrupt* interrupt) {
  auto header1 = read_signals_with_offset(file1, interrupt);
  if (!header1) return std::unexpected(std::move(header1.error()));
  auto header2 = read_signals_with_offset(file2, interrupt);
  if (!header2) return std::unexpected(std::move(header2.error()));

  ComparisonResult result{};
  result.file1 = file1;
  result.file2 = file2;
  for (const Signal& signal : header1->signals) {
    auto& list = header2->find(signal.name) ? result.common_signals : result.signals_only_in_file1;
    list.push_back(signal.name);
  }
  for (const Signal& signal : header2->signals) {
    if (!header1->find(signal.name)) result.signals_only_in_file2.push_back(signal.name);
  }
  // std::string orders by unsigned bytes.
  std::sort(result.common_signals.begin(), result.common_signals.end());

  std::vector<std::string> selected;
  if (options.signals.empty()) {
    selected = result.common_signals;
  } else {
    const std::unordered_set<std::string_view> wanted(options.signals.begin(),
                                                      options.signals.end());
    for (const std::string& name : result.common_signals) {
      if (wanted.contains(name)) selected.push_back(name);
    }
  }

  // Both files are read at once.
  auto [values1, values2] = side_by_side(
      [&](const vcd::Interrupt* stop) {
        return collect_signal_values(file1, *header1, selected, options.start, options.end, stop);
      },
      [&](const vcd::Interrupt* stop) {
        return collect_signal_values(file2, *header2, selected, options.start, options.end, stop);
      },
      interrupt);
  if (!values1) return std::unexpected(std::move(values1.error()));
  if (!values2) return std::unexpected(std::move(values2.error()));

  for (const std::string& name : selected) {
    const std::size_t count = compare_signal(
        name, changes_of(*values1, name), changes_of(*values2, name), options, result.mismatches);
    if (count > 0) ++result.signals_with_mismatches;
  }
  result.total_mismatches = result.mismatches.size();
  result.passed = result.mismatches.empty();
  return result;
}

}  // namespace quarnel

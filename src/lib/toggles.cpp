#include "src/lib/toggles.hpp"

#include <bit>
#include <cmath>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "src/lib/extract.hpp"

namespace quarnel {

namespace {

// Beyond this width the padding would run past 65535 digits; since padding
// never changes whether two values of one signal are equal, it is dropped.
constexpr std::uint32_t kMaxPaddedWidth = 262140;

void append_hex(u128 value, std::size_t min_digits, std::string& out) {
  char digits[32];
  std::size_t count = 0;
  do {
    digits[count++] = "0123456789abcdef"[static_cast<unsigned>(value & 0xF)];
    value >>= 4;
  } while (value != 0);
  if (min_digits > count) out.append(min_digits - count, '0');
  while (count > 0) out += digits[--count];
}

// Whether two values of one signal have the same comparison text. Values of
// one kind tell by themselves, without building the texts: distinct integers
// and distinct texts differ, distinct doubles have distinct shortest texts,
// and every NaN reads "NaN".
bool same_comparison_text(const ChangeValue& a, const ChangeValue& b, std::uint32_t width,
                          std::string& scratch) {
  if (a.value.index() == b.value.index()) {
    if (const auto* number = std::get_if<u128>(&a.value)) return *number == std::get<u128>(b.value);
    if (const auto* text = std::get_if<std::string>(&a.value)) {
      return *text == std::get<std::string>(b.value);
    }
    const double x = std::get<double>(a.value);
    const double y = std::get<double>(b.value);
    return (std::isnan(x) && std::isnan(y)) ||
           std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
  }
  comparison_text(a, width, scratch);
  std::string other;
  comparison_text(b, width, other);
  return scratch == other;
}

}  // namespace

void comparison_text(const ChangeValue& value, std::uint32_t width, std::string& out) {
  out.clear();
  if (const auto* number = std::get_if<u128>(&value.value)) {
    if (width >= 2) {
      out += "0x";
      const std::size_t padding = width <= kMaxPaddedWidth ? (std::size_t{width} + 3) / 4 : 0;
      append_hex(*number, padding, out);
    } else {
      out += to_decimal(*number);
    }
  } else if (const auto* text = std::get_if<std::string>(&value.value)) {
    out += *text;
  } else {
    out += real_display_text(std::get<double>(value.value));
  }
}

Result<std::vector<std::pair<std::string, std::uint64_t>>> count_toggles(
    const std::string& path, const std::vector<std::string>& signals,
    std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
    const vcd::Interrupt* interrupt) {
  auto opened =
      open_requested_stream(path, signals, start, end, VcdError::Kind::SignalsNotFound, interrupt);
  if (!opened) return std::unexpected(std::move(opened.error()));

  // One counter per distinct name; each request position points at its own.
  struct Counter {
    std::uint32_t width;
    std::uint64_t count = 0;
    std::optional<ChangeValue> last;
  };
  std::vector<Counter> counters;
  std::vector<std::size_t> counter_of(signals.size());
  std::unordered_map<std::string_view, std::size_t> seen;
  for (std::size_t i = 0; i < signals.size(); ++i) {
    const auto [it, inserted] = seen.try_emplace(signals[i], counters.size());
    if (inserted) counters.push_back(Counter{opened->header.find(signals[i])->width, 0, {}});
    counter_of[i] = it->second;
  }

  std::string scratch;
  auto read = opened->stream.run([&](TimeValue&& record) {
    Counter& counter = counters[counter_of[record.request]];
    if (counter.last &&
        !same_comparison_text(*counter.last, record.value, counter.width, scratch)) {
      ++counter.count;
    }
    counter.last = std::move(record.value);
    return true;
  });
  if (!read) return std::unexpected(std::move(read.error()));

  std::vector<std::pair<std::string, std::uint64_t>> counts;
  counts.reserve(counters.size());
  for (std::size_t i = 0; i < signals.size(); ++i) {
    if (counter_of[i] == counts.size())
      counts.emplace_back(signals[i], counters[counter_of[i]].count);
  }
  return counts;
}

}  // namespace quarnel

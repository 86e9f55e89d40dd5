#include "src/lib/compare.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <type_traits>
#include <unordered_set>
#include <utility>

#include "src/lib/code_index.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/side_by_side.hpp"
#include "src/lib/value_equality.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/file.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

namespace {

// A change stamped with this time is never applied or compared.
constexpr std::uint64_t kNoTime = std::numeric_limits<std::uint64_t>::max();

// The first byte of a packed value. The scalar tags are the values of
// vcd::Value, so a scalar packs to one byte. kBits holds the bits of a
// vector that is no integer, kText the text of a string change.
enum Tag : unsigned char { kZero, kOne, kUnknown, kHighImpedance, kInteger, kReal, kText, kBits };
constexpr std::string_view kScalarTexts = "01xz";

// Longest varint of 64 bits, 7 bits per byte.
constexpr std::size_t kMaxVarintBytes = 10;

// The bytes of one packed value, tag first.
struct PackedValue {
  const unsigned char* data;
  std::size_t size;
};

// Every value starts unknown.
constexpr unsigned char kStartBytes[] = {kUnknown};
constexpr PackedValue kStartValue{kStartBytes, 1};

template <class T>
unsigned char* put_varint(unsigned char* out, T value) {
  while (value >= 0x80) {
    *out++ = static_cast<unsigned char>(value) | 0x80;
    value >>= 7;
  }
  *out++ = static_cast<unsigned char>(value);
  return out;
}

template <class T>
T read_varint(const unsigned char*& in) {
  if (*in < 0x80) return *in++;
  T value = 0;
  for (unsigned shift = 0;; shift += 7) {
    const unsigned char byte = *in++;
    value |= static_cast<T>(byte & 0x7F) << shift;
    if (byte < 0x80) return value;
  }
}

std::size_t packed_size(const unsigned char* value) {
  if (value[0] < kInteger) return 1;
  const unsigned char* end = value + 1;
  switch (value[0]) {
    case kInteger: read_varint<u128>(end); break;
    case kReal: end += sizeof(double); break;
    case kText:
    case kBits: end += read_varint<std::size_t>(end); break;
    default: break;
  }
  return static_cast<std::size_t>(end - value);
}

bool is_bit_text(const PackedValue& value) {
  return value.data[0] < kInteger || value.data[0] == kBits;
}

// The text of a scalar, bits or text value.
std::string_view text_of(const PackedValue& value) {
  if (value.data[0] < kInteger) return kScalarTexts.substr(value.data[0], 1);
  const unsigned char* text = value.data + 1;
  const auto size = read_varint<std::size_t>(text);
  return {reinterpret_cast<const char*>(text), size};
}

ChangeValue unpack(const PackedValue& value) {
  const unsigned char* payload = value.data + 1;
  switch (value.data[0]) {
    case kInteger: return ChangeValue{read_varint<u128>(payload)};
    case kReal: {
      double real = 0;
      std::memcpy(&real, payload, sizeof real);
      return ChangeValue{real};
    }
    case kText: return ChangeValue::of_string(std::string(text_of(value)));
    default: return ChangeValue::of_bits(std::string(text_of(value)));
  }
}

bool is_unknown(const PackedValue& value) {
  switch (value.data[0]) {
    case kUnknown:
    case kHighImpedance: return true;
    case kBits:
    case kText: return is_unknown(unpack(value));
    default: return false;
  }
}

bool values_agree(const PackedValue& a, const PackedValue& b) {
  if (a.data[0] == b.data[0] && a.size == b.size &&
      (a.size == 1 || std::memcmp(a.data + 1, b.data + 1, a.size - 1) == 0)) {
    return true;
  }
  // Scalars, integers and reals pack one way only, so different bytes are
  // different values.
  if ((a.data[0] < kInteger && b.data[0] < kInteger) ||
      (a.data[0] == b.data[0] && (a.data[0] == kInteger || a.data[0] == kReal))) {
    return false;
  }
  if (is_bit_text(a) && is_bit_text(b)) return shorten_bits(text_of(a)) == shorten_bits(text_of(b));
  if (a.data[0] == kText && b.data[0] == kText) {
    return equal_ignoring_ascii_case(text_of(a), text_of(b));
  }
  return values_agree(unpack(a), unpack(b));
}

// Walks a change list, the current change unpacked as far as the merge needs.
class ChangeReader {
 public:
  explicit ChangeReader(const SignalChanges& changes)
      : next_(changes.list.bytes().data()),
        end_(next_ + changes.list.bytes().size()),
        times_(changes.times.data()) {
    advance();
  }

  bool at_end() const { return next_ == nullptr; }
  // kNoTime once every change has been read.
  std::uint64_t time() const { return time_; }
  const PackedValue& value() const { return value_; }

  void advance() {
    if (next_ == end_) {
      next_ = nullptr;
      time_ = kNoTime;
      return;
    }
    stamp_ += read_varint<std::uint64_t>(next_);
    time_ = times_[stamp_];
    value_ = {next_, packed_size(next_)};
    next_ += value_.size;
  }

 private:
  const unsigned char* next_;
  const unsigned char* end_;
  const std::uint64_t* times_;
  std::uint64_t stamp_ = 0;
  std::uint64_t time_ = 0;
  PackedValue value_ = kStartValue;
};

// Whether two lists hold the same changes at the same times, given that the
// first `same_times` stamps of their timelines agree. They then agree at
// every time.
bool same_changes(const ChangeList& a, const ChangeList& b, std::size_t same_times) {
  return std::ranges::equal(a.bytes(), b.bytes()) &&
         (a.bytes().empty() || a.last_stamp() < same_times);
}

// Hands each change of a wanted identifier code within the window to its
// list; a command visitor for the parser.
class Collector {
 public:
  Collector(SignalValues& values, const CodeIndex& lists, std::optional<std::uint64_t> start,
            std::optional<std::uint64_t> end)
      : values_(values), lists_(lists), start_(start), end_(end) {}

  // Whether to read on.
  template <class C>
  [[gnu::always_inline]] bool operator()(const C& command) {
    if constexpr (std::is_same_v<C, vcd::cmd::Timestamp>) {
      time_ = command.time;
      stamped_ = false;
      return !(end_ && time_ > *end_);
    } else if constexpr (std::is_same_v<C, vcd::cmd::ScalarChange>) {
      if (ChangeList* list = list_for(command.id_code)) list->add_scalar(stamp_, command.value);
    } else if constexpr (std::is_same_v<C, vcd::cmd::VectorChange>) {
      if (ChangeList* list = list_for(command.id_code))
        list->add_vector(stamp_, command.vector.bits);
    } else if constexpr (std::is_same_v<C, vcd::cmd::RealChange>) {
      if (ChangeList* list = list_for(command.id_code)) list->add_real(stamp_, command.value);
    } else if constexpr (std::is_same_v<C, vcd::cmd::StringChange>) {
      if (ChangeList* list = list_for(command.id_code)) list->add_string(stamp_, command.text);
    }
    // Simulation sections and declarations met in the body carry no value.
    return true;
  }

 private:
  // The list that a change of `code` at the current time goes to, if any;
  // the current time is then on the timeline, at stamp_.
  [[gnu::always_inline]] ChangeList* list_for(vcd::IdCode code) {
    const std::uint32_t list = lists_.find(code);
    if (list == CodeIndex::kNone || (start_ && time_ < *start_)) return nullptr;
    if (!stamped_) {
      stamp_ = values_.times.size();
      values_.times.push_back(time_);
      stamped_ = true;
    }
    return &values_.lists[list];
  }

  SignalValues& values_;
  const CodeIndex& lists_;
  std::optional<std::uint64_t> start_;
  std::optional<std::uint64_t> end_;
  std::uint64_t time_ = 0;
  std::uint64_t stamp_ = 0;
  bool stamped_ = false;  // whether time_ is on the timeline yet
};

}  // namespace

void ChangeList::grow(std::size_t room) {
  capacity_ = std::max({capacity_ * 2, size_ + room, std::size_t{64}});
  auto larger = std::make_unique_for_overwrite<unsigned char[]>(capacity_);
  std::ranges::copy(bytes(), larger.get());
  bytes_ = std::move(larger);
}

template <class Write>
[[gnu::always_inline]] inline void ChangeList::append(std::uint64_t stamp, std::size_t payload,
                                                      Write write) {
  if (capacity_ - size_ < kMaxVarintBytes + payload) grow(kMaxVarintBytes + payload);
  unsigned char* const out = put_varint(bytes_.get() + size_, stamp - last_stamp_);
  size_ = static_cast<std::size_t>(write(out) - bytes_.get());
  last_stamp_ = stamp;
}

void ChangeList::add_scalar(std::uint64_t stamp, vcd::Value value) {
  append(stamp, 1, [value](unsigned char* out) {
    *out = static_cast<unsigned char>(value);
    return out + 1;
  });
}

void ChangeList::add_vector(std::uint64_t stamp, std::string_view bits) {
  u128 number = 0;
  if (!binary_vector_value(bits, number)) {
    add_text(stamp, kBits, bits);
  } else if (number >> 64 == 0) {
    // Most vectors fit in 64 bits, whose varint is cheaper to write.
    add_integer(stamp, static_cast<std::uint64_t>(number));
  } else {
    add_integer(stamp, number);
  }
}

template <class T>
void ChangeList::add_integer(std::uint64_t stamp, T value) {
  append(stamp, 1 + sizeof(T) * 8 / 7 + 1, [value](unsigned char* out) {
    *out = kInteger;
    return put_varint(out + 1, value);
  });
}

void ChangeList::add_real(std::uint64_t stamp, double value) {
  append(stamp, 1 + sizeof value, [value](unsigned char* out) {
    *out++ = kReal;
    std::memcpy(out, &value, sizeof value);
    return out + sizeof value;
  });
}

void ChangeList::add_string(std::uint64_t stamp, std::string_view text) {
  add_text(stamp, kText, text);
}

void ChangeList::add_text(std::uint64_t stamp, unsigned char tag, std::string_view text) {
  append(stamp, 1 + kMaxVarintBytes + text.size(), [tag, text](unsigned char* out) {
    *out++ = tag;
    out = put_varint(out, text.size());
    return std::copy(text.begin(), text.end(), out);
  });
}

void ChangeList::add(std::uint64_t stamp, const ChangeValue& value) {
  if (const auto* number = std::get_if<u128>(&value.value)) {
    add_integer(stamp, *number);
  } else if (const auto* real = std::get_if<double>(&value.value)) {
    add_real(stamp, *real);
  } else if (const std::string& text = std::get<std::string>(value.value); !value.bits) {
    add_string(stamp, text);
  } else if (const std::size_t scalar = kScalarTexts.find(text);
             text.size() == 1 && scalar != std::string_view::npos) {
    add_scalar(stamp, static_cast<vcd::Value>(scalar));
  } else {
    add_text(stamp, kBits, text);
  }
}

std::vector<Change> ChangeList::changes(const Timeline& times) const {
  std::vector<Change> changes;
  for (ChangeReader reader({*this, times}); !reader.at_end(); reader.advance())
    changes.push_back(Change{reader.time(), unpack(reader.value())});
  return changes;
}

std::size_t compare_signal(std::string_view signal, const SignalChanges& first,
                           const SignalChanges& second, const ComparisonOptions& options,
                           std::vector<SignalMismatch>& mismatches) {
  ChangeReader reader1(first);
  ChangeReader reader2(second);
  PackedValue current1 = kStartValue;
  PackedValue current2 = kStartValue;
  std::size_t count = 0;
  for (;;) {
    const std::uint64_t time = std::min(reader1.time(), reader2.time());
    // Both lists read, or only changes at the largest time left.
    if (time == kNoTime) break;
    // Changes at one time collapse into the last of them.
    for (; reader1.time() == time; reader1.advance()) current1 = reader1.value();
    for (; reader2.time() == time; reader2.advance()) current2 = reader2.value();

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

Result<SignalValues> collect_signal_values(const std::string& path, const HeaderInfo& header,
                                           const std::vector<std::string>& names,
                                           std::optional<std::uint64_t> start,
                                           std::optional<std::uint64_t> end,
                                           const vcd::Interrupt* interrupt) {
  // One list per identifier code, so that a change lands once however many
  // names it feeds; undeclared names share the first list, which stays empty.
  SignalValues values;
  values.lists.emplace_back();
  values.list_of.reserve(names.size());
  CodeIndex lists;
  for (const Signal& signal : header.signals) lists.cover(signal.id_code);
  for (const std::string& name : names) {
    std::uint32_t list = 0;
    if (const Signal* signal = header.find(name)) {
      list = lists.insert(signal->id_code, static_cast<std::uint32_t>(values.lists.size()));
      if (list == values.lists.size()) values.lists.emplace_back();
    }
    values.list_of.push_back(list);
  }

  auto file = open_body(path, header.body_offset, interrupt);
  if (!file) return std::unexpected(std::move(file.error()));
  vcd::Parser<vcd::FileSource> parser{vcd::FileSource(std::move(*file), interrupt)};
  auto read = parser.for_each_command(Collector(values, lists, start, end));
  if (!read) return std::unexpected(VcdError::io(read.error()));
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

  // Names that share their lists in both files (aliases) share their
  // mismatches too: the first of them is merged, the others copy its records.
  struct Merged {
    std::size_t list2;
    std::size_t begin;
    std::size_t count;
  };
  std::vector<std::optional<Merged>> merged(values1->lists.size());
  const auto same_times = static_cast<std::size_t>(
      std::ranges::mismatch(values1->times, values2->times).in1 - values1->times.begin());
  for (std::size_t i = 0; i < selected.size(); ++i) {
    const std::size_t list1 = values1->list_of[i];
    const std::size_t list2 = values2->list_of[i];
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
      if (!same_changes(values1->lists[list1], values2->lists[list2], same_times)) {
        count = compare_signal(selected[i], values1->changes_of(i), values2->changes_of(i), options,
                               result.mismatches);
      }
      if (!earlier) earlier = Merged{list2, begin, count};
    }
    if (count > 0) ++result.signals_with_mismatches;
  }
  result.total_mismatches = result.mismatches.size();
  result.passed = result.mismatches.empty();
  return result;
}

}  // namespace quarnel

// The value-change section behind a fixed, valid header, through every
// analysis: metadata, extraction of every signal, toggle counting, the search
// and the comparison of the dump with a mutated copy. Besides staying free of
// crashes and undefined behaviour, the analyses must agree with each other,
// and the extended dialect must read whatever the specified one reads alike.
//
// Each analysis is also run with the body read in pieces of a few bytes on
// four threads, and must give what it gives on one.
//
// Input: five control bytes, then the body.
//   0: how the copy is mutated (identical, 0 and 1 swapped with the states
//      of changes respelt, cut short, one byte replaced); 1: where; 2, 3: which record the search
//      looks for;
//   4: the time window of the windowed runs. Byte 1 also decides after how many
//   questions an interrupt hook stops one metadata scan.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_file.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/compare.hpp"
#include "src/lib/extract.hpp"
#include "src/lib/find.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/metadata.hpp"
#include "src/lib/target.hpp"
#include "src/lib/toggles.hpp"
#include "src/lib/value_equality.hpp"
#include "vcd/interrupt.hpp"
#include "vcd/value.hpp"

namespace {

using quarnel::fuzz::MemoryFile;
using Time = std::optional<std::uint64_t>;

// How the calls read a body (read_bodies_with).
quarnel::ScanSettings body_reading;

quarnel::CallContext reading(vcd::Dialect dialect = vcd::Dialect::specified,
                             const vcd::Interrupt* interrupt = nullptr) {
  return {dialect, interrupt, body_reading};
}

// Codes "!" to "@" with a mix of types and widths, one code shared by two
// variables, codes of two and four characters (the last beyond the flat code
// table) and codes of value letters.
const std::string header_text = [] {
  static constexpr struct {
    const char* type;
    unsigned width;
  } kKinds[] = {{"wire", 1},  {"reg", 4},    {"wire", 8},   {"integer", 32}, {"wire", 130},
                {"real", 64}, {"string", 1}, {"wire", 2},   {"reg", 128},    {"event", 1},
                {"wire", 64}, {"tri", 3},    {"wire", 129}, {"time", 64},    {"parameter", 16}};
  std::string text = "$timescale 1 ns $end\n$scope module top $end\n";
  for (unsigned i = 0; i < 32; ++i) {
    if (i == 16) text += "$scope module sub $end\n";
    const auto& kind = kKinds[i % std::size(kKinds)];
    text += "$var " + std::string(kind.type) + ' ' + std::to_string(kind.width) + ' ' +
            static_cast<char>('!' + i) + " s" + std::to_string(i);
    if (kind.width > 1 && std::string_view(kind.type) != "real") {
      text += " [" + std::to_string(kind.width - 1) + ":0]";
    }
    text += " $end\n";
  }
  text += "$upscope $end\n";
  text += "$var wire 1 ! alias_of_s0 $end\n";
  text += "$var wire 4 !! two [3:0] $end\n";
  text += "$var wire 1 ~~~~ four $end\n";
  // Codes that start with a value letter, some of zero-width variables,
  // whose changes are written "b <code>".
  text += "$var wire 0 H empty_h $end\n$var wire 0 x empty_x $end\n";
  text += "$var wire 0 0a empty_0a $end\n$var wire 0 Zz empty_zz $end\n";
  text += "$var wire 3 Hq hq [2:0] $end\n$var wire 1 h! h $end\n$var wire 1 u u $end\n";
  text += "$upscope $end\n$enddefinitions $end\n";
  return text;
}();

std::string mutate(std::string body, std::uint8_t kind, std::uint8_t where) {
  const std::size_t pos = body.size() * where / 256;
  switch (kind % 4) {
    case 0: break;
    case 1:
      // 0 and 1 swapped, and the state of each change at the start of a
      // line spelt as another of the nine states, in either case.
      for (std::size_t i = 0; i < body.size(); ++i) {
        char& c = body[i];
        const std::string& spellings = quarnel::fuzz::state_spellings();
        if ((i == 0 || body[i - 1] == '\n') && spellings.find(c) != std::string::npos) {
          c = spellings[(spellings.find(c) + 1 + where) % spellings.size()];
        } else {
          c = c == '0' ? '1' : c == '1' ? '0' : c;
        }
      }
      break;
    case 2: body.resize(pos); break;
    case 3:
      if (!body.empty()) body[pos] = static_cast<char>(kind);
      break;
  }
  return body;
}

// Whether a line of `body` holds "b", blanks and bits of 0, 1, x and z, or
// "s", blanks and a word, alone: where the next line starts a command, the
// extended dialect reads an empty vector or string there, and the specified
// one bits or a text whose code is on the next line.
bool has_value_alone_after_blank(std::string_view body) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  const auto space = [&](char c) { return blank(c) || c == '\n'; };
  for (std::size_t i = 0; i + 1 < body.size(); ++i) {
    const bool vector = body[i] == 'b' || body[i] == 'B';
    if ((!vector && body[i] != 's' && body[i] != 'S') || !blank(body[i + 1])) continue;
    std::size_t j = i + 1;
    while (j < body.size() && blank(body[j])) ++j;
    const std::size_t value = j;
    while (j < body.size() &&
           (vector ? vcd::value_from_char(body[j]).has_value() : !space(body[j])))
      ++j;
    if (j == value || j == body.size() || (!blank(body[j]) && body[j] != '\n')) continue;
    while (j < body.size() && blank(body[j])) ++j;
    if (j < body.size() && body[j] == '\n') return true;
  }
  return false;
}

// Every record of `names` within [start, end], one per request position of
// each change, as extraction reads them, or the first error.
quarnel::Result<std::vector<quarnel::TimeValue>> records_of(
    const std::string& path, const std::vector<std::string>& names, Time start, Time end,
    vcd::Dialect dialect = vcd::Dialect::specified) {
  std::vector<quarnel::TimeValue> records;
  const auto keep = [&](const std::vector<std::uint32_t>& requests, std::uint64_t time,
                        const quarnel::ChangeView& view) {
    const quarnel::ChangeValue value = quarnel::change_value(view);
    for (const std::uint32_t request : requests) {
      records.push_back(quarnel::TimeValue{names[request], request, time, value});
    }
    return true;
  };
  auto read = quarnel::extract_changes(path, names, {start, end}, keep, reading(dialect));
  if (!read) return std::unexpected(std::move(read.error()));
  return records;
}

bool same_value(const quarnel::ChangeValue& a, const quarnel::ChangeValue& b) {
  return quarnel::display_text(a) == quarnel::display_text(b) && a.value.index() == b.value.index();
}

// Toggle counts agree with those recomputed from the extracted records.
void check_toggles(const std::string& path, const std::vector<std::string>& names,
                   const quarnel::Dump& header, Time start, Time end,
                   const quarnel::Result<std::vector<quarnel::TimeValue>>& records) {
  auto toggles = quarnel::count_toggles(path, names, {start, end}, reading());
  FUZZ_CHECK(toggles.has_value() == records.has_value());
  if (!toggles) {
    FUZZ_CHECK(toggles.error().text() == records.error().text());
    return;
  }
  std::map<std::string_view, std::uint64_t> expected;
  std::map<std::string_view, const quarnel::ChangeValue*> last;
  for (const auto& record : *records) {
    auto [it, first] = last.try_emplace(record.signal, &record.value);
    expected[record.signal] +=
        !first &&
        !quarnel::same_toggle_value(*it->second, record.value, header.find(record.signal)->width);
    it->second = &record.value;
  }
  FUZZ_CHECK(toggles->size() == names.size());
  for (const auto& [name, count] : *toggles) FUZZ_CHECK(count == expected[name]);
}

void check_find(const std::string& path, const std::vector<quarnel::TimeValue>& records,
                const std::string& signal, std::uint8_t pick) {
  std::vector<const quarnel::TimeValue*> own;
  for (const auto& record : records) {
    if (record.signal == signal) own.push_back(&record);
  }
  if (own.empty()) return;
  const quarnel::TimeValue& chosen = *own[pick % own.size()];
  const std::string wanted = quarnel::normalize_value(chosen.value);
  const auto target = quarnel::parse_target_value(wanted);
  // Texts that the target parser reads as another text (digits with leading
  // zeros, surrounding blanks) cannot name this value.
  if (quarnel::target_text(target) != wanted) return;
  // Bits match a target of bits with x or z in it when both shorten alike.
  const bool bit_like = wanted.find_first_not_of("01xz") == std::string::npos &&
                        wanted.find_first_of("xz") != std::string::npos;
  const std::string bits_wanted(bit_like ? quarnel::shorten_bits(wanted) : wanted);
  std::size_t occurrence = 0;
  for (const auto* record : own) {
    const std::string& want = record->value.is_bits() ? bits_wanted : wanted;
    if (quarnel::normalize_value(record->value) == want) ++occurrence;
    if (record == &chosen) break;
  }
  auto found = quarnel::find_nth_occurrence(path, signal, target, occurrence, {}, reading());
  FUZZ_CHECK(found.has_value() && found->has_value());
  FUZZ_CHECK((*found)->time == chosen.time);
  FUZZ_CHECK(same_value((*found)->value, chosen.value));
  auto beyond = quarnel::find_nth_occurrence(path, signal, target, own.size() + 1, {}, reading());
  FUZZ_CHECK(beyond.has_value() && !beyond->has_value());
}

// Stopped by the interrupt hook after `allowed` questions, the scan either
// finished first, with the same outcome, or reports the interruption.
void check_interrupted(const std::string& path, int allowed,
                       const quarnel::Result<quarnel::VcdMetadata>& uninterrupted) {
  struct Countdown {
    int left;
    static bool requested(void* context) { return static_cast<Countdown*>(context)->left-- <= 0; }
  } countdown{allowed};
  const vcd::Interrupt hook{&Countdown::requested, &countdown};
  auto metadata = quarnel::read_vcd_metadata(path, reading(vcd::Dialect::specified, &hook));
  if (metadata) {
    FUZZ_CHECK(uninterrupted && metadata->end_time == uninterrupted->end_time &&
               metadata->start_time == uninterrupted->start_time);
  } else if (metadata.error().kind != quarnel::VcdError::Kind::Interrupted) {
    FUZZ_CHECK(!uninterrupted && metadata.error().text() == uninterrupted.error().text());
  }
}

// The same mismatches, each with its two values swapped when `mirrored`.
void check_same_mismatches(const quarnel::ComparisonResult& a, const quarnel::ComparisonResult& b,
                           bool mirrored) {
  FUZZ_CHECK(a.passed == b.passed && a.total_mismatches == b.total_mismatches &&
             a.signals_with_mismatches == b.signals_with_mismatches);
  FUZZ_CHECK(a.mismatches.size() == b.mismatches.size());
  for (std::size_t i = 0; i < a.mismatches.size(); ++i) {
    const auto& m = a.mismatches[i];
    const auto& n = b.mismatches[i];
    FUZZ_CHECK(m.signal == n.signal && m.time == n.time && m.is_unknown == n.is_unknown);
    FUZZ_CHECK(same_value(m.value1, mirrored ? n.value2 : n.value1) &&
               same_value(m.value2, mirrored ? n.value1 : n.value2));
  }
}

void check_mirrored(const quarnel::Result<quarnel::ComparisonResult>& ab,
                    const quarnel::Result<quarnel::ComparisonResult>& ba) {
  FUZZ_CHECK(ab.has_value() == ba.has_value());
  if (!ab) return;
  FUZZ_CHECK(ab->common_signals == ba->common_signals);
  FUZZ_CHECK(ab->signals_only_in_file1 == ba->signals_only_in_file2);
  check_same_mismatches(*ab, *ba, true);
}

// Makes the following calls read a body on `threads` threads in pieces of
// `chunk_bytes`.
void read_bodies_with(unsigned threads, unsigned chunk_bytes) {
  body_reading.threads = threads;
  body_reading.chunk_bytes = chunk_bytes;
}

template <class T>
bool same_outcome(const quarnel::Result<T>& a, const quarnel::Result<T>& b) {
  return a.has_value() == b.has_value() && (a || a.error().text() == b.error().text());
}

void check_same_records(const quarnel::Result<std::vector<quarnel::TimeValue>>& a,
                        const quarnel::Result<std::vector<quarnel::TimeValue>>& b) {
  FUZZ_CHECK(same_outcome(a, b));
  if (!a) return;
  FUZZ_CHECK(a->size() == b->size());
  for (std::size_t i = 0; i < a->size(); ++i) {
    FUZZ_CHECK((*a)[i].request == (*b)[i].request && (*a)[i].time == (*b)[i].time);
    FUZZ_CHECK(same_value((*a)[i].value, (*b)[i].value));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t control[5] = {};
  const std::size_t skip = std::min<std::size_t>(size, std::size(control));
  std::copy_n(data, skip, control);
  const auto [kind, where, pick_signal, pick_record, window] = control;
  const std::string body(reinterpret_cast<const char*>(data) + skip, size - skip);
  const MemoryFile a(header_text + body);
  const MemoryFile b(header_text + mutate(body, kind, where));
  read_bodies_with(1, 1);

  auto header = quarnel::open_dump(a.path());
  FUZZ_CHECK(header.has_value() && header->body_offset == header_text.size());
  std::vector<std::string> names;
  for (const auto& signal : header->signals) names.push_back(signal.name);

  auto metadata = quarnel::read_vcd_metadata(a.path(), reading());
  auto records = records_of(a.path(), names, std::nullopt, std::nullopt);
  // Both read the whole body with the same reader: the same outcome.
  FUZZ_CHECK(metadata.has_value() == records.has_value());
  if (!metadata) {
    FUZZ_CHECK(metadata.error().kind == quarnel::VcdError::Kind::Io);
    FUZZ_CHECK(metadata.error().text() == records.error().text());
  } else {
    FUZZ_CHECK(metadata->signal_count == names.size());
    for (const auto& record : *records) FUZZ_CHECK(record.signal == names[record.request]);
  }
  const quarnel::ComparisonOptions options;
  const auto compared = quarnel::compare_vcd_files(a.path(), b.path(), options, reading());
  const auto extended_whole =
      records_of(a.path(), names, std::nullopt, std::nullopt, vcd::Dialect::extended);
  read_bodies_with(4, 8 + (where ^ pick_record) % 64);
  auto split_metadata = quarnel::read_vcd_metadata(a.path(), reading());
  FUZZ_CHECK(same_outcome(metadata, split_metadata));
  FUZZ_CHECK(!metadata || (metadata->start_time == split_metadata->start_time &&
                           metadata->end_time == split_metadata->end_time));
  check_same_records(records, records_of(a.path(), names, std::nullopt, std::nullopt));
  const auto split_compared = quarnel::compare_vcd_files(a.path(), b.path(), options, reading());
  FUZZ_CHECK(same_outcome(compared, split_compared));
  if (compared) check_same_mismatches(*compared, *split_compared, false);
  // The checks against models below read the body in pieces too.
  check_interrupted(a.path(), where % 4, metadata);
  auto extended = records_of(a.path(), names, std::nullopt, std::nullopt, vcd::Dialect::extended);
  check_same_records(extended_whole, extended);
  auto extended_same =
      quarnel::compare_vcd_files(a.path(), a.path(), {}, reading(vcd::Dialect::extended));
  FUZZ_CHECK(extended_same ? extended && extended_same->passed : !extended);
  if (records && !has_value_alone_after_blank(body)) check_same_records(records, extended);
  check_toggles(a.path(), names, *header, std::nullopt, std::nullopt, records);
  if (records) check_find(a.path(), *records, names[pick_signal % names.size()], pick_record);

  // A window: records inside it only, and toggles that agree with them.
  const Time start = window & 1 ? Time(window >> 4) : std::nullopt;
  const Time end = window & 2 ? Time((window >> 2) * 3) : std::nullopt;
  auto windowed = records_of(a.path(), names, start, end);
  for (const auto& record : windowed ? *windowed : std::vector<quarnel::TimeValue>{}) {
    FUZZ_CHECK((!start || record.time >= *start) && (!end || record.time <= *end));
  }
  check_toggles(a.path(), names, *header, start, end, windowed);

  auto same = quarnel::compare_vcd_files(a.path(), a.path(), options, reading());
  FUZZ_CHECK(same ? records && same->passed && same->mismatches.empty()
                  : !records && same.error().text() == records.error().text());
  check_mirrored(quarnel::compare_vcd_files(a.path(), b.path(), options, reading()),
                 quarnel::compare_vcd_files(b.path(), a.path(), options, reading()));

  quarnel::ComparisonOptions limited;
  limited.max_mismatches = pick_record % 3;
  limited.ignore_unknown = (pick_record & 4) != 0;
  limited.window = {start, end};
  if (pick_record & 8) limited.signals = {names[pick_signal % names.size()], "no.such"};
  check_mirrored(quarnel::compare_vcd_files(a.path(), b.path(), limited, reading()),
                 quarnel::compare_vcd_files(b.path(), a.path(), limited, reading()));
  return 0;
}

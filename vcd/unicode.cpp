#include "vcd/unicode.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace vcd::unicode {
namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Every code point first + k * stride up to last maps to itself plus delta.
struct CaseRun {
  char32_t first;
  char32_t last;
  std::int32_t delta;
  std::uint32_t stride;
};

struct SpecialCase {
  char32_t code_point;
  const char* utf8;
};

#include "vcd/unicode_tables.inc"

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kCapitalSigma = 0x03A3;
constexpr char32_t kFinalSigma = 0x03C2;

bool in_ranges(std::span<const Range> ranges, char32_t c) {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), c,
                             [](char32_t v, const Range& r) { return v < r.first; });
  return it != ranges.begin() && c <= std::prev(it)->last;
}

bool is_cased(char32_t c) { return in_ranges(kCased, c); }
bool is_case_ignorable(char32_t c) { return in_ranges(kCaseIgnorable, c); }

char32_t simple_lower(char32_t c) {
  auto it = std::upper_bound(std::begin(kLowerRuns), std::end(kLowerRuns), c,
                             [](char32_t v, const CaseRun& r) { return v < r.first; });
  if (it == std::begin(kLowerRuns)) return c;
  const CaseRun& run = *std::prev(it);
  if (c > run.last || (c - run.first) % run.stride != 0) return c;
  return static_cast<char32_t>(static_cast<std::int32_t>(c) + run.delta);
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the well-formed sequence that lead byte `b` starts (0 if it starts none),
// and the range its second byte must lie in; later bytes lie in 80..BF.
struct Lead {
  int length;
  unsigned char low;
  unsigned char high;
};

Lead classify_lead(unsigned char b) {
  if (b < 0x80) return {1, 0, 0};
  if (b < 0xC2) return {0, 0, 0};
  if (b < 0xE0) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b < 0xF0) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b < 0xF4) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// Number of bytes at `pos` that form a well-formed sequence (`complete` true), or that
// form the maximal subpart of an ill-formed one (`complete` false, at least 1).
struct Scan {
  std::size_t length;
  bool complete;
};

Scan scan_sequence(std::string_view bytes, std::size_t pos) {
  const Lead lead = classify_lead(static_cast<unsigned char>(bytes[pos]));
  if (lead.length == 0) return {1, false};
  std::size_t n = 1;
  for (; n < static_cast<std::size_t>(lead.length); ++n) {
    if (pos + n >= bytes.size()) return {n, false};
    const auto b = static_cast<unsigned char>(bytes[pos + n]);
    const bool ok = n == 1 ? (b >= lead.low && b <= lead.high) : is_continuation(b);
    if (!ok) return {n, false};
  }
  return {n, true};
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Start of the code point that ends just before `pos` (pos > 0).
std::size_t previous_start(std::string_view utf8, std::size_t pos) {
  std::size_t start = pos - 1;
  while (start > 0 && pos - start < 4 && is_continuation(static_cast<unsigned char>(utf8[start])))
    --start;
  return start;
}

// Final_Sigma, read as Python's str.lower() reads it: skipping Case_Ignorable characters,
// the nearest character before must be Cased and the nearest one after must not be. A
// character that is both (U+02B0, U+0345, ...) is skipped, so "\u02B0\u03A3" keeps a
// medial sigma, where a literal reading of the context regular expressions would not.
bool is_final_sigma(std::string_view utf8, std::size_t start, std::size_t end) {
  std::size_t pos = start;
  bool cased_before = false;
  while (pos > 0) {
    pos = previous_start(utf8, pos);
    std::size_t at = pos;
    const char32_t c = decode_at(utf8, at);
    if (!is_case_ignorable(c)) {
      cased_before = is_cased(c);
      break;
    }
  }
  if (!cased_before) return false;
  pos = end;
  while (pos < utf8.size()) {
    const char32_t c = decode_at(utf8, pos);
    if (!is_case_ignorable(c)) return !is_cased(c);
  }
  return true;
}

// The White_Space characters of the ASCII range.
bool is_ascii_white_space(unsigned char b) { return (b >= '\t' && b <= '\r') || b == ' '; }

}  // namespace

bool is_white_space(char32_t c) {
  return c < 0x80 ? is_ascii_white_space(static_cast<unsigned char>(c)) : in_ranges(kWhiteSpace, c);
}

bool is_numeric(char32_t c) { return in_ranges(kNumeric, c); }

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    // Eight ASCII bytes at a time.
    if (bytes.size() - pos >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data() + pos, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        pos += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const Scan scan = scan_sequence(bytes, pos);
    if (!scan.complete) return false;
    pos += scan.length;
  }
  return true;
}

std::string to_utf8_lossy(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Scan scan = scan_sequence(bytes, pos);
    if (scan.complete) {
      out.append(bytes.substr(pos, scan.length));
    } else {
      append_utf8(out, kReplacement);
    }
    pos += scan.length;
  }
  return out;
}

std::size_t lossy_source_offset(std::string_view bytes, std::size_t decoded_offset) {
  std::size_t decoded = 0;
  std::size_t pos = 0;
  while (pos < bytes.size() && decoded < decoded_offset) {
    const Scan scan = scan_sequence(bytes, pos);
    decoded += scan.complete ? scan.length : 3;  // U+FFFD takes three bytes
    pos += scan.length;
  }
  return pos;
}

char32_t decode_at(std::string_view utf8, std::size_t& pos) {
  if (pos >= utf8.size()) return kReplacement;
  const Scan scan = scan_sequence(utf8, pos);
  if (!scan.complete) {
    pos += scan.length;
    return kReplacement;
  }
  const auto lead = static_cast<unsigned char>(utf8[pos]);
  static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  char32_t c = lead & kLeadMask[scan.length];
  for (std::size_t i = 1; i < scan.length; ++i)
    c = (c << 6) | (static_cast<unsigned char>(utf8[pos + i]) & 0x3F);
  pos += scan.length;
  return c;
}

std::string_view trim_white_space(std::string_view utf8) {
  std::size_t begin = 0;
  while (begin < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[begin]);
    if (byte < 0x80) {
      if (!is_ascii_white_space(byte)) break;
      ++begin;
      continue;
    }
    std::size_t next = begin;
    if (!is_white_space(decode_at(utf8, next))) break;
    begin = next;
  }
  std::size_t end = utf8.size();
  while (end > begin) {
    const auto byte = static_cast<unsigned char>(utf8[end - 1]);
    if (byte < 0x80) {
      if (!is_ascii_white_space(byte)) break;
      --end;
      continue;
    }
    std::size_t start = previous_start(utf8, end);
    std::size_t next = start;
    if (!is_white_space(decode_at(utf8, next)) || next != end) break;
    end = start;
  }
  return utf8.substr(begin, end - begin);
}

std::string to_lower(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  if (std::all_of(utf8.begin(), utf8.end(),
                  [](char b) { return static_cast<unsigned char>(b) < 0x80; })) {
    for (char b : utf8) out += (b >= 'A' && b <= 'Z') ? static_cast<char>(b + ('a' - 'A')) : b;
    return out;
  }
  for (std::size_t pos = 0; pos < utf8.size();) {
    const std::size_t start = pos;
    const char32_t c = decode_at(utf8, pos);
    if (c == kCapitalSigma && is_final_sigma(utf8, start, pos)) {
      append_utf8(out, kFinalSigma);
      continue;
    }
    const auto special = std::find_if(std::begin(kLowerSpecial), std::end(kLowerSpecial),
                                      [c](const SpecialCase& s) { return s.code_point == c; });
    if (special != std::end(kLowerSpecial)) {
      out += special->utf8;
    } else {
      append_utf8(out, simple_lower(c));
    }
  }
  return out;
}

}  // namespace vcd::unicode

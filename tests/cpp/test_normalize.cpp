// Values compared: normalised texts, search targets, the agreement of two values, the merge
// of one signal, and the search and the comparison over files.
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "src/lib/compare.hpp"
#include "src/lib/find.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/target.hpp"
#include "src/lib/value_equality.hpp"

using namespace quarnel;
using namespace std::string_view_literals;

namespace {

constexpr u128 kMax128 = ~u128{0};
constexpr std::string_view kMax128Digits = "340282366920938463463374607431768211455";
constexpr std::uint64_t kMaxTime = std::numeric_limits<std::uint64_t>::max();

ChangeValue integer(u128 v) { return ChangeValue{v}; }
ChangeValue real(double v) { return ChangeValue{v}; }
ChangeValue text(std::string_view v) { return ChangeValue::of_string(std::string(v)); }
ChangeValue bits(std::string_view v) { return ChangeValue::of_bits(std::string(v)); }

// "int 31" or "text x": the kind, then the target text.
std::string describe(const TargetValue& target) {
  return (std::holds_alternative<u128>(target.value) ? "int " : "text ") + target_text(target);
}

// "kind:display", so that 1 and "1" or 1.0 read differently.
std::string describe(const ChangeValue& value) {
  constexpr std::string_view kKinds[] = {"int:", "real:", "text:"};
  return std::string(kKinds[value.value.index()]) + display_text(value);
}

// One mismatch as "time value1/value2", with "?" when is_unknown is set.
std::string describe(const std::vector<SignalMismatch>& mismatches) {
  std::string out;
  for (const SignalMismatch& m : mismatches) {
    if (!out.empty()) out += "; ";
    out += std::to_string(m.time) + " " + describe(m.value1) + "/" + describe(m.value2) +
           (m.is_unknown ? "?" : "");
  }
  return out;
}

using Changes = std::vector<Change>;

// A change list with a timeline of one timestamp per change.
struct Packed {
  Timeline times;
  ChangeList list;
};

Packed pack(const Changes& changes) {
  Packed packed;
  for (const Change& change : changes) {
    packed.list.add(packed.times.size(), change.value);
    packed.times.push_back(change.time);
  }
  return packed;
}

std::string merge(const Changes& first, const Changes& second,
                  const ComparisonOptions& options = {}) {
  const Packed a = pack(first);
  const Packed b = pack(second);
  std::vector<SignalMismatch> out;
  const std::size_t count =
      compare_signal("top.s", {a.list, a.times}, {b.list, b.times}, options, out);
  CHECK_EQ(count, out.size());
  for (const SignalMismatch& m : out) CHECK_EQ(m.signal, "top.s");
  return describe(out);
}

// A file holding `content`, removed again at the end of the scope.
class TempFile {
 public:
  explicit TempFile(std::string_view content) {
    char name[] = "/tmp/quarnel-unit-XXXXXX";
    const int fd = mkstemp(name);
    CHECK(fd >= 0);
    path_ = name;
    CHECK_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

template <class T>
std::string error_text(const Result<T>& result) {
  return result ? std::string("(no error)") : result.error().text();
}

}  // namespace

TEST_CASE("parse_target_value") {
  const std::string f32(32, 'f');
  struct Row {
    std::string input;
    std::string expected;
  };
  const Row rows[] = {
      {"  0X1F  ", "int 31"},
      {"31", "int 31"},
      {"+31", "int 31"},
      {"0x001f", "int 31"},
      {"0x+1f", "int 31"},
      {"0XABCDEF", "int 11259375"},
      {"0x", "text 0x"},
      {"0x+", "text 0x+"},
      {"0x-", "text 0x-"},
      {"0x-1", "text 0x-1"},
      {"0x++1", "text 0x++1"},
      {"0xg", "text 0xg"},
      {"0x 1", "text 0x 1"},
      {"0x" + f32, "int 340282366920938463463374607431768211455"},
      {"0x1" + std::string(32, '0'), "text 0x1" + std::string(32, '0')},
      {"0x" + std::string(40, '0') + "1", "int 1"},
      {"0x" + std::string(40, '0') + f32, "int 340282366920938463463374607431768211455"},
      {"+42", "int 42"},
      {"007", "int 7"},
      {"1010", "int 1010"},
      {"0", "int 0"},
      {"-1", "text -1"},
      {"-0", "text -0"},
      {"+", "text +"},
      {"++1", "text ++1"},
      {"", "text "},
      {"   ", "text "},
      {"340282366920938463463374607431768211455", "int 340282366920938463463374607431768211455"},
      {"000340282366920938463463374607431768211455", "int 340282366920938463463374607431768211455"},
      {"340282366920938463463374607431768211456", "text 340282366920938463463374607431768211456"},
      {"99999999999999999999999999999999999999999",
       "text 99999999999999999999999999999999999999999"},
      {"X", "text x"},
      {" Z\t", "text z"},
      {"1 0", "text 1 0"},
      {"1.5", "text 1.5"},
      {"1e3", "text 1e3"},
      {"b1010", "text b1010"},
      {"0b1010", "text 0b1010"},
      // White_Space beyond ASCII is trimmed; a zero-width space is not white space.
      {"\u3000\u00A042\u2029\u0085", "int 42"},
      {"\u200B42", "text \u200B42"},
      // Digits must be ASCII, also after lowercasing.
      {"\uFF14\uFF12", "text \uFF14\uFF12"},
      {"0x\uFF21", "text 0x\uFF41"},
      // Full lowercase mapping: U+0130 grows, and a sigma at the end of a word is final
      // once the trailing blank is gone.
      {"\u0130X", "text i\u0307x"},
      {" \u039F\u0394\u039F\u03A3 ", "text \u03BF\u03B4\u03BF\u03C2"},
      {"\u03A3\u0391", "text \u03C3\u03B1"},
      {"\u212A", "text k"},
  };
  for (const Row& row : rows) {
    const std::string got = describe(parse_target_value(row.input));
    if (got != row.expected) {
      CHECK_EQ(got, row.expected);
      std::fprintf(stderr, "  input: %s\n", check::show_text(row.input).c_str());
    }
  }
  CHECK(std::get<u128>(parse_target_value("0x" + f32).value) == kMax128);
}

TEST_CASE("normalize_value and display text") {
  struct Row {
    ChangeValue value;
    std::string_view normalised;
    std::string_view display;
  };
  const Row rows[] = {
      {integer(0), "0", "0"},
      {integer(kMax128), kMax128Digits, kMax128Digits},
      {real(1.0), "1", "1"},
      {real(0.1), "0.1", "0.1"},
      {real(-0.0), "-0", "-0"},
      {real(1e21), "1000000000000000000000", "1000000000000000000000"},
      {real(1.5e-7), "0.00000015", "0.00000015"},
      {real(-2.5), "-2.5", "-2.5"},
      {real(std::nan("")), "NaN", "NaN"},
      {real(-INFINITY), "-inf", "-inf"},
      {real(INFINITY), "inf", "inf"},
      {text("ABC"), "abc", "ABC"},
      {text("b0X1"), "b0x1", "b0X1"},
      {text("\u0130"), "i\u0307", "\u0130"},
      {text("\u039F\u0394\u039F\u03A3"), "\u03BF\u03B4\u03BF\u03C2", "\u039F\u0394\u039F\u03A3"},
  };
  for (const Row& row : rows) {
    CHECK_EQ(normalize_value(row.value), row.normalised);
    CHECK_EQ(display_text(row.value), row.display);
  }
}

TEST_CASE("unknown values") {
  for (std::string_view v : {"x"sv, "X"sv, "z"sv, "Z"sv}) CHECK_EQ(is_unknown(text(v)), true);
  for (std::string_view v : {""sv, "xx"sv, "x1"sv, "0"sv, "u"sv, "-"sv})
    CHECK_EQ(is_unknown(text(v)), false);
  for (std::string_view v : {"xxxx"sv, "zz"sv, "z"sv}) CHECK_EQ(is_unknown(bits(v)), true);
  for (std::string_view v : {"x1"sv, "0x"sv, "xz"sv}) CHECK_EQ(is_unknown(bits(v)), false);
  CHECK(!is_unknown(integer(0)));
  CHECK(!is_unknown(real(0.0)));
}

TEST_CASE("agreement of two values") {
  const double nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
  const double other_nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000001});
  struct Row {
    ChangeValue a;
    ChangeValue b;
    bool agree;
  };
  const Row rows[] = {
      {integer(5), integer(5), true},
      {integer(5), integer(6), false},
      {integer(kMax128), integer(kMax128), true},
      // Reals by bit pattern.
      {real(1.0), real(1.0), true},
      {real(0.0), real(-0.0), false},
      {real(nan), real(nan), true},
      {real(nan), real(other_nan), false},
      // Texts up to ASCII case only.
      {text("ABC"), text("abc"), true},
      {text("x"), text("X"), true},
      {text("\u00C4"), text("\u00E4"), false},
      {text("ab"), text("abc"), false},
      {text("x1"), text("X1"), true},
      // Different kinds by normalised text.
      {integer(1), text("1"), true},
      {integer(1), text("01"), false},
      {integer(1), text("x1"), false},
      {integer(1), text("x"), false},
      {real(1.0), integer(1), true},
      {real(-0.0), integer(0), false},
      {real(2.5), text("2.5"), true},
      {real(INFINITY), text("INF"), true},
      {text("\u00C4"), real(1.0), false},
      // Bits by the same bits after left extension; strings are never bits.
      {bits("1x"), bits("001x"), true},
      {bits("x"), bits("xxxx"), true},
      {bits("zz0"), bits("z0"), true},
      {bits("0zz"), bits("0z"), false},
      {bits("1x"), bits("x1x"), false},
      {bits("0x1"), integer(1), false},
      {bits(std::string(129, '0') + "1"), integer(1), true},
      {bits("1" + std::string(128, '0')), integer(0), false},
      {bits("001x"), text("1X"), true},
      {bits("001x"), text("001x"), false},
      {bits("1" + std::string(128, '0')), text("340282366920938463463374607431768211456"), true},
  };
  for (const Row& row : rows) {
    if (values_agree(row.a, row.b) != row.agree || values_agree(row.b, row.a) != row.agree) {
      check::fail(__FILE__, __LINE__,
                  "values_agree(" + describe(row.a) + ", " + describe(row.b) + ") should be " +
                      (row.agree ? "true" : "false"));
    }
  }
}

TEST_CASE("merge of one signal") {
  const Changes none;
  struct Row {
    Changes first;
    Changes second;
    std::string_view expected;
  };
  const Row rows[] = {
      {none, none, ""},
      {{{0, bits("0")}, {5, bits("1")}}, {{0, bits("0")}, {5, bits("1")}}, ""},
      // Both sides start unknown.
      {{{5, bits("1")}}, {{10, bits("1")}}, "5 text:1/text:x?"},
      {{{5, bits("1")}}, none, "5 text:1/text:x?"},
      // Values hold until the next change.
      {{{0, bits("0")}, {10, bits("1")}},
       {{0, bits("0")}, {5, bits("1")}, {10, bits("1")}},
       "5 text:0/text:1"},
      // Same-time changes collapse into the last one.
      {{{10, bits("1")}, {10, bits("0")}}, {{10, bits("0")}}, ""},
      {{{10, bits("1")}, {10, bits("0")}}, {{10, bits("1")}}, "10 text:0/text:1"},
      // A change at the largest time is never applied.
      {{{0, bits("1")}, {kMaxTime, bits("0")}}, {{0, bits("1")}, {kMaxTime, bits("1")}}, ""},
      {{{kMaxTime, bits("1")}}, none, ""},
      {{{kMaxTime, bits("1")}}, {{3, bits("1")}}, "3 text:x/text:1?"},
      // Different spellings of one value agree.
      {{{0, bits("1")}, {1, real(0.0)}}, {{0, integer(1)}, {1, bits("0")}}, ""},
      {{{0, integer(1)}}, {{0, bits("1")}, {2, real(-0.0)}}, "2 int:1/real:-0"},
      // 'bx1' against 'b01': not unknown; 'bx' against 'b1': unknown.
      {{{0, bits("x1")}}, {{0, integer(1)}}, "0 text:x1/int:1"},
      {{{0, bits("x")}}, {{0, integer(1)}}, "0 text:x/int:1?"},
      // Mismatches come out in time order; values are copied.
      {{{1, text("Busy")}, {4, text("Done")}},
       {{2, text("busy")}, {3, text("Idle")}},
       "1 text:Busy/text:x?; 3 text:Busy/text:Idle; 4 text:Done/text:Idle"},
  };
  for (const Row& row : rows) CHECK_EQ(merge(row.first, row.second), row.expected);
}

TEST_CASE("merge options: ignore_unknown and max_mismatches") {
  const Changes first = {{1, bits("0")}, {2, bits("0")}, {3, bits("0")}, {4, bits("x1")}};
  const Changes second = {{0, bits("1")}, {2, bits("1")}, {3, bits("1")}, {4, integer(1)}};
  const std::string all =
      "0 text:x/text:1?; 1 text:0/text:1; 2 text:0/text:1; "
      "3 text:0/text:1; 4 text:x1/int:1";
  CHECK_EQ(merge(first, second), all);

  ComparisonOptions options;
  options.ignore_unknown = true;
  CHECK_EQ(merge(first, second, options),
           "1 text:0/text:1; 2 text:0/text:1; 3 text:0/text:1; 4 text:x1/int:1");
  CHECK_EQ(merge({{5, bits("1")}}, {{10, bits("1")}}, options), "");
  CHECK_EQ(merge({{0, bits("Z")}}, {{0, real(1.5)}}, options), "");

  options.ignore_unknown = false;
  struct Limit {
    std::size_t max;
    std::string_view expected;
  };
  for (const Limit& limit :
       {Limit{0, "0 text:x/text:1?"}, Limit{1, "0 text:x/text:1?"},
        Limit{2, "0 text:x/text:1?; 1 text:0/text:1"}, Limit{5, all}, Limit{100, all}}) {
    options.max_mismatches = limit.max;
    CHECK_EQ(merge(first, second, options), limit.expected);
  }
  // The limit counts recorded mismatches, after ignore_unknown has skipped some.
  options.ignore_unknown = true;
  options.max_mismatches = 1;
  CHECK_EQ(merge(first, second, options), "1 text:0/text:1");
}

namespace {

constexpr std::string_view kSearchFile =
    "$timescale 1ns $end\n"
    "$scope module top $end\n"
    "$var wire 1 ! clk $end\n"
    "$var wire 8 \" bus $end\n"
    "$var real 1 # r $end\n"
    "$var string 1 $ state $end\n"
    "$upscope $end\n"
    "$enddefinitions $end\n"
    "#0\n$dumpvars\n0!\nb0 \"\nr0 #\nsIdle $\n$end\n"
    "#5\n1!\nb11111111 \"\nr2.5 #\nsBUSY $\n"
    "#10\n0!\nbx1 \"\n"
    "#15\n1!\nb1111 \"\nr2 #\n"
    "#20\n0!\nb0x1 \"\n"
    "#25\n1!\n"
    "#30\n";

// "time value" of the search result, "none" when not found, or the error text.
std::string search(const std::string& path, const std::string& signal, std::string_view target,
                   std::size_t occurrence = 1, std::optional<std::uint64_t> start = std::nullopt,
                   std::optional<std::uint64_t> end = std::nullopt) {
  const auto found =
      find_nth_occurrence(path, signal, parse_target_value(target), occurrence, start, end);
  if (!found) return "! " + found.error().text();
  if (!*found) return "none";
  CHECK_EQ((*found)->signal, signal);
  CHECK((*found)->signal.data() == signal.data());
  return std::to_string((*found)->time) + " " + display_text((*found)->value);
}

}  // namespace

TEST_CASE("find_nth_occurrence") {
  const TempFile file(kSearchFile);
  const std::string& path = file.path();
  CHECK_EQ(search(path, "top.clk", "1"), "5 1");
  CHECK_EQ(search(path, "top.clk", "1", 3), "25 1");
  CHECK_EQ(search(path, "top.clk", "1", 4), "none");
  CHECK_EQ(search(path, "top.clk", "1", 1, 10), "15 1");
  CHECK_EQ(search(path, "top.clk", "1", 2, std::nullopt, 15), "15 1");
  CHECK_EQ(search(path, "top.clk", "1", 2, std::nullopt, 14), "none");
  CHECK_EQ(search(path, "top.clk", "1", 1, 30, 10), "none");
  CHECK_EQ(search(path, "top.clk", " X "), "none");
  // Integers by decimal text, whatever the spelling of the target.
  CHECK_EQ(search(path, "top.bus", "0xFF"), "5 255");
  CHECK_EQ(search(path, "top.bus", " 255 "), "5 255");
  CHECK_EQ(search(path, "top.bus", "11111111"), "none");
  CHECK_EQ(search(path, "top.bus", "0X0f"), "15 15");
  CHECK_EQ(search(path, "top.bus", "0", 2), "none");
  // Vectors with x bits by their exact characters; "0x1" reads as a number.
  CHECK_EQ(search(path, "top.bus", "X1"), "10 x1");
  CHECK_EQ(search(path, "top.bus", "0x1"), "none");
  // Reals by display text, strings regardless of case, reported as written.
  CHECK_EQ(search(path, "top.r", "2.5"), "5 2.5");
  CHECK_EQ(search(path, "top.r", "2"), "15 2");
  CHECK_EQ(search(path, "top.r", "2.0"), "none");
  CHECK_EQ(search(path, "top.state", "busy"), "5 BUSY");
  CHECK_EQ(search(path, "top.state", "IDLE"), "0 Idle");

  CHECK_EQ(search(path, "top.nope", "1"), "! signal not found in VCD: top.nope");
  CHECK_EQ(search(path, "top.clk", "1", 0), "! occurrence must be >= 1");
  CHECK_EQ(search("/nonexistent/quarnel.vcd", "top.clk", "1", 0), "! occurrence must be >= 1");
  CHECK(search("/nonexistent/quarnel.vcd", "top.clk", "1").starts_with("! I/O error: "));
}

TEST_CASE("find_nth_occurrence stops reading at the match") {
  const TempFile file(std::string(kSearchFile) + "1!\n#35\n#oops\n");
  CHECK_EQ(search(file.path(), "top.clk", "1", 3), "25 1");
  CHECK_EQ(search(file.path(), "top.clk", "1", 4), "30 1");
  CHECK(search(file.path(), "top.clk", "1", 5).starts_with("! I/O error: "));
  CHECK_EQ(search(file.path(), "top.clk", "1", 5, std::nullopt, 34), "none");
}

TEST_CASE("collect_signal_values") {
  const TempFile file(kSearchFile);
  const auto header = read_signals_with_offset(file.path());
  CHECK(header.has_value());
  const auto values = collect_signal_values(file.path(), *header,
                                            {"top.r", "no.such", "top.r", "top.state"}, 5, 15);
  CHECK(values.has_value());
  // A name given twice collects each change once; an undeclared one collects nothing.
  CHECK_EQ(values->list_of[0], values->list_of[2]);
  const auto changes = [&](std::size_t name) {
    std::string out;
    const SignalChanges changes = values->changes_of(name);
    for (const Change& change : changes.list.changes(changes.times))
      out += (out.empty() ? "" : "; ") + std::to_string(change.time) + " " + describe(change.value);
    return out;
  };
  CHECK_EQ(changes(0), "5 real:2.5; 15 real:2");
  CHECK_EQ(changes(1), "");
  CHECK_EQ(changes(2), "5 real:2.5; 15 real:2");
  CHECK_EQ(changes(3), "5 text:BUSY");
}

namespace {

std::string vcd_file(std::string_view declarations, std::string_view body) {
  return "$timescale 1ns $end\n$scope module top $end\n" + std::string(declarations) +
         "$upscope $end\n$enddefinitions $end\n" + std::string(body);
}

std::string names(const std::vector<std::string>& list) {
  std::string out;
  for (const std::string& name : list) out += (out.empty() ? "" : " ") + name;
  return out;
}

// Every field of the result on one line each.
std::string describe(const ComparisonResult& r) {
  std::string out =
      std::string(r.passed ? "passed" : "failed") + "\ncommon: " + names(r.common_signals) +
      "\nonly1: " + names(r.signals_only_in_file1) + "\nonly2: " + names(r.signals_only_in_file2) +
      "\n" + std::to_string(r.total_mismatches) + " in " +
      std::to_string(r.signals_with_mismatches) + "\n";
  for (const SignalMismatch& m : r.mismatches) out += m.signal + " " + describe({m}) + "\n";
  return out;
}

std::string compare(const TempFile& a, const TempFile& b, const ComparisonOptions& options = {}) {
  const auto result = compare_vcd_files(a.path(), b.path(), options);
  if (!result) return "! " + result.error().text();
  CHECK_EQ(result->file1, a.path());
  CHECK_EQ(result->file2, b.path());
  CHECK_EQ(result->total_mismatches, result->mismatches.size());
  CHECK_EQ(result->passed, result->mismatches.empty());
  return describe(*result);
}

}  // namespace

TEST_CASE("compare_vcd_files: signal lists and selection") {
  const TempFile a(
      vcd_file("$var wire 1 ! b $end\n$var wire 1 \" a_b $end\n$var wire 1 # only_a $end\n"
               "$var wire 1 $ \u00E9 $end\n$var wire 1 % a $end\n$var wire 1 & Z $end\n"
               "$var wire 1 ' first $end\n",
               "#0\n1!\n1\"\n1$\n1%\n1&\n"));
  const TempFile b(
      vcd_file("$var wire 1 ! second $end\n$var wire 1 \" Z $end\n$var wire 1 # a $end\n"
               "$var wire 1 $ \u00E9 $end\n$var wire 1 % a_b $end\n$var wire 1 & b $end\n"
               "$var wire 1 ' another $end\n",
               "#0\n0\"\n0#\n0$\n1%\n1&\n"));
  CHECK_EQ(compare(a, a),
           "passed\ncommon: top.Z top.a top.a_b top.b top.first top.only_a top.\u00E9\n"
           "only1: \nonly2: \n0 in 0\n");
  CHECK_EQ(compare(a, b),
           "failed\ncommon: top.Z top.a top.a_b top.b top.\u00E9\n"
           "only1: top.only_a top.first\nonly2: top.second top.another\n3 in 3\n"
           "top.Z 0 text:1/text:0\ntop.a 0 text:1/text:0\ntop.\u00E9 0 text:1/text:0\n");

  ComparisonOptions options;
  options.signals = {"top.\u00E9", "top.only_a", "no.such", "top.a", "top.\u00E9"};
  CHECK_EQ(compare(a, b, options),
           "failed\ncommon: top.Z top.a top.a_b top.b top.\u00E9\n"
           "only1: top.only_a top.first\nonly2: top.second top.another\n2 in 2\n"
           "top.a 0 text:1/text:0\ntop.\u00E9 0 text:1/text:0\n");
  options.signals = {"no.such"};
  CHECK(compare(a, b, options).starts_with("passed\ncommon: top.Z top.a top.a_b"));
  options.signals = {};
  options.max_mismatches = 0;
  CHECK(compare(a, b, options).find("3 in 3\n") != std::string::npos);
}

TEST_CASE("compare_vcd_files: values over time") {
  const std::string declarations =
      "$var wire 4 ! v $end\n$var wire 1 \" s $end\n$var real 1 # r $end\n"
      "$var string 1 $ t $end\n";
  const TempFile a(vcd_file(declarations,
                            "#0\nb0001 !\n1\"\nr1 #\nsABC $\n#5\nb1010 !\n#10\n0\"\n1\"\n"
                            "#18446744073709551615\n0\"\n"));
  const TempFile b(vcd_file(declarations,
                            "#0\nb1 !\nb1 \"\nb1 #\nsabc $\n#5\nb1011 !\n#10\n1\"\n#12\nr-0 #\n"
                            "#18446744073709551615\n1\"\n"));
  CHECK_EQ(compare(a, b),
           "failed\ncommon: top.r top.s top.t top.v\nonly1: \nonly2: \n2 in 2\n"
           "top.r 12 real:1/real:-0\ntop.v 5 int:10/int:11\n");

  // A window: nothing is carried into it, so both sides begin unknown.
  ComparisonOptions options;
  options.start = 5;
  CHECK_EQ(compare(a, b, options),
           "failed\ncommon: top.r top.s top.t top.v\nonly1: \nonly2: \n2 in 2\n"
           "top.r 12 text:x/real:-0?\ntop.v 5 int:10/int:11\n");
  options.ignore_unknown = true;
  CHECK(compare(a, b, options).find("1 in 1\ntop.v 5 int:10/int:11\n") != std::string::npos);
  // A window holding no change at all.
  options.start = 20;
  options.end = 30;
  CHECK(compare(a, b, options).starts_with("passed\n"));
}

TEST_CASE("compare_vcd_files: errors, first file first") {
  const TempFile good(vcd_file("$var wire 1 ! s $end\n", "#0\n1!\n"));
  const TempFile no_end("$scope module top $end\n$var wire 1 ! s $end\n");
  const TempFile bad1(vcd_file("$var wire 1 ! s $end\n", "#0\n1!\n#5\n#x\n"));
  const TempFile bad2(vcd_file("$var wire 1 ! other $end\n", "#0\n#5\n\n\n#y\n"));
  const std::string missing = "! missing $enddefinitions marker in VCD file";
  const std::string body1 = compare(bad1, good);
  const std::string body2 = compare(good, bad2);
  CHECK(body1.starts_with("! I/O error: ") && body1.ends_with(" at line 4"));
  CHECK(body2.starts_with("! I/O error: ") && body2.ends_with(" at line 5"));

  CHECK_EQ(compare(no_end, bad1), missing);
  CHECK_EQ(compare(bad1, no_end), missing);
  CHECK_EQ(compare(bad1, bad2), body1);
  CHECK_EQ(compare(bad2, bad1), compare(bad2, good));
  // No common signal: the second body is read and its damage reported all the same.
  CHECK_EQ(compare(good, bad2), body2);
  ComparisonOptions options;
  options.signals = {"top.s"};
  CHECK_EQ(compare(bad1, bad2, options), body1);
  // Reading stops at the first timestamp past `end`.
  options.end = 0;
  CHECK(compare(bad1, bad2, options).starts_with("passed\n"));

  const auto absent = compare_vcd_files("/nonexistent/one.vcd", no_end.path(), {});
  CHECK(error_text(absent).starts_with("I/O error: "));
  CHECK_EQ(error_text(compare_vcd_files(no_end.path(), "/nonexistent/two.vcd", {})),
           missing.substr(2));
}

TEST_CASE("change lists give back every value exactly") {
  const double nan = std::bit_cast<double>(std::uint64_t{0x7FF8000000000001});
  const std::vector<ChangeValue> values = {text("0"),
                                           text("1"),
                                           text("x"),
                                           text("z"),
                                           text("X"),
                                           text(""),
                                           text("x1"),
                                           text("\u00C4"),
                                           text(std::string(300, 'a')),
                                           integer(0),
                                           integer(1),
                                           integer(kMax128),
                                           integer(u128{1} << 64),
                                           real(0.0),
                                           real(-0.0),
                                           real(nan),
                                           real(-INFINITY)};
  // Several changes at one stamp, stamps far apart, times that go back and forth.
  const std::uint64_t stamps[] = {0,      0,      1,      2,      2,      200,
                                  201,    100000, 100000, 100001, 100001, 100002,
                                  300000, 300000, 300001, 300002, 300003};
  CHECK_EQ(std::size(stamps), values.size());
  Timeline timeline(300004);
  for (std::size_t i = 0; i < timeline.size(); ++i)
    timeline[i] = i % 2 == 0 ? i * 1000 : kMaxTime - i;
  ChangeList list;
  std::vector<Change> expected;
  for (std::size_t i = 0; i < values.size() && i < std::size(stamps); ++i) {
    list.add(stamps[i], values[i]);
    expected.push_back(Change{timeline[stamps[i]], values[i]});
  }
  const std::vector<Change> changes = list.changes(timeline);
  // Vectors: numbers up to 128 bits, their bit characters otherwise.
  ChangeList vectors;
  vectors.add_vector(0, "0001");
  vectors.add_vector(0, std::string(128, '1'));
  vectors.add_vector(0, "1" + std::string(128, '0'));
  vectors.add_vector(0, "0x1");
  vectors.add_scalar(0, vcd::Value::HighImpedance);
  std::string unpacked;
  for (const Change& change : vectors.changes({0})) unpacked += describe(change.value) + " ";
  CHECK_EQ(unpacked, "int:1 int:" + std::string(kMax128Digits) + " text:1" + std::string(128, '0') +
                         " text:0x1 text:z ");
  // Every width, with an x at every place.
  for (std::size_t width = 1; width <= 130; ++width) {
    std::string bits;
    u128 number = 0;
    for (std::size_t i = 0; i < width; ++i) {
      bits += (i * 7 + width) % 3 == 0 ? '1' : '0';
      number = (number << 1) | static_cast<u128>(bits.back() == '1');
    }
    ChangeList list;
    list.add_vector(0, bits);
    const std::string expected =
        width <= 128 ? "int:" + display_text(ChangeValue{number}) : "text:" + bits;
    CHECK_EQ(describe(list.changes({0}).at(0).value), expected);
    for (std::size_t x = 0; x < width; x += 5) {
      std::string unknown = bits;
      unknown[x] = 'x';
      ChangeList with_x;
      with_x.add_vector(0, unknown);
      CHECK_EQ(describe(with_x.changes({0}).at(0).value), "text:" + unknown);
    }
  }
}

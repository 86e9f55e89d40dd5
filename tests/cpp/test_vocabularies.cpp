// Identifier codes, type keywords, time units, bit indices and the numbers of VCD tokens.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "check.hpp"
#include "vcd/idcode.hpp"
#include "vcd/number.hpp"
#include "vcd/scope.hpp"
#include "vcd/timescale.hpp"
#include "vcd/var.hpp"

using namespace vcd;
using namespace std::string_view_literals;

namespace {

// The value or the error text, so that one table column covers both.
std::string id_code_result(std::string_view text) {
  const auto code = parse_id_code(text);
  return code ? std::to_string(code->value) : std::string(to_text(code.error()));
}

template <class T>
std::string number_result(const std::expected<T, ParseErrorKind>& value) {
  return value ? std::to_string(*value) : std::string(parse_error_text(value.error()));
}

}  // namespace

TEST_CASE("identifier codes are bijective base 94 with the first character least significant") {
  struct Row {
    std::string_view text;
    std::string_view expected;
  };
  const Row rows[] = {{"!", "0"},
                      {"~", "93"},
                      {"!!", "94"},
                      {"#!", "96"},
                      {"!#", "282"},
                      {"~~", "8929"},
                      {"!!!", "8930"},
                      {"~~~~~~~~~", "579156036661182473"},
                      // Ten characters fit only while the value does.
                      {"!!!!!!!!!@", "18341994905748300298"},
                      {"!!!!!!!!!A", "ID too long"},
                      {"~~~~~~~~~~", "ID too long"},
                      {"~~~~~~~~~~~", "ID too long"},
                      {"", "ID cannot be empty"},
                      {"a b", "invalid characters in ID"},
                      {"\x7F", "invalid characters in ID"},
                      {"\xC3\xA9", "invalid characters in ID"},
                      // Characters are taken from the last: whichever fault comes first there wins.
                      {"~~~~~~~~~~~ ", "invalid characters in ID"},
                      {" ~~~~~~~~~~~", "ID too long"}};
  for (const Row& row : rows) CHECK_EQ(id_code_result(row.text), row.expected);
}

TEST_CASE("variable types, scope types and time units accept exactly their keywords") {
  const std::string_view var_types[] = {
      "event",  "integer", "parameter", "real", "reg",  "supply0", "supply1", "time", "tri",
      "triand", "trior",   "trireg",    "tri0", "tri1", "wand",    "wire",    "wor",  "string"};
  for (std::size_t i = 0; i < std::size(var_types); ++i) {
    CHECK(parse_var_type(var_types[i]) == static_cast<VarType>(i));
    CHECK_EQ(to_text(static_cast<VarType>(i)), var_types[i]);
  }
  for (std::string_view bad :
       {"Wire"sv, "WIRE"sv, "logic"sv, "bit"sv, "int"sv, "uwire"sv, "wire "sv, ""sv, "tri2"sv})
    CHECK(!parse_var_type(bad));

  const std::string_view scope_types[] = {"module", "task", "function", "begin", "fork"};
  for (std::size_t i = 0; i < std::size(scope_types); ++i)
    CHECK(parse_scope_type(scope_types[i]) == static_cast<ScopeType>(i));
  for (std::string_view bad : {"Module"sv, "generate"sv, "interface"sv, ""sv, "module\0"sv})
    CHECK(!parse_scope_type(bad));

  const std::string_view units[] = {"s", "ms", "us", "ns", "ps", "fs"};
  for (std::size_t i = 0; i < std::size(units); ++i) {
    const auto unit = parse_timescale_unit(units[i]);
    CHECK(unit == static_cast<TimescaleUnit>(i));
    if (unit) CHECK_EQ(to_text(*unit), units[i]);
  }
  for (std::string_view bad : {"NS"sv, "Ns"sv, "sec"sv, " ns"sv, "ns "sv, "as"sv, ""sv, "1ns"sv})
    CHECK(!parse_timescale_unit(bad));
}

TEST_CASE("reference indices parse and print in canonical form") {
  // Unicode whitespace inside the brackets (here no-break and em space) is trimmed.
  const std::pair<std::string_view, std::string_view> accepted[] = {
      {"[3]", "[3]"},          {"[+3]", "[3]"},
      {"[-1]", "[-1]"},        {"[007]", "[7]"},
      {"[-0]", "[0]"},         {"[7:0]", "[7:0]"},
      {"[0:7]", "[0:7]"},      {"[31:-4]", "[31:-4]"},
      {"[ 3 ]", "[3]"},        {"[\u00A03\u2003]", "[3]"},
      {"[ 7 : +0 ]", "[7:0]"}, {"[2147483647:-2147483648]", "[2147483647:-2147483648]"}};
  for (const auto& [text, printed] : accepted) {
    const auto index = parse_reference_index(text);
    CHECK_EQ(index ? to_text(*index) : "refused", printed);
  }
  // The last one is ARABIC-INDIC DIGIT THREE: only ASCII digits count.
  for (std::string_view bad : {"[2147483648]"sv, "[-2147483649]"sv, "[]"sv, "[:]"sv, "[1:]"sv,
                               "[:1]"sv, "[a]"sv, "[+]"sv, "[- 1]"sv, "[7:0:1]"sv, "[3"sv, "[3)"sv,
                               "3]"sv, "["sv, "]"sv, "[[3]"sv, "[0x1]"sv, "[\xD9\xA3]"sv})
    CHECK(!parse_reference_index(bad));
  CHECK((parse_reference_index("[7:0]") == ReferenceIndex{Range{7, 0}}));
  CHECK((parse_reference_index("[3]") == ReferenceIndex{BitSelect{3}}));
}

TEST_CASE("unsigned integers: limits, sign and the first fault met") {
  struct Row {
    std::string_view text;
    std::string_view u32;
    std::string_view u64;
  };
  constexpr std::string_view kEmpty = "cannot parse integer from empty string";
  constexpr std::string_view kDigit = "invalid digit found in string";
  constexpr std::string_view kLarge = "number too large to fit in target type";
  const Row rows[] = {{"0", "0", "0"},
                      {"+7", "7", "7"},
                      {"000000000000000000000000042", "42", "42"},
                      {"4294967295", "4294967295", "4294967295"},
                      {"4294967296", kLarge, "4294967296"},
                      {"18446744073709551615", kLarge, "18446744073709551615"},
                      {"18446744073709551616", kLarge, kLarge},
                      {"", kEmpty, kEmpty},
                      {"+", kDigit, kDigit},
                      {"-", kDigit, kDigit},
                      {"-0", kDigit, kDigit},
                      {"++1", kDigit, kDigit},
                      {" 1", kDigit, kDigit},
                      {"1 ", kDigit, kDigit},
                      {"1x99999999999999999999", kDigit, kDigit},
                      {"99999999999x", kLarge, kDigit},
                      {"99999999999999999999x", kLarge, kLarge}};
  for (const Row& row : rows) {
    CHECK_EQ(number_result(parse_u32(row.text)), row.u32);
    CHECK_EQ(number_result(parse_u64(row.text)), row.u64);
  }
}

TEST_CASE("real numbers: grammar, special words and nearest rounding") {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Row {
    std::string_view text;
    double expected;
  };
  const Row accepted[] = {
      {"1.5e3", 1500.0},
      {"-0.25", -0.25},
      {"+2", 2.0},
      {"1.", 1.0},
      {".5", 0.5},
      {"1E+2", 100.0},
      {"1.5e-3", 0.0015},
      {"007.50", 7.5},
      {"inf", kInf},
      {"Infinity", kInf},
      {"INFINITY", kInf},
      {"-iNf", -kInf},
      {"1e400", kInf},
      {"-1e400", -kInf},
      {"1e-400", 0.0},
      {"0e999999999999999999999", 0.0},
      {"3e-324", std::numeric_limits<double>::denorm_min()},
      // 2^53 + 1 lies halfway and rounds to even; a single further digit tips it up.
      {"9007199254740993", 9007199254740992.0},
      {"9007199254740993.0000000000000000000000000001", 9007199254740994.0},
      {"0.1000000000000000055511151231257827021181583404541015625", 0.1}};
  for (const Row& row : accepted) {
    const auto value = parse_real(row.text);
    CHECK(value.has_value());
    if (value) CHECK_EQ(*value, row.expected);
  }
  CHECK(std::signbit(*parse_real("-1e-400")));
  for (std::string_view word : {"nan"sv, "NaN"sv, "-NAN"sv, "+nAn"sv}) {
    const auto value = parse_real(word);
    CHECK(value && std::isnan(*value));
  }
  for (std::string_view bad :
       {"1,5"sv, "1e"sv, "1e+"sv, "."sv, "+"sv, "-"sv, "e5"sv, ".e5"sv, "1.5.2"sv, "0x10"sv,
        "1_000"sv, " 1"sv, "infin"sv, "nan1"sv, "--1"sv, "1e5.0"sv, "\xEF\xBC\x91"sv})
    CHECK_EQ(number_result(parse_real(bad)), "invalid float literal");
  CHECK_EQ(number_result(parse_real("")), "cannot parse float from empty string");
}

// The command reader: declaration and value commands, errors with their lines, and
// both byte sources.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <type_traits>

#include "check.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/parser.hpp"

using namespace vcd;
using namespace std::string_view_literals;

namespace {

// Concatenates texts and numbers.
template <class... Parts>
std::string cat(const Parts&... parts) {
  std::string out;
  const auto add = [&out](const auto& part) {
    if constexpr (std::is_arithmetic_v<std::decay_t<decltype(part)>>) {
      out += std::to_string(part);
    } else {
      out += part;
    }
  };
  (add(parts), ...);
  return out;
}

std::string describe(const Command& command) {
  constexpr std::string_view kSections[] = {"dumpall", "dumpoff", "dumpon", "dumpvars"};
  struct Visitor {
    const std::string_view* sections;
    std::string operator()(const cmd::Comment& c) { return cat("comment[", c.text, "]"); }
    std::string operator()(const cmd::Date& c) { return cat("date[", c.text, "]"); }
    std::string operator()(const cmd::Version& c) { return cat("version[", c.text, "]"); }
    std::string operator()(const cmd::Timescale& c) {
      return cat("timescale ", c.value.magnitude, to_text(c.value.unit));
    }
    std::string operator()(const cmd::ScopeDecl& c) {
      return cat("scope ", to_text(c.scope_type), " ", c.name);
    }
    std::string operator()(const cmd::Upscope&) { return "upscope"; }
    std::string operator()(const cmd::VarDecl& c) {
      return cat("var ", to_text(c.var_type), " ", c.width, " ", c.id_code.value, " ", c.reference,
                 c.reference_index ? " " : "",
                 c.reference_index ? to_text(*c.reference_index) : "");
    }
    std::string operator()(const cmd::EndDefinitions&) { return "enddefinitions"; }
    std::string operator()(const cmd::Timestamp& c) { return cat("#", c.time); }
    std::string operator()(const cmd::ScalarChange& c) {
      return cat(to_text(c.value), "@", c.id_code.value);
    }
    std::string operator()(const cmd::VectorChange& c) {
      return cat("b", c.vector.bits, "@", c.id_code.value);
    }
    std::string operator()(const cmd::RealChange& c) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%g", c.value);
      return cat("r", std::string_view(buf), "@", c.id_code.value);
    }
    std::string operator()(const cmd::StringChange& c) {
      return cat("s", c.text, "@", c.id_code.value);
    }
    std::string operator()(const cmd::SimulationBegin& c) {
      return cat("begin ", sections[static_cast<int>(c.command)]);
    }
    std::string operator()(const cmd::SimulationEnd& c) {
      return cat("end ", sections[static_cast<int>(c.command)]);
    }
  };
  return std::visit(Visitor{kSections}, command);
}

// Every command of `parser` joined by " | "; an error ends the list as "! text".
template <class Source>
std::string run(Parser<Source>& parser) {
  std::string out;
  for (;;) {
    auto command = parser.next();
    if (!command) return out + (out.empty() ? "! " : " | ! ") + command.error().text;
    if (!*command) return out;
    out += (out.empty() ? "" : " | ") + describe(**command);
  }
}

std::string run(std::string_view text) {
  Parser<MemorySource> parser{MemorySource(text)};
  return run(parser);
}

struct Row {
  std::string_view input;
  std::string_view expected;
};

void check_rows(std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    const std::string actual = run(row.input);
    if (actual != row.expected) {
      check::fail(__FILE__, __LINE__,
                  "input " + check::show_text(row.input) + "\n  actual:   " +
                      check::show_text(actual) + "\n  expected: " + check::show_text(row.expected));
    }
  }
}

}  // namespace

TEST_CASE("declaration commands") {
  check_rows({
      {"$timescale 1ns $end\n", "timescale 1ns"},
      {"$timescale 10 ps $end\n", "timescale 10ps"},
      {"$timescale\n100\nus\n$end\n", "timescale 100us"},
      {"$timescale 0s $end ", "timescale 0s"},
      {"$timescale 99999999 fs $end ", "timescale 99999999fs"},
      {"$scope module top $end\n", "scope module top"},
      {"$scope fork \\odd[name] $end\n", "scope fork \\odd[name]"},
      {"$ scope task t $end\n", "scope task t"},
      {"$upscope $end\n", "upscope"},
      {"$var wire 1 ! clk $end\n", "var wire 1 0 clk"},
      {"$var wire 8 # data [7:0] $end\n", "var wire 8 2 data [7:0]"},
      {"$var wire 8 # data[7:0] $end\n", "var wire 8 2 data[7:0]"},
      {"$var reg +4 !! r [-3] $end\n", "var reg 4 94 r [-3]"},
      {"$var string 0 ~ s $end\n", "var string 0 93 s"},
      {"$enddefinitions $end\n", "enddefinitions"},
      {"$comment note$end\n", "comment[note]"},
      {"$comment $end\n", "comment[]"},
      {"$comment$end\n", "! unknown command at line 1"},
      {"$date\n  Mon Jan 1\n$end\n", "date[Mon Jan 1]"},
      {"$version v $ end $end\n", "version[v $ end]"},
      // Unicode whitespace is trimmed from string commands only: NBSP, EM SPACE, NEL, FF.
      {"$comment \xC2\xA0x y\xE2\x80\x83\xC2\x85\f$end ", "comment[x y]"},
      {"$comment a$enddefinitions",
       "comment[a] | ! unexpected character at start of command at line 1"},
  });
}

TEST_CASE("value commands") {
  check_rows({
      {"#0\n$dumpvars\nb0 #\n1!\n$end\n#10\n0!\n",
       "#0 | begin dumpvars | b0@2 | 1@0 | end dumpvars | #10 | 0@0"},
      {"x1 X1 Z! z! 0 !\n", "x@16 | x@16 | z@0 | z@0 | 0@0"},
      {"b0101zX ! B1 \" b\n 01 #\n", "b0101zx@0 | b1@1 | b01@2"},
      {"r1.5e3 ! R-0.25 ! rinf ! rNaN ! r.5 !\n", "r1500@0 | r-0.25@0 | rinf@0 | rnan@0 | r0.5@0"},
      // A real literal has no length limit.
      {"r0.1000000000000000055511151231257827021181583404541015625 !\n", "r0.1@0"},
      {"sHello ! S\xC3\xA9t\xC3\xA9 \" \n", "sHello@0 | s\xC3\xA9t\xC3\xA9@1"},
      {"# 5 #+6 #18446744073709551615\n", "#5 | #6 | #18446744073709551615"},
      {"$dumpall $dumpoff $end $dumpon $end\n",
       "begin dumpall | begin dumpoff | end dumpoff | begin dumpon | end dumpon"},
      {"$dumpvars\n$dumpvars\n$end\n$end\n",
       "begin dumpvars | begin dumpvars | end dumpvars | ! unmatched `$end` at line 4"},
      {"$comment c $end $var wire 1 ! a $end\n", "comment[c] | var wire 1 0 a"},
      {"", ""},
      {" \t\r\n", ""},
  });
  // A long vector is read whole, and end of commands is reported again on later calls.
  const std::string long_vector = cat("b1", std::string(300, '0'), " !\n");
  Parser<MemorySource> parser{MemorySource(long_vector)};
  CHECK_EQ(run(parser), cat("b1", std::string(300, '0'), "@0"));
  auto again = parser.next();
  CHECK(again && !*again);
}

TEST_CASE("every parse error kind with its text and line") {
  check_rows({
      {"\n\n\xFF", "! unexpected character at start of command at line 3"},
      {"u!\n", "! unexpected character at start of command at line 1"},
      {"\f#1\n", "! unexpected character at start of command at line 1"},
      {"$var wire 1 ! \xC3 $end\n", "! invalid UTF-8 at line 1"},
      // Every declaration token that is not UTF-8 fails as such, before its own parse;
      // one that is UTF-8 but not ASCII fails its parse.
      {"$var w\xFFre 1 ! a $end\n", "! invalid UTF-8 at line 1"},
      {"$var wire \xFF ! a $end\n", "! invalid UTF-8 at line 1"},
      {"$var wire 1 \xFF a $end\n", "! invalid UTF-8 at line 1"},
      {"$var wire 1 ! a\n[\xFF] $end\n", "! invalid UTF-8 at line 2"},
      {"$var wire 1 ! a [0] $e\xFF"
       "d\n",
       "! invalid UTF-8 at line 1"},
      {"$var wire 1 ! a $e\xFF"
       "d\n",
       "! invalid UTF-8 at line 1"},
      {"$scope m\xFF"
       "dule top $end\n",
       "! invalid UTF-8 at line 1"},
      {"$var w\xC3\xA9re 1 ! a $end\n", "! invalid variable type at line 1"},
      {"$var wire \xC3\xA9 ! a $end\n", "! invalid digit found in string at line 1"},
      {"$var wire 1 \xC3\xA9 a $end\n", "! invalid characters in ID at line 1"},
      {"$var wire 1 ! a $\xC3\xA9nd\n", "! expected `$end` at line 1"},
      {"#\xFF\n", "! invalid UTF-8 at line 1"},
      {"$\xFF\xFE\n", "! unknown command at line 1"},
      {"$comment \xC3\x28 $end\n", "! invalid UTF-8 at line 1"},
      {"\n\n\n\n\n\n\n\n\n\n\n$foo\n", "! unknown command at line 12"},
      {"$Var wire 1 ! a $end\n", "! unknown command at line 1"},
      {"$abcdefghijklmnop\n", "! unknown command at line 1"},
      {"$abcdefghijklmnopq\n", "! token too long at line 1"},
      {cat("$var wire 1 ", std::string(33, '!'), " a $end\n"), "! token too long at line 1"},
      {cat("$var wire 1 ", std::string(32, '!'), " a $end\n"), "! ID too long at line 1"},
      {"$timescale 1000000ns $end\n", "! token too long at line 1"},
      {"$upscope $endxxxxx\n", "! token too long at line 1"},
      {"$upscope $endxxxx\n", "! expected `$end` at line 1"},
      {"$scope module top\nextra $end\n", "! expected `$end` at line 2"},
      {"$var wire 1 ! a b $end\n", "! expected `$end` at line 1"},
      {"$var wire 1 ! a [0] [1] $end\n", "! expected `$end` at line 1"},
      {"$end\n", "! unmatched `$end` at line 1"},
      {"$timescale ps $end\n", "! cannot parse integer from empty string at line 1"},
      {"$timescale +1 ns $end\n", "! cannot parse integer from empty string at line 1"},
      {"$timescale \xC2\xB2ns $end\n", "! invalid digit found in string at line 1"},
      {"$timescale x xs $end\n", "! cannot parse integer from empty string at line 1"},
      {"$var wire -1 ! a $end\n", "! invalid digit found in string at line 1"},
      {"$var wire 4294967296 ! a $end\n", "! number too large to fit in target type at line 1"},
      {"#18446744073709551616\n", "! number too large to fit in target type at line 1"},
      {cat("#", std::string(32, '9'), "\n"), "! number too large to fit in target type at line 1"},
      {cat("#", std::string(33, '9'), "\n"), "! token too long at line 1"},
      {cat("$var wire 1 ! a [", std::string(31, '1'), " $end\n"),
       "! invalid reference index at line 1"},
      {cat("$var wire 1 ! a [", std::string(32, '1'), " $end\n"), "! token too long at line 1"},
      {"#-1\n", "! invalid digit found in string at line 1"},
      {"r1,5 !\n", "! invalid float literal at line 1"},
      {cat("r1,5 ", std::string(40, '!'), "\n"), "! invalid float literal at line 1"},
      {"$timescale 1.5ns $end\n", "! invalid timescale unit at line 1"},
      {"$timescale 1 NS $end\n", "! invalid timescale unit at line 1"},
      {"$scope generate g $end\n", "! invalid scope type at line 1"},
      {"$var logic 1 ! a $end\n", "! invalid variable type at line 1"},
      {"$var wire 8 # data [7 : 0] $end\n", "! invalid reference index at line 1"},
      {"$var wire 8 # data [7:0:1] $end\n", "! invalid reference index at line 1"},
      {"b1021 !\n", "! invalid VCD logic value at line 1"},
      {"bu !\n", "! invalid VCD logic value at line 1"},
      {"1\xC3\xA9\n", "! invalid characters in ID at line 1"},
      {"$var wire 1 !!!!!!!!!A a $end\n", "! ID too long at line 1"},
  });
}

TEST_CASE("end of input inside a command and line counting") {
  check_rows({
      {"#100", "! unexpected end of VCD file"},
      {"1!", "! unexpected end of VCD file"},
      {"#100\n1!", "#100 | ! unexpected end of VCD file"},
      {"$", "! unexpected end of VCD file"},
      {"$var wire 1 ! clk", "! unexpected end of VCD file"},
      {"$comment never ends", "! unexpected end of VCD file"},
      {"b0101", "! unexpected end of VCD file"},
      {"b \n", "! unexpected end of VCD file"},
      {"r1.5 ", "! unexpected end of VCD file"},
      {"$enddefinitions $end", "! unexpected end of VCD file"},
      {"$enddefinitions $end\n", "enddefinitions"},
      // The line feed that ends a faulty token belongs to that token's line.
      {"$timescale 1 xs\n$end\n", "! invalid timescale unit at line 1"},
      {"#1\n$upscope\n$nope\n", "#1 | ! expected `$end` at line 3"},
      {"#1\r\n#2\r\n#x\r\n", "#1 | #2 | ! invalid digit found in string at line 3"},
      {"#1\r#2\r#x\r", "#1 | #2 | ! invalid digit found in string at line 1"},
      {"$comment\n\n\n$end $foo\n", "comment[] | ! unknown command at line 4"},
  });
}

TEST_CASE("error kinds of the reader error value") {
  // Kinds that no token can produce still have their texts.
  CHECK_EQ(to_string(ParseError{7, ParseErrorKind::IdCodeEmpty}), "ID cannot be empty at line 7");
  CHECK_EQ(to_string(ParseError{2, ParseErrorKind::FloatEmpty}),
           "cannot parse float from empty string at line 2");
  Parser<MemorySource> eof{MemorySource("#1")};
  auto result = eof.next();
  CHECK(!result && result.error().kind == ReaderError::Kind::UnexpectedEof);
  Parser<MemorySource> bad{MemorySource("?")};
  result = bad.next();
  CHECK(!result && result.error().kind == ReaderError::Kind::InvalidData);
}

TEST_CASE("a file source reads commands, and a read error reaches the caller") {
  char path[] = "/tmp/quarnel-parser-XXXXXX";
  const int fd = ::mkstemp(path);
  CHECK(fd >= 0);
  // Longer than one buffer window, so tokens straddle a refill.
  std::string text;
  for (int i = 0; i < 40000; ++i) text += cat("#", i, "\nb1010 !\n");
  text += "$foo\n";
  CHECK_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fd);
  auto file = File::open_read(path);
  CHECK(file.has_value());
  if (file) {
    Parser<FileSource> parser{FileSource(std::move(*file))};
    std::size_t commands = 0;
    Result<std::optional<Command>> command;
    while ((command = parser.next()) && *command) ++commands;
    CHECK_EQ(commands, std::size_t{80000});
    CHECK(!command);
    if (!command) CHECK_EQ(command.error().text, "unknown command at line 80001");
  }
  std::remove(path);

  auto directory = File::open_read("/tmp");
  CHECK(directory.has_value());
  if (directory) {
    Parser<FileSource> parser{FileSource(std::move(*directory))};
    auto result = parser.next();
    CHECK(!result);
    if (!result) {
      CHECK_EQ(result.error().text, "Is a directory (os error 21)");
      CHECK(result.error().kind == ReaderError::Kind::Os);
    }
  }
  auto missing = File::open_read("/nonexistent/quarnel.vcd");
  CHECK(!missing);
  if (!missing) CHECK_EQ(missing.error().text, "No such file or directory (os error 2)");
}

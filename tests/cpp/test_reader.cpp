// The reader where Python cannot reach it directly: the fast roads against the
// byte-by-byte reader, every parse error kind with its line, the scope-line
// rewriting, the number readers' edge cases and the ends of a piece.
#include <bit>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "vcd/chunk_source.hpp"
#include "vcd/code_filter.hpp"
#include "vcd/line_blocks.hpp"
#include "vcd/parser.hpp"
#include "vcd/scope_lines.hpp"

using namespace vcd;
using namespace std::string_view_literals;

namespace {

using Row = std::pair<std::string, std::string_view>;  // an input and what it gives

std::string fingerprint(const Command& command) {
  std::string out = std::to_string(command.index()) + ":";
  std::visit(
      [&out](const auto& c) {
        using C = std::decay_t<decltype(c)>;
        if constexpr (requires { c.id_code; }) out += std::to_string(c.id_code.value) + "=";
        if constexpr (std::is_same_v<C, cmd::Timestamp>) out += std::to_string(c.time);
        if constexpr (std::is_same_v<C, cmd::Change>) {
          out += std::to_string(static_cast<int>(c.value.kind)) + "/";
          switch (c.value.kind) {
            case ChangeView::Kind::Scalar: out += to_text(c.value.scalar); break;
            case ChangeView::Kind::Real:
              out += std::to_string(std::bit_cast<std::uint64_t>(c.value.real));
              break;
            case ChangeView::Kind::Vector:
            case ChangeView::Kind::String: out += c.value.text; break;
          }
        }
        if constexpr (requires { c.text; }) out += c.text;
      },
      command);
  return out;
}

std::string outcome(const Result<void>& result, std::uint64_t line) {
  return (result ? "end" : "error " + result.error().text) + " line " + std::to_string(line);
}

// Every command read byte by byte, then the error or the end with its line.
std::vector<std::string> read_slow(std::string_view body, Dialect dialect = Dialect::specified) {
  Parser<MemorySource> parser{MemorySource(body), dialect};
  std::vector<std::string> seen;
  for (;;) {
    auto command = parser.next_slow();
    if (!command || !*command) {
      seen.push_back(
          outcome(command ? Result<void>() : std::unexpected(command.error()), parser.line()));
      return seen;
    }
    seen.push_back(fingerprint(**command));
  }
}

// The same through for_each_command, which takes the fast roads.
template <class Source>
std::vector<std::string> read_fast(Source source, Dialect dialect = Dialect::specified) {
  Parser<Source> parser{std::move(source), dialect};
  std::vector<std::string> seen;
  const auto result = parser.for_each_command([&](const auto& c) {
    seen.push_back(fingerprint(Command{c}));
    return true;
  });
  seen.push_back(outcome(result, parser.line()));
  return seen;
}

// The first error of a text read byte by byte, or "no error".
std::string first_error(std::string_view text, Dialect dialect = Dialect::specified) {
  const std::string last = read_slow(text, dialect).back();
  return last.starts_with("error ") ? last.substr(6, last.rfind(" line ") - 6) : "no error";
}

// A body written to a file and read there through the fast roads, beside
// the same body read byte by byte from memory.
void check_file_read(const std::string& body, Dialect dialect = Dialect::specified) {
  const check::TempFile file(body);
  auto opened = File::open_read(file.path());
  CHECK(opened.has_value());
  if (opened)
    CHECK_EQ(read_fast(FileSource(std::move(*opened)), dialect), read_slow(body, dialect));
}

// Pieces of value sections, glued with assorted blanks. Those before kFaulty
// are well formed wherever they stand.
const std::vector<std::string> kPieces = {
    "#0", "#18446744073709551615", "# 5", "#+7", "#007", "#1234567890123456789", "1!", "0\"", "x#",
    "Z$", "X%", "z!!", "x~~", "1!!!!!!!", "1~~~~~~~~~", "1!!!!!!!!!@", "b0 !", "b1010 #", "b10xZ $",
    "bXZ01 !", "B11111111111111111 ~~", "b0101010101010101 !", "b01010101010101010x !",
    "b0 !!!!!!!", "x!!!!!!!!", "b" + std::string(70, '1') + "0z0x ~~", "r1.5 !", "r-0.25 \"",
    "rinf #", "rNaN $", "r.5 !", "R1E400 !", "sHello !", "s\xc3\xa9t\xc3\xa9 #", "$dumpvars",
    "$comment x $end", "$var wire 1 ! a $end",
    // kFaulty
    "#18446744073709551616", "#12345678901234567890", "#-1", "#x", "1!!!!!!!!!A", "1\x80", "1!\x7f",
    "0!!!!!!!!", "b1021 !", "b0101", "b1 \x7f", "r1,5 !", "r1e !", "s\xff !", "$end", "$dumpoff",
    "$bogus", "?", "b", "1", "r"};
constexpr std::size_t kFaulty = 37;
const std::vector<std::string> kBlanks = {" ", "\n", "\r\n", "\t", "  \n\n", "\r"};
// What only the extended dialect reads, and its faults: empty vectors, codes
// of value letters after a blank, bits whose code is on a later line.
const std::vector<std::string> kExtendedPieces = {"b H",
                                                  "b 0",
                                                  "b\t0a",
                                                  "b \tzz",
                                                  "b 1 !",
                                                  "b\n1 !",
                                                  "b 0\n!",
                                                  "bUx- #",
                                                  "h!",
                                                  "-0",
                                                  "#3.0",
                                                  "#3.2",
                                                  "$attrbegin x $end",
                                                  "$" + std::string(40, 'k') + " x $end",
                                                  "$k$end",
                                                  "b !\n!",
                                                  "s !",
                                                  "s\tx !",
                                                  "s x\n!"};

std::string random_body(std::mt19937& random, int count, std::size_t pieces, bool lines,
                        const std::vector<std::string>& more = {}) {
  std::string body;
  for (int i = 0; i < count; ++i) {
    const std::size_t pick = random() % (pieces + more.size());
    body += pick < pieces ? kPieces[pick] : more[pick - pieces];
    if (random() % 8 != 0)
      body += lines && random() % 4 != 0 ? "\n" : kBlanks[random() % kBlanks.size()];
  }
  return body;
}

}  // namespace

TEST_CASE("the fast roads read exactly what the byte-by-byte reader reads, in both dialects") {
  for (const Dialect dialect : {Dialect::specified, Dialect::extended}) {
    const bool extended = dialect == Dialect::extended;
    std::mt19937 random(extended ? 20261207 : 20261206);
    for (int round = 0; round < 3000; ++round) {
      // Every other body is a long run of lines, as simulators write them.
      const bool lines = round % 2 == 1;
      const std::string body =
          random_body(random, 1 + static_cast<int>(random() % (lines ? 60 : 12)), kPieces.size(),
                      lines, extended ? kExtendedPieces : std::vector<std::string>{});
      CHECK_EQ(read_fast(MemorySource(body), dialect), read_slow(body, dialect));
    }
  }
  // Bodies longer than a file window: commands and lines across refills.
  std::mt19937 random(20261206);
  for (int round = 0; round < 4; ++round)
    check_file_read(std::string(static_cast<std::size_t>(round) * 7, '\n') +
                    random_body(random, 120000, kFaulty, round % 2 == 0) + "\n$foo\n");
  // Bytes pushed back at a file window's edge.
  for (std::size_t at = FileSource::kBufferSize - 24; at < FileSource::kBufferSize + 4; ++at) {
    const std::string body = std::string(at, '\n') +
                             "$scope module $end\n#5\nb #\nb 0\n!\nb 1 \n\n#6\n"
                             "$scope module $end\n$end\n1!\n";
    check_file_read(body, Dialect::extended);
  }
}

TEST_CASE("comment texts read across file windows, kept or dropped, as from memory") {
  for (std::size_t at = FileSource::kBufferSize - 6; at < FileSource::kBufferSize + 2; ++at) {
    // "$end" and a two-byte character lie across the window's edge.
    const std::string body = "$comment\n" + std::string(at - 12, 'x') + " \xC3\xA9$end\n$foo\n";
    check_file_read(body);
  }
  // Dropped texts are still checked, wherever the fault lies in a long one.
  for (const std::string& text : {std::string("\xFF") + std::string(9000, 'x'),
                                  std::string(9000, 'x') + "\xC3", std::string(9000, 'x')}) {
    const std::string comment = "\n$comment " + text + "\n$end\n";
    Parser<MemorySource> parser{MemorySource(comment)};
    parser.drop_texts();
    const auto command = parser.next_slow();
    const bool valid = text.back() == 'x' && text.front() == 'x';
    CHECK_EQ(command ? std::string("comment") : command.error().text,
             valid ? "comment" : "invalid UTF-8 at line 3");
  }
}

TEST_CASE("an empty vector's or string's code and a fractional time fail on their own line") {
  const Row rows[] = {
      {"b " + std::string(33, '0') + "\n\n#1\n", "token too long at line 1"},
      {"b \xC3\n#1\n", "invalid UTF-8 at line 1"},
      {"b 0a !\n", "invalid VCD logic value at line 1"},
      {"b\n!\n", "invalid VCD logic value at line 2"},
      {"\n#3.2\n", "timestamp with a non-zero fraction at line 2"},
      {"s " + std::string(33, '!') + "\n\n#1\n", "token too long at line 1"},
      {"s \xC3\n#1\n", "invalid UTF-8 at line 1"},
  };
  for (const auto& [input, expected] : rows)
    CHECK_EQ(first_error(input, Dialect::extended), expected);
  // An empty string leaves the next line alone.
  const auto read = read_fast(MemorySource("s !\n#10\n"), Dialect::extended);
  CHECK_EQ(std::vector(read.begin(), read.end() - 1),
           (std::vector{fingerprint(Command{cmd::Change{IdCode{0}, ChangeView::of_string({})}}),
                        fingerprint(Command{cmd::Timestamp{10}})}));
}

TEST_CASE("every parse error kind with its text and line") {
  const Row rows[] = {
      {"\n\n\xFF", "unexpected character at start of command at line 3"},
      {"\f#1\n", "unexpected character at start of command at line 1"},
      {"$comment a$enddefinitions", "unexpected character at start of command at line 1"},
      // Every declaration token that is not UTF-8 fails as such, before its own parse;
      // one that is UTF-8 but not ASCII fails its parse.
      {"$var w\xFFre 1 ! a $end\n", "invalid UTF-8 at line 1"},
      {"$var wire \xFF ! a $end\n", "invalid UTF-8 at line 1"},
      {"$var wire 1 \xFF a $end\n", "invalid UTF-8 at line 1"},
      {"$var wire 1 ! \xC3 $end\n", "invalid UTF-8 at line 1"},
      {"$var wire 1 ! a\n[\xFF] $end\n", "invalid UTF-8 at line 2"},
      {"$var wire 1 ! a $e\xFF"
       "d\n",
       "invalid UTF-8 at line 1"},
      {"$scope m\xFF"
       "dule top $end\n",
       "invalid UTF-8 at line 1"},
      {"$comment \xC3\x28 $end\n", "invalid UTF-8 at line 1"},
      {"#\xFF\n", "invalid UTF-8 at line 1"},
      {"$var w\xC3\xA9re 1 ! a $end\n", "invalid variable type at line 1"},
      {"$var wire \xC3\xA9 ! a $end\n", "invalid digit found in string at line 1"},
      {"$var wire 1 \xC3\xA9 a $end\n", "invalid characters in ID at line 1"},
      {"$var wire 1 ! a $\xC3\xA9nd\n", "expected `$end` at line 1"},
      {"$\xFF\xFE\n", "unknown command at line 1"},
      {"\n\n\n\n\n\n\n\n\n\n\n$foo\n", "unknown command at line 12"},
      {"$comment$end\n", "unknown command at line 1"},
      {"$abcdefghijklmnop\n", "unknown command at line 1"},
      {"$abcdefghijklmnopq\n", "token too long at line 1"},
      {"$var wire 1 " + std::string(33, '!') + " a $end\n", "token too long at line 1"},
      {"$var wire 1 " + std::string(32, '!') + " a $end\n", "ID too long at line 1"},
      {"$var wire 1 !!!!!!!!!A a $end\n", "ID too long at line 1"},
      {"$timescale 1000000ns $end\n", "token too long at line 1"},
      {"$upscope $endxxxxx\n", "token too long at line 1"},
      {"$upscope $endxxxx\n", "expected `$end` at line 1"},
      {"$scope module top\nextra $end\n", "expected `$end` at line 2"},
      {"$var wire 1 ! a [0] [1] $end\n", "expected `$end` at line 1"},
      {"$dumpvars\n$dumpvars\n$end\n$end\n", "unmatched `$end` at line 4"},
      {"$timescale +1 ns $end\n", "cannot parse integer from empty string at line 1"},
      {"$timescale \xC2\xB2ns $end\n", "invalid digit found in string at line 1"},
      {"$var wire 4294967296 ! a $end\n", "number too large to fit in target type at line 1"},
      {"#" + std::string(32, '9') + "\n", "number too large to fit in target type at line 1"},
      {"#" + std::string(33, '9') + "\n", "token too long at line 1"},
      {"$var wire 1 ! a [" + std::string(31, '1') + " $end\n", "invalid reference index at line 1"},
      {"$var wire 8 # data [7 : 0] $end\n", "invalid reference index at line 1"},
      {"r1,5 " + std::string(40, '!') + "\n", "invalid float literal at line 1"},
      {"$timescale 1 NS $end\n", "invalid timescale unit at line 1"},
      {"$scope generate g $end\n", "invalid scope type at line 1"},
      {"$var logic 1 ! a $end\n", "invalid variable type at line 1"},
      {"b1021 !\n", "invalid VCD logic value at line 1"},
      {"1\xC3\xA9\n", "invalid characters in ID at line 1"},
      // End of input inside a command; the line feed that ends a faulty token
      // belongs to that token's line, and a bare CR ends no line.
      {"#100\n1!", "unexpected end of VCD file"},
      {"$comment never ends", "unexpected end of VCD file"},
      {"$enddefinitions $end", "unexpected end of VCD file"},
      {"$timescale 1 xs\n$end\n", "invalid timescale unit at line 1"},
      {"#1\r\n#2\r\n#x\r\n", "invalid digit found in string at line 3"},
      {"#1\r#2\r#x\r", "invalid digit found in string at line 1"},
      {"$comment\n\n\n$end $foo\n", "unknown command at line 4"},
  };
  for (const auto& [input, expected] : rows) CHECK_EQ(first_error(input), expected);
  // Kinds that no token can produce still have their texts.
  CHECK_EQ(to_string(ParseError{7, ParseErrorKind::IdCodeEmpty}), "ID cannot be empty at line 7");
  CHECK_EQ(to_string(ParseError{2, ParseErrorKind::FloatEmpty}),
           "cannot parse float from empty string at line 2");
}

// Line ends and undecodable bytes are covered from Python, through list_signals.
TEST_CASE("scope lines: plain names stay, others get a backslash, other lines are copied") {
  const Row rows[] = {
      {"$scope task _a$b.c $end\n", "$scope task _a$b.c $end\n"},
      {"$scope module gen[0] $end\n", "$scope module \\gen[0] $end\n"},
      {"$scope module 1abc $end\n", "$scope module \\1abc $end\n"},
      {"$scope module \\esc $end\n", "$scope module \\esc $end\n"},
      {"  $scope   begin  top  $end  \n", "  $scope begin top $end\n"},
      {"$scope module a-b extra $end\n", "$scope module \\a-b $end\n"},
      {"$scope module a-b", "$scope module a-b"},
      {"$scope\tmodule a-b $end\n", "$scope\tmodule a-b $end\n"},
      {"$scopes module a-b $end\n", "$scopes module a-b $end\n"},
      {"$scope module a-b $end", "$scope module \\a-b $end"},
      // Only the lines that change are rewritten; the text around them is kept.
      {"$var wire 1 ! a $end\n$scope module a-b $end\n$var wire 1 ! b $end\n",
       "$var wire 1 ! a $end\n$scope module \\a-b $end\n$var wire 1 ! b $end\n"},
      {"$var wire 1 ! a $end $scope module a-b $end\n",
       "$var wire 1 ! a $end $scope module a-b $end\n"},
      // Declarations after the scope's own $end on the same line are kept.
      {"\t$scope module gen[1] $end  $var wire 1 ! q $end  \n",
       "\t$scope module \\gen[1] $end  $var wire 1 ! q $end  \n"},
  };
  for (const auto& [input, expected] : rows) {
    std::string storage;
    CHECK_EQ(std::string(normalize_scope_lines(input, storage)), expected);
  }
}

TEST_CASE("a piece ends at the first timestamp line after its end, not in stale bytes") {
  // The piece [0, 8) reads on to a split point: the first read (a buffer of
  // the least size) holds none after byte 8, and the second, two bytes, ends
  // with a '#' that starts no line. The buffer still holds the first read's
  // "\n#" behind those two bytes, which is not the file.
  const std::string text =
      "#1\n\n\n\n#2\n" + std::string(ChunkSource::kMinBufferSize - 9, 'a') + "x#";
  const check::TempFile file(text);
  auto opened = File::open_read(file.path());
  CHECK(opened.has_value());
  if (!opened) return;
  ChunkSource source(*opened, 0, true, 8, nullptr);
  std::string read;
  const unsigned char* cur = nullptr;
  const unsigned char* end = nullptr;
  while (source.refill(cur, end)) read.append(reinterpret_cast<const char*>(cur), end - cur);
  CHECK_EQ(read, text);
}

TEST_CASE("numbers: the first fault met decides, limits and nearest rounding") {
  constexpr std::string_view kEmpty = "cannot parse integer from empty string";
  constexpr std::string_view kDigit = "invalid digit found in string";
  constexpr std::string_view kLarge = "number too large to fit in target type";
  const auto text = [](const auto& value) {
    return value ? std::to_string(*value) : std::string(parse_error_text(value.error()));
  };
  const std::string_view rows[][3] = {
      {"+7", "7", "7"},
      {"4294967296", kLarge, "4294967296"},
      {"18446744073709551616", kLarge, kLarge},
      {"", kEmpty, kEmpty},
      {"+", kDigit, kDigit},
      {"-0", kDigit, kDigit},
      {"1x99999999999999999999", kDigit, kDigit},
      {"99999999999x", kLarge, kDigit},
      {"99999999999999999999x", kLarge, kLarge},
  };
  for (const auto& row : rows) {
    CHECK_EQ(text(parse_u32(row[0])), row[1]);
    CHECK_EQ(text(parse_u64(row[0])), row[2]);
  }
  // 2^53 + 1 lies halfway and rounds to even; a single further digit tips it up.
  CHECK_EQ(*parse_real("9007199254740993"), 9007199254740992.0);
  CHECK_EQ(*parse_real("9007199254740993.0000000000000000000000000001"), 9007199254740994.0);
  CHECK_EQ(*parse_real("3e-324"), std::numeric_limits<double>::denorm_min());
  CHECK_EQ(*parse_real("0e999999999999999999999"), 0.0);
  // Out of range: overflow or underflow by where the leading digit stands.
  const std::string zeros(400, '0');
  CHECK_EQ(*parse_real("1" + zeros + "e-50"), std::numeric_limits<double>::infinity());
  CHECK_EQ(*parse_real("1." + zeros + "e309"), std::numeric_limits<double>::infinity());
  CHECK_EQ(*parse_real("0." + zeros + "1e-300"), 0.0);
  // Identifier codes: ten characters fit only while the value does (see the error table).
  CHECK_EQ(parse_id_code("!!!!!!!!!@")->value, 18341994905748300298ULL);
  CHECK(parse_id_code("~~~~~~~~~~~ ").error() == InvalidIdCode::InvalidChars);
}

TEST_CASE("a code's text as a word reads back as the code and passes its filter") {
  CodeFilter filter;
  for (const std::string_view text : {"!", "~", "!!", "~~", "#$%", "~~~~~~~~", "!!!!!!!!"}) {
    const IdCode code = *parse_id_code(text);
    const std::uint64_t word = id_code_text_word(code);
    CHECK_EQ(std::string_view(reinterpret_cast<const char*>(&word), text.size()), text);
    CHECK_EQ(id_code_of_text_word(word, static_cast<unsigned>(text.size())).value, code.value);
    filter.add(code);
    CHECK(filter.may_contain(word));
  }
  CHECK_EQ(id_code_text_word(*parse_id_code("!!!!!!!!!")), 0u);  // nine characters
}

TEST_CASE("every instruction set classifies blocks alike") {
  using detail::LineBlock;
  using detail::LineBlocks;
  std::mt19937 random(7);
  const std::string_view alphabet = "01xzXZbB# !~\n\n\r\x7f\x80\xff";
  std::string bytes(16 * detail::kBlockBytes, ' ');
  for (int round = 0; round < 200; ++round) {
    for (char& c : bytes) c = alphabet[random() % alphabet.size()];
    std::vector<std::vector<std::uint64_t>> results;
    for (const auto isa :
         {LineBlocks::Isa::best, LineBlocks::Isa::sse2, LineBlocks::Isa::portable}) {
      LineBlocks blocks;
      std::vector<LineBlock> out(16);
      blocks.classify(reinterpret_cast<const unsigned char*>(bytes.data()), 8, out.data(), isa);
      blocks.classify(
          reinterpret_cast<const unsigned char*>(bytes.data()) + 8 * detail::kBlockBytes, 8,
          out.data() + 8, isa);
      std::vector<std::uint64_t> flat;
      for (const LineBlock& b : out) flat.insert(flat.end(), {b.line_feeds, b.not_bits, b.faults});
      results.push_back(flat);
    }
    CHECK(results[0] == results[1]);
    CHECK(results[0] == results[2]);
  }
}

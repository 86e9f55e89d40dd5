// The reader's fast road through the value section must give exactly what the
// byte-by-byte reader gives: the same commands, the same errors, the same lines.
#include <bit>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/parser.hpp"

using namespace vcd;

namespace {

std::string fingerprint(const Command& command) {
  std::string out = std::to_string(command.index()) + ":";
  std::visit(
      [&out](const auto& c) {
        using C = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<C, cmd::Timestamp>) {
          out += std::to_string(c.time);
        } else if constexpr (std::is_same_v<C, cmd::ScalarChange>) {
          out += std::to_string(c.id_code.value) + "=" + std::string(to_text(c.value));
        } else if constexpr (std::is_same_v<C, cmd::VectorChange>) {
          out += std::to_string(c.id_code.value) + "=" + std::string(c.vector.bits);
        } else if constexpr (std::is_same_v<C, cmd::RealChange>) {
          out += std::to_string(c.id_code.value) + "=" +
                 std::to_string(std::bit_cast<std::uint64_t>(c.value));
        } else if constexpr (std::is_same_v<C, cmd::StringChange>) {
          out += std::to_string(c.id_code.value) + "=" + std::string(c.text);
        } else if constexpr (std::is_same_v<C, cmd::Comment>) {
          out += std::string(c.text);
        }
      },
      command);
  return out;
}

// Every command, then the error with the line it was met on, or "end".
template <class Read>
std::vector<std::string> read_all(const std::string& body, Read read) {
  Parser<MemorySource> parser{MemorySource(body)};
  std::vector<std::string> seen;
  for (;;) {
    auto command = read(parser);
    if (!command) {
      seen.push_back("error " + command.error().text + " line " + std::to_string(parser.line()));
      return seen;
    }
    if (!*command) {
      seen.push_back("end line " + std::to_string(parser.line()));
      return seen;
    }
    seen.push_back(fingerprint(**command));
  }
}

std::vector<std::string> visit_all(const std::string& body) {
  Parser<MemorySource> parser{MemorySource(body)};
  std::vector<std::string> seen;
  auto result = parser.for_each_command([&](const auto& c) {
    seen.push_back(fingerprint(Command{c}));
    return true;
  });
  seen.push_back(result
                     ? "end line " + std::to_string(parser.line())
                     : "error " + result.error().text + " line " + std::to_string(parser.line()));
  return seen;
}

// Pieces of value sections, well formed and not, glued with assorted blanks.
const std::vector<std::string> kPieces = {
    "#0",
    "#18446744073709551615",
    "#18446744073709551616",
    "# 5",
    "#+7",
    "#-1",
    "#x",
    "1!",
    "0\"",
    "x#",
    "Z$",
    "X%",
    "z!!",
    "1~~~~~~~~~",
    "1!!!!!!!!!@",
    "1!!!!!!!!!A",
    "1\x80",
    "b0 !",
    "b1010 #",
    "b10xZ $",
    "bXZ01 !",
    "b1021 !",
    "b0101",
    "B11111111111111111 ~~",
    "r1.5 !",
    "r-0.25 \"",
    "rinf #",
    "rNaN $",
    "r1,5 !",
    "r1e !",
    "r.5 !",
    "R1E400 !",
    "sHello !",
    "s\xc3\xa9t\xc3\xa9 #",
    "s\xff !",
    "$dumpvars",
    "$end",
    "$dumpoff",
    "$comment x $end",
    "$var wire 1 ! a $end",
    "$bogus",
    "?",
    "b",
    "1",
    "r",
    "1!!!!!!!",
    "0!!!!!!!!",
    "1!\x7f",
    "x~~",
    "b0101010101010101 !",
    "b01010101010101010x !",
    "b0 !!!!!!!",
    "b1 \x7f",
    "#1234567890123456789",
    "#12345678901234567890",
    "#007",
};
const std::vector<std::string> kBlanks = {" ", "\n", "\r\n", "\t", "  \n\n", "\r"};

}  // namespace

TEST_CASE("the fast road reads exactly what the byte-by-byte reader reads") {
  std::mt19937 random(20261206);
  for (int round = 0; round < 3000; ++round) {
    std::string body;
    // Every other body is a long run of lines, as simulators write them.
    const bool lines = round % 2 == 1;
    const int count = 1 + static_cast<int>(random() % (lines ? 60 : 12));
    for (int i = 0; i < count; ++i) {
      body += kPieces[random() % kPieces.size()];
      if (random() % 8 != 0)
        body += lines && random() % 4 != 0 ? "\n" : kBlanks[random() % kBlanks.size()];
    }
    const auto slow = read_all(body, [](auto& parser) { return parser.next_slow(); });
    CHECK_EQ(read_all(body, [](auto& parser) { return parser.next(); }), slow);
    CHECK_EQ(visit_all(body), slow);
  }
}

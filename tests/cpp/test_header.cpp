// The header parser: the declaration tree and which commands it accepts where.
#include <string>
#include <string_view>

#include "check.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/header.hpp"

using namespace vcd;

namespace {

std::string describe(const std::vector<ScopeItem>& items) {
  std::string out;
  for (const ScopeItem& item : items) {
    if (!out.empty()) out += "; ";
    if (const auto* scope = std::get_if<Scope>(&item.item)) {
      ((out += to_text(scope->scope_type)) += ' ') += scope->identifier;
      ((out += " {") += describe(scope->children)) += '}';
    } else if (const auto* var = std::get_if<Var>(&item.item)) {
      ((out += "var ") += to_text(var->var_type)) += ' ';
      (out += std::to_string(var->width)) += ' ';
      ((out += std::to_string(var->id_code.value)) += ' ') += var->reference;
      if (var->reference_index) (out += ' ') += to_text(*var->reference_index);
    } else {
      ((out += "comment[") += std::get<Comment>(item.item).text) += ']';
    }
  }
  return out;
}

// The tree, then date, version and timescale when present; or "! error".
std::string parse(std::string_view text) {
  Parser<MemorySource> parser{MemorySource(text)};
  const auto header = parse_header(parser);
  if (!header) return "! " + header.error().text;
  std::string out = describe(header->items);
  if (header->date) out += " / date " + *header->date;
  if (header->version) out += " / version " + *header->version;
  if (header->timescale) {
    out += " / " + std::to_string(header->timescale->magnitude) +
           std::string(to_text(header->timescale->unit));
  }
  return out;
}

}  // namespace

TEST_CASE("header trees") {
  struct Row {
    std::string_view input;
    std::string_view expected;
  };
  const Row rows[] = {
      {"$timescale 1ns $end\n$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n"
       "$enddefinitions $end\n",
       "module top {var wire 1 0 clk} / 1ns"},
      {"$enddefinitions $end\n", ""},
      {"$var reg 8 # d [7:0] $end $comment top note $end $enddefinitions $end ",
       "var reg 8 2 d [7:0]; comment[top note]"},
      {"$scope module a $end $scope task b $end $var integer 32 \" n $end $upscope $end "
       "$comment in a $end $var wire 1 ! x[0] $end $upscope $end "
       "$scope fork c $end $upscope $end $enddefinitions $end\n",
       "module a {task b {var integer 32 1 n}; comment[in a]; var wire 1 0 x[0]}; fork c {}"},
      {"$date one $end $date two $end $version v1 $end $timescale 1 s $end $timescale 10 us $end "
       "$enddefinitions $end\n",
       " / date two / version v1 / 10us"},
      // Nothing after the whitespace byte that ends $enddefinitions' $end is read.
      {"$enddefinitions $end\n#0 garbage \xFF", ""},
      {"$date d $end\n$scope module top $end\n$date inner $end\n",
       "! unexpected command in header at line 3"},
      {"$scope module top $end\n$timescale 1ns $end\n", "! unexpected command in header at line 2"},
      {"$scope module top $end\n$version v $end\n", "! unexpected command in header at line 2"},
      {"$scope module top $end\n\n$enddefinitions $end\n",
       "! unexpected command in header at line 3"},
      {"$var wire 1 ! a $end\n$upscope $end\n", "! unexpected command in header at line 2"},
      {"\n\n\n\n\n\n#0\n", "! unexpected command in header at line 7"},
      {"$scope module top $end\n1!\n", "! unexpected command in header at line 2"},
      {"$dumpvars\n", "! unexpected command in header at line 1"},
      {"$end\n", "! unmatched `$end` at line 1"},
      {"$scope module top $end $scope bogus x $end", "! invalid scope type at line 1"},
      {"", "! unexpected end of VCD file before $enddefinitions"},
      {"$var wire 1 ! a $end\n", "! unexpected end of VCD file before $enddefinitions"},
      {"$scope module a $end\n", "! unexpected EOF with open $scope"},
      {"$scope module a $end $scope module b $end $upscope $end\n",
       "! unexpected EOF with open $scope"},
      {"$scope module a $end $var wire 1 ! x", "! unexpected end of VCD file"},
      {"$enddefinitions $end", "! unexpected end of VCD file"},
      // The reader itself finds a $end on the next line.
      {"$enddefinitions\n$end\n", ""},
  };
  for (const Row& row : rows) CHECK_EQ(parse(row.input), row.expected);
}

TEST_CASE("a million nested scopes parse and are destroyed without deep recursion") {
  constexpr int kDepth = 1'000'000;
  std::string text;
  text.reserve(kDepth * 40);
  for (int i = 0; i < kDepth; ++i) text += "$scope module m $end\n";
  text += "$var wire 1 ! deep $end\n";
  for (int i = 0; i < kDepth; ++i) text += "$upscope $end\n";
  const std::string complete = text + "$enddefinitions $end\n";
  {
    Parser<MemorySource> parser{MemorySource(complete)};
    auto header = parse_header(parser);
    CHECK(header.has_value());
    if (header) {
      int depth = 0;
      const std::vector<ScopeItem>* items = &header->items;
      while (items->size() == 1 && std::holds_alternative<Scope>((*items)[0].item)) {
        items = &std::get<Scope>((*items)[0].item).children;
        ++depth;
      }
      CHECK_EQ(depth, kDepth);
      CHECK(items->size() == 1 && std::holds_alternative<Var>((*items)[0].item));
    }
  }
  // An unfinished tree of the same depth is torn down on the error path too.
  Parser<MemorySource> parser{MemorySource(std::string_view(text).substr(0, kDepth * 21))};
  auto header = parse_header(parser);
  CHECK(!header);
  if (!header) CHECK_EQ(header.error().text, "unexpected EOF with open $scope");
}

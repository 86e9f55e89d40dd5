// The header pass: scope-line normalisation, full signal names, the signal index, and
// the scan for the end of the declarations with the offset of the value changes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/body_walker.hpp"
#include "src/lib/dump.hpp"
#include "vcd/byte_source.hpp"

using namespace quarnel;
using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

struct Row {
  std::string_view input;
  std::string_view expected;
};

// A file holding `content`, removed again when the object goes.
class TempFile {
 public:
  explicit TempFile(std::string_view content) {
    const int fd = ::mkstemp(path_.data());
    const bool written = fd >= 0 && ::write(fd, content.data(), content.size()) ==
                                        static_cast<ssize_t>(content.size());
    if (fd >= 0) ::close(fd);
    if (!written) check::fail(__FILE__, __LINE__, "cannot write " + path_);
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_ = "/tmp/quarnel-header-XXXXXX";
};

std::string join(const std::vector<Signal>& signals) {
  std::string out;
  for (const Signal& signal : signals) out += (out.empty() ? "" : ", ") + signal.name;
  return out;
}

std::string join(const SignalNames& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) (out += i == 0 ? "" : ", ") += names[i];
  return out;
}

// The signal names of a header text, or "! error".
std::string names_of(std::string_view bytes) {
  const auto parsed = parse_header_from_bytes(bytes);
  return parsed ? join(parsed->names) : "! " + parsed.error().text();
}

std::string normalized(std::string_view text) {
  std::string storage;
  return std::string(normalize_scope_lines(text, storage));
}

}  // namespace

TEST_CASE("scope lines: plain names stay, others get a backslash, other lines are copied") {
  const Row rows[] = {
      {"$scope module top $end\n", "$scope module top $end\n"},
      {"$scope module u_cpu(0) $end\n", "$scope module u_cpu(0) $end\n"},
      {"$scope task _a$b.c $end\n", "$scope task _a$b.c $end\n"},
      {"$scope module gen[0] $end\n", "$scope module \\gen[0] $end\n"},
      {"$scope module my-block $end\n", "$scope module \\my-block $end\n"},
      {"$scope module 1abc $end\n", "$scope module \\1abc $end\n"},
      {"$scope module caf\xC3\xA9 $end\n", "$scope module \\caf\xC3\xA9 $end\n"},
      {"$scope module \\esc $end\n", "$scope module \\esc $end\n"},
      {"  $scope   begin  top  $end  \n", "  $scope begin top $end\n"},
      {"$scope module a-b extra $end\n", "$scope module \\a-b $end\n"},
      {"$scope module a-b", "$scope module a-b"},
      {"$scope module top\n$end\n", "$scope module top\n$end\n"},
      {"$scope\tmodule a-b $end\n", "$scope\tmodule a-b $end\n"},
      {"$scopes module a-b $end\n", "$scopes module a-b $end\n"},
      {"$var wire 1 ! a-b $end\n$upscope $end\n", "$var wire 1 ! a-b $end\n$upscope $end\n"},
      {"$scope module a-b $end", "$scope module \\a-b $end"},
      // Line ends: CR LF, and bare CR, which must not glue the next line onto $end.
      {"$scope module gen[0] $end\r\n$upscope $end\r\n",
       "$scope module \\gen[0] $end\r\n$upscope $end\r\n"},
      {"$scope module gen[0] $end\r$var wire 1 ! q $end\r",
       "$scope module \\gen[0] $end\r$var wire 1 ! q $end\r"},
      // Only the lines that change are rewritten; the text around them is kept.
      {"$var wire 1 ! a $end\n$scope module a-b $end\n$var wire 1 ! b $end\n",
       "$var wire 1 ! a $end\n$scope module \\a-b $end\n$var wire 1 ! b $end\n"},
      {"$var wire 1 ! a $end $scope module a-b $end\n",
       "$var wire 1 ! a $end $scope module a-b $end\n"},
      // Declarations after the scope's own $end on the same line are kept.
      {"$scope module top $end $var wire 1 ! clk $end\n",
       "$scope module top $end $var wire 1 ! clk $end\n"},
      {"\t$scope module gen[1] $end  $var wire 1 ! q $end  \n",
       "\t$scope module \\gen[1] $end  $var wire 1 ! q $end  \n"},
  };
  for (const Row& row : rows) CHECK_EQ(normalized(row.input), row.expected);
}

TEST_CASE("full signal names") {
  const Row rows[] = {
      {"$scope module top $end\n$scope module cpu $end\n$var wire 8 # data [7:0] $end\n"
       "$upscope $end\n$upscope $end\n$enddefinitions $end\n",
       "top.cpu.data[7:0]"},
      {"$var wire 1 ! clk $end\n$enddefinitions $end\n", "clk"},
      {"$scope module top $end\n$scope module gen[0] $end\n$var reg 1 ! q $end\n$upscope $end\n"
       "$var reg 1 \" b [3] $end\n$var reg 36 # w [31:-4] $end\n$var reg 1 $ n[2] $end\n"
       "$upscope $end\n$enddefinitions $end\n",
       "top.\\gen[0].q, top.b[3], top.w[31:-4], top.n[2]"},
      {"$scope module t $end $comment c $end $var wire 1 ! a $end $var wire 1 ! b $end\n"
       "$upscope $end $var wire 1 ! c $end $enddefinitions $end\n",
       "t.a, t.b, c"},
      {"$scope module top $end $var wire 1 ! clk $end\n$upscope $end\n$enddefinitions $end\n",
       "top.clk"},
      {"$scope module top\n$end\n$var wire 1 ! a $end\n$upscope $end\n$enddefinitions $end\n",
       "top.a"},
      {"$scope module top $end\r$var wire 1 ! a $end\r$upscope $end\r$enddefinitions $end\r",
       "top.a"},
      {"$scope module top $end\r\n$var wire 1 ! a $end\r\n$upscope $end\r\n"
       "$enddefinitions $end\r\n",
       "top.a"},
      {"$scope module t\xFF $end\n$var wire 1 ! x\xFEy $end\n$upscope $end\n"
       "$enddefinitions $end\n",
       "\\t\xEF\xBF\xBD.x\xEF\xBF\xBDy"},
      {"$timescale 1ns $end\n$enddefinitions $end\n", ""},
      {"$scope module top $end\n$date d $end\n",
       "! unexpected parse error: unexpected command in header at line 2"},
      // Rewritten lines keep the line numbering of the file.
      {"$scope module a-b extra $end\n\n$bogus\n",
       "! unexpected parse error: unknown command at line 3"},
      {"$enddefinitions\n", "! unexpected parse error: unexpected end of VCD file"},
  };
  for (const Row& row : rows) CHECK_EQ(names_of(row.input), row.expected);

  const auto with = parse_header_from_bytes("$timescale 10 ps $end $enddefinitions $end\n");
  CHECK(with && with->timescale && with->timescale->magnitude == 10 &&
        with->timescale->unit == vcd::TimescaleUnit::Ps);
  const auto without = parse_header_from_bytes("$enddefinitions $end\n");
  CHECK(without && !without->timescale);
}

TEST_CASE("the index reports the second declaration of the earliest repeated name") {
  struct Case {
    std::vector<std::string_view> names;
    std::string_view duplicate;  // empty: none
  };
  const Case cases[] = {
      {{}, ""},
      {{"a", "b", "x[0]", "x[1]", "x"}, ""},
      {{"top.a", "top.b", "top.a"}, "top.a"},
      {{"a", "b", "b", "a"}, "b"},
      {{"a", "b", "a", "b"}, "a"},
  };
  for (const Case& c : cases) {
    std::vector<Signal> signals;
    for (std::string_view name : c.names)
      signals.push_back(Signal{std::string(name), vcd::IdCode{0}, 1, vcd::VarType::Wire});
    const auto index = SignalIndex::build(signals);
    CHECK_EQ(index ? std::string() : index.error().text(),
             c.duplicate.empty() ? std::string()
                                 : "duplicate signal name detected: " + std::string(c.duplicate));
    if (index) {
      for (const Signal& signal : signals) CHECK(index->find(signals, signal.name) == &signal);
      CHECK(index->find(signals, "missing") == nullptr);
    }
  }
}

TEST_CASE("header scan: body offset, missing marker and file errors") {
  const std::string decls =
      "$timescale 1ns $end\n$scope module top $end\n$var wire 1 ! a $end\n"
      "$var wire 1 ! b $end\n$upscope $end\n";
  // The end of the marker line (or of the file), and the header ends there.
  for (const std::string& marker :
       {"$enddefinitions $end\n"s, "$enddefinitions $end \t\n"s, "$enddefinitions $end\r\n"s,
        "$comment x $end $enddefinitions $end\n"s}) {
    const TempFile file(decls + marker + "#0\n1!\n");
    const auto header = read_header_bytes(file.path());
    CHECK(header && header->bytes == decls + marker);
    const auto info = open_dump(file.path());
    CHECK(info.has_value());
    if (!info) continue;
    CHECK_EQ(info->body_offset, (decls + marker).size());
    CHECK_EQ(join(info->signals), "top.a, top.b");
    CHECK(info->timescale && info->timescale->unit == vcd::TimescaleUnit::Ns);
    CHECK(info->find("top.b") == &info->signals[1]);
  }
  // A line longer than one read block, and a marker line that straddles two blocks.
  const std::string filler = "$comment " + std::string(65520, 'x') + " $end\n";
  const TempFile straddle(filler + "$enddefinitions $end\n#0\n");
  const auto straddled = open_dump(straddle.path());
  CHECK(straddled && straddled->body_offset == filler.size() + 21);

  const Row failures[] = {
      {"", "missing $enddefinitions marker in VCD file"},
      {"$EndDefinitions $end\n#0\n", "missing $enddefinitions marker in VCD file"},
      {"$enddefinition $end\n#0\n", "missing $enddefinitions marker in VCD file"},
      {"$enddefinitions\n$end\n", "unexpected parse error: unexpected end of VCD file"},
      {"$comment mentions $enddefinitions here $end\n$enddefinitions $end\n",
       "unexpected parse error: unexpected character at start of command at line 1"},
      {"$var wire 1 ! a $end $enddefinitions $end",
       "unexpected parse error: unexpected end of VCD file"},
      {"$scope module top $end\n$var wire 1 ! a $end\n$var wire 1 \" a $end\n"
       "$upscope $end\n$enddefinitions $end\n",
       "duplicate signal name detected: top.a"},
  };
  for (const Row& row : failures) {
    const TempFile file(row.input);
    const auto info = open_dump(file.path());
    CHECK_EQ(info ? std::string("no error") : info.error().text(), row.expected);
  }
  const TempFile large(std::string(200000, '\n'));
  CHECK_EQ(read_header_bytes(large.path()).error().text(),
           "missing $enddefinitions marker in VCD file");
  CHECK_EQ(read_header_bytes("/nonexistent/quarnel.vcd").error().text(),
           "I/O error: No such file or directory (os error 2)");
  CHECK_EQ(open_dump("/tmp").error().text(),
           "I/O error: Is a directory (os error 21)");
}

TEST_CASE("value changes on the marker line are read from just after its $end") {
  struct Case {
    std::string_view file;
    std::string_view body;  // what lies from body_offset to the end of the file
  };
  const Case cases[] = {
      {"$var wire 1 ! a $end\n$enddefinitions $end #0\n1!\n", "#0\n1!\n"},
      {"$var wire 1 ! a $end\n$enddefinitions $end\t\t#0 1!\n#1\n", "\t#0 1!\n#1\n"},
      {"$var wire 1 ! a $end\n$enddefinitions $end\n#0 1!\n", "#0 1!\n"},
      {"$var wire 1 ! a $end\n$enddefinitions $end #0 1! ", "#0 1! "},
      // No line feed anywhere: the whole file is the marker line.
      {"$var wire 1 ! a $end $enddefinitions $end ", ""},
      {"$var wire 1 ! a $end $enddefinitions $end\r#0\r1!\r", "#0\r1!\r"},
      {"$scope module gen[0] $end $var wire 1 ! q $end $upscope $end $enddefinitions $end "
       "#5 1!\n",
       "#5 1!\n"},
  };
  for (const Case& c : cases) {
    const TempFile file(c.file);
    const auto info = open_dump(file.path());
    CHECK(info.has_value());
    if (info) CHECK_EQ(c.file.substr(info->body_offset), c.body);
  }
}

TEST_CASE("a file cut shorter between the two passes is cut short, not empty") {
  const std::string header = "$var wire 1 ! a $end\n$enddefinitions $end\n";
  const TempFile file(header + "#0\n1!\n");
  const auto info = open_dump(file.path());
  CHECK(info.has_value());
  CHECK(open_body(*info).has_value());
  CHECK(::truncate(file.path().c_str(), static_cast<off_t>(header.size() - 5)) == 0);
  const auto body = open_body(*info);
  CHECK(!body.has_value());
  if (!body) CHECK_EQ(body.error().text(), std::string("I/O error: unexpected end of VCD file"));
}

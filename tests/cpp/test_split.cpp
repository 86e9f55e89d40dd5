// A body read in pieces on several threads gives what a read on one gives,
// also where a line starting with '#' is no timestamp, and for errors, the
// window's end, the visitor's stop and a piece with more changes than its
// log may hold.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "check.hpp"
#include "src/lib/body_walker.hpp"
#include "src/lib/header_pass.hpp"

using namespace quarnel;

namespace {

struct Recorder {
  std::size_t limit;
  std::string seen;

  static bool wanted(vcd::IdCode /*code*/) { return true; }
  bool change(std::uint64_t time, const vcd::cmd::Change& command, bool /*wanted*/) {
    seen += std::to_string(time) + ':' + std::to_string(command.id_code.value) + ' ';
    return seen.size() < limit;
  }
};

std::string walk(const std::string& path, Window window, std::size_t limit, ScanSettings settings) {
  auto dump = open_dump(path);
  Recorder recorder{limit, {}};
  auto walked = walk_body(*dump, window, recorder, {.settings = settings});
  if (!walked) return recorder.seen + walked.error().text();
  if (!walked->finished) return recorder.seen + "stop";
  return recorder.seen + std::to_string(walked->times.first) + '-' +
         std::to_string(walked->times.last.value_or(0));
}

}  // namespace

TEST_CASE("a body read in pieces reads as a body read whole") {
  const std::string header = "$var wire 1 ! a $end $var wire 3 # b $end $enddefinitions $end\n";
  const char* const bodies[] = {
      "#1\n1!\n$comment\n#2\n0!\n$end\n#3\n0!\n#4\nb1\n#\n#5\n1!\n$comment #6 $end\n#7\n0!\n",
      "#1\n$dumpvars\n#2\n1!\n#3\n$end\n#4\n0!\n#5\n1!\n#16\n$dumpoff\n#17\n",
      "#1\r\n1!\r\n#2\r\n0!\r\n#3\r\nb101 #\r\n#4\r\n1!\r\n#5\r\n#6\r\nb2 #\r\n#7\r\n1!\r\n",
      "#1\n1!\n#2\n0!\n#3\n1!\n#4\n0!\n#5\n#x\n#6\n",
  };
  for (const char* body : bodies) {
    const int fd = ::memfd_create("split", MFD_CLOEXEC);
    const std::string text = header + body;
    CHECK(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()));
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    for (const Window window : {Window{}, Window{2, 4}}) {
      for (const std::size_t limit : {std::size_t{1000}, std::size_t{12}}) {
        const std::string whole = walk(path, window, limit, {1, 1});
        for (std::uint64_t chunk = 1; chunk < 40; ++chunk) {
          CHECK_EQ(walk(path, window, limit, {3, chunk}), whole);
          CHECK_EQ(walk(path, window, limit, {3, chunk, 100}), whole);  // logs that hold one change
        }
      }
    }
    ::close(fd);
  }
}

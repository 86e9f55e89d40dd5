// The interrupt hook: asked at every refill of a file source; when it asks to stop,
// reading ends with an error of kind Interrupted that the core passes up as its own
// kind, without the text of any other error.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "check.hpp"
#include "src/lib/metadata.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/parser.hpp"

namespace {

// Says stop once it has been asked `allowed` times; counts the questions.
struct Countdown {
  int allowed;
  int asked = 0;

  static bool requested(void* context) {
    auto* self = static_cast<Countdown*>(context);
    return self->asked++ >= self->allowed;
  }
  vcd::Interrupt hook() { return {&Countdown::requested, this}; }
};

// A file of `size` bytes: a header, then value changes up to the size.
std::string make_dump(std::size_t size) {
  char path[] = "/tmp/quarnel_interrupt_XXXXXX";
  const int fd = ::mkstemp(path);
  std::string text = "$var wire 1 ! a $end\n$enddefinitions $end\n";
  while (text.size() < size) text += "#1\n1!\n0!\n";
  const bool written =
      fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0) ::close(fd);
  if (!written) check::fail(__FILE__, __LINE__, "cannot write the dump");
  return path;
}

}  // namespace

TEST_CASE("a file source asks the hook before every refill") {
  const std::string path = make_dump(3 * vcd::FileSource::kBufferSize);
  for (const int allowed : {0, 1, 2}) {
    Countdown countdown{allowed};
    const vcd::Interrupt hook = countdown.hook();
    auto file = vcd::File::open_read(path, &hook);
    CHECK(file.has_value());
    vcd::Parser<vcd::FileSource> parser{vcd::FileSource(std::move(*file), &hook)};
    std::size_t commands = 0;
    auto read = parser.for_each_command([&](const auto&) { return ++commands != 0; });
    CHECK(!read.has_value());
    CHECK(read.error().kind == vcd::ReaderError::Kind::Interrupted);
    CHECK_EQ(countdown.asked, allowed + 1);
    // Every command of the windows handed out before the stop was seen.
    CHECK(commands >= static_cast<std::size_t>(allowed) * vcd::FileSource::kBufferSize / 4);
  }
  std::remove(path.c_str());
}

TEST_CASE("the core reports an interruption as its own kind") {
  const std::string path = make_dump(1000);
  for (const int allowed : {0, 1, 2}) {
    Countdown countdown{allowed};
    const vcd::Interrupt hook = countdown.hook();
    auto metadata = quarnel::read_vcd_metadata(path, &hook);
    CHECK(!metadata.has_value());
    CHECK(metadata.error().kind == quarnel::VcdError::Kind::Interrupted);
    CHECK(metadata.error().payload.empty());
  }
  std::remove(path.c_str());
}

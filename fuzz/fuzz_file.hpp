// Fuzz inputs as files: the core reads paths, so each input is written to an
// anonymous in-memory file and handed over as its /proc path; and the checks.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vcd/value.hpp"

namespace quarnel::fuzz {

// Stops the run with a message: libFuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant violated: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : ::quarnel::fuzz::fail(#condition " (" __FILE__ ")"))

// An in-memory file holding `bytes`, closed when this goes out of scope.
class MemoryFile {
 public:
  explicit MemoryFile(std::string_view bytes) : fd_(::memfd_create("fuzz", MFD_CLOEXEC)) {
    if (fd_ < 0) fail("memfd_create");
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t wrote = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (wrote <= 0) fail("write to memfd");
      done += static_cast<std::size_t>(wrote);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() { ::close(fd_); }

  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

// Every spelling of the state letters: 0 and 1 first, then the other states
// in lower case, then those that have one in upper case.
inline const std::string& state_spellings() {
  static const std::string spellings = [] {
    std::string lower;
    std::string upper;
    for (const vcd::StateLetter& state : vcd::kStateLetters) {
      lower += state.letter;
      if (state.letter >= 'a' && state.letter <= 'z')
        upper += static_cast<char>(state.letter - 'a' + 'A');
    }
    return lower + upper;
  }();
  return spellings;
}

}  // namespace quarnel::fuzz

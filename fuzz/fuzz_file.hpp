// Fuzz inputs as files: the core reads paths, so each input is written to an
// anonymous in-memory file and handed over as its /proc path.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

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

// Reads the input front to back: control values first, the rest as bytes.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::string_view rest() const {
    return {reinterpret_cast<const char*>(data_ + pos_), size_ - pos_};
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace quarnel::fuzz

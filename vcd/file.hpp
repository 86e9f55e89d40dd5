// A read-only file descriptor that is closed when it goes out of scope.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "vcd/error.hpp"

namespace vcd {

class File {
 public:
  static Result<File> open_read(const std::string& path);

  File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  Result<void> seek(std::uint64_t offset);
  // Reads up to `size` bytes, retrying interrupted reads; 0 is end of file.
  Result<std::size_t> read(unsigned char* buffer, std::size_t size);

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace vcd

// A read-only file descriptor that is closed when it goes out of scope.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "vcd/error.hpp"
#include "vcd/interrupt.hpp"

namespace vcd {

class File {
 public:
  // Opening and reading retry system calls interrupted by a signal, unless
  // `interrupt` (may be null) then asks to stop: that ends them with an
  // error of kind Interrupted. A FIFO without a writer blocks in open.
  static Result<File> open_read(const std::string& path, const Interrupt* interrupt = nullptr);

  File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  Result<void> seek(std::uint64_t offset);
  // The size of a regular file; nullopt for pipes, devices and the like.
  std::optional<std::uint64_t> regular_size() const;
  // Reads up to `size` bytes; 0 is end of file.
  Result<std::size_t> read(unsigned char* buffer, std::size_t size,
                           const Interrupt* interrupt = nullptr);
  // Reads up to `size` bytes at `offset`, leaving the file position alone, so
  // that several threads may read one file at once; 0 is end of file.
  Result<std::size_t> read_at(unsigned char* buffer, std::size_t size, std::uint64_t offset,
                              const Interrupt* interrupt = nullptr) const;

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace vcd

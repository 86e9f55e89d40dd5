// A read-only file descriptor that is closed when it goes out of scope.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "vcd/decoder.hpp"
#include "vcd/error.hpp"
#include "vcd/interrupt.hpp"

namespace vcd {

class File {
 public:
  // Opening and reading retry system calls interrupted by a signal, unless
  // `interrupt` (may be null) then asks to stop: that ends them with an
  // error of kind Interrupted. A FIFO without a writer waits in the first
  // read, which the interrupt can stop on any thread.
  // With `decompress`, a gzip or zstd file (told by its first bytes) reads as
  // the text it holds.
  static Result<File> open_read(const std::string& path, const Interrupt* interrupt = nullptr,
                                bool decompress = false);

  File(File&& other) noexcept
      : fd_(other.fd_),
        waits_(other.waits_),
        decoder_(std::move(other.decoder_)),
        head_(other.head_) {
    other.fd_ = -1;
  }
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Moves to `offset`; a compressed file, read once, cannot be.
  Result<void> seek(std::uint64_t offset);
  // The size of a regular file; nullopt for pipes, devices and the like, and
  // for a compressed file.
  std::optional<std::uint64_t> regular_size() const;
  // Reads up to `size` bytes; 0 is end of file.
  Result<std::size_t> read(unsigned char* buffer, std::size_t size,
                           const Interrupt* interrupt = nullptr);
  // The first bytes of a pipe as read to tell its compression (empty for a
  // regular file); read() hands them out first all the same.
  std::span<const unsigned char> head() const { return {head_.bytes, head_.size}; }
  // `first` (up to a MiB), then what is left to read of `from` (a pipe),
  // copied a piece at a time into an unnamed temporary file in $TMPDIR (or
  // /tmp), which then reads as a regular file from its start.
  static Result<File> spool(std::span<const unsigned char> first, File& from,
                            const Interrupt* interrupt = nullptr);
  // Reads up to `size` bytes at `offset`, leaving the file position alone, so
  // that several threads may read one file at once; 0 is end of file.
  Result<std::size_t> read_at(unsigned char* buffer, std::size_t size, std::uint64_t offset,
                              const Interrupt* interrupt = nullptr) const;

 private:
  explicit File(int fd) : fd_(fd) {}
  Result<std::size_t> read_raw(unsigned char* buffer, std::size_t size, const Interrupt* interrupt);
  Result<void> start_decoding(const Interrupt* interrupt);

  int fd_;
  // Not a regular file: reads wait in poll() first.
  bool waits_ = false;
  // Set while reading a compressed file.
  std::unique_ptr<Decoder> decoder_;
  // The first bytes of a file that cannot be read twice (a pipe), read to
  // tell its compression: handed out again before the rest.
  struct Head {
    unsigned char bytes[kMagicSize] = {};
    std::uint8_t size = 0;
    std::uint8_t taken = 0;
  } head_;
};

}  // namespace vcd

#include "vcd/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vcd {

Result<File> File::open_read(const std::string& path, const Interrupt* interrupt) {
  // A NUL inside the path would silently name another file.
  if (path.find('\0') != std::string::npos) return std::unexpected(ReaderError::from_os(EINVAL));
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return File(fd);
    if (errno != EINTR) return std::unexpected(ReaderError::from_os(errno));
    if (interrupt_requested(interrupt)) return std::unexpected(ReaderError::interrupted());
  }
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

Result<void> File::seek(std::uint64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    return std::unexpected(ReaderError::from_os(errno));
  }
  return {};
}

std::optional<std::uint64_t> File::regular_size() const {
  struct stat status{};
  if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

namespace {

// Retries `call` while a signal interrupts it, unless `interrupt` then asks
// to stop.
template <class Call>
Result<std::size_t> retry_read(Call call, const Interrupt* interrupt) {
  for (;;) {
    const ssize_t got = call();
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return std::unexpected(ReaderError::from_os(errno));
    if (interrupt_requested(interrupt)) return std::unexpected(ReaderError::interrupted());
  }
}

}  // namespace

Result<std::size_t> File::read(unsigned char* buffer, std::size_t size,
                               const Interrupt* interrupt) {
  return retry_read([&] { return ::read(fd_, buffer, size); }, interrupt);
}

Result<std::size_t> File::read_at(unsigned char* buffer, std::size_t size, std::uint64_t offset,
                                  const Interrupt* interrupt) const {
  return retry_read([&] { return ::pread(fd_, buffer, size, static_cast<off_t>(offset)); },
                    interrupt);
}

}  // namespace vcd

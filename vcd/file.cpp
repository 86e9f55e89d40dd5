#include "vcd/file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace vcd {

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

Result<File> File::open_read(const std::string& path, const Interrupt* interrupt, bool decompress) {
  // A NUL inside the path would silently name another file.
  if (path.find('\0') != std::string::npos) return std::unexpected(ReaderError::from_os(EINVAL));
  for (;;) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer where nothing
    // can stop it; the first read waits instead (read_raw).
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      File file(fd);
      struct stat status{};
      file.waits_ = ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode);
      if (decompress) {
        if (auto started = file.start_decoding(interrupt); !started)
          return std::unexpected(std::move(started.error()));
      }
      return file;
    }
    if (errno != EINTR) return std::unexpected(ReaderError::from_os(errno));
    if (interrupt_requested(interrupt)) return std::unexpected(ReaderError::interrupted());
  }
}

Result<File> File::spool(std::span<const unsigned char> first, File& from,
                         const Interrupt* interrupt) {
  const char* directory = std::getenv("TMPDIR");
  std::string name = std::string(directory != nullptr && *directory != 0 ? directory : "/tmp") +
                     "/quarnel-spool-XXXXXX";
  const auto failed = [&](int errnum) {
    ReaderError error = ReaderError::from_os(errnum);
    error.text = "a temporary file in " + name.substr(0, name.rfind('/')) + ": " + error.text;
    return std::unexpected(std::move(error));
  };
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return failed(errno);
  File spooled(fd);
  ::unlink(name.c_str());
  std::vector<unsigned char> piece(std::size_t{1} << 20);
  std::ranges::copy(first, piece.begin());
  std::size_t ready = first.size();
  std::uint64_t size = 0;
  for (;;) {
    if (interrupt_requested(interrupt)) return std::unexpected(ReaderError::interrupted());
    auto got = ready != 0 ? ready : from.read(piece.data(), piece.size(), interrupt);
    ready = 0;
    if (!got) return std::unexpected(std::move(got.error()));
    if (*got == 0) break;
    for (std::size_t done = 0; done < *got;) {
      const ssize_t put =
          ::pwrite(fd, piece.data() + done, *got - done, static_cast<off_t>(size + done));
      if (put < 0 && errno != EINTR) return failed(errno);
      if (put > 0) done += static_cast<std::size_t>(put);
    }
    size += *got;
  }
  return spooled;
}

Result<void> File::start_decoding(const Interrupt* interrupt) {
  unsigned char head[kMagicSize];
  std::size_t size = 0;
  if (regular_size()) {
    auto got = read_at(head, kMagicSize, 0, interrupt);
    if (!got) return std::unexpected(std::move(got.error()));
    size = *got;
  } else {
    // A pipe is read once: what is read here is handed out again.
    while (size < kMagicSize) {
      auto got = read_raw(head + size, kMagicSize - size, interrupt);
      if (!got) return std::unexpected(std::move(got.error()));
      if (*got == 0) break;
      size += *got;
    }
    std::copy_n(head, size, head_.bytes);
    head_.size = static_cast<std::uint8_t>(size);
  }
  const Compression kind = compression_of({head, size});
  if (kind == Compression::none) return {};
  auto decoder = Decoder::create(kind);
  if (!decoder) return std::unexpected(std::move(decoder.error()));
  decoder_ = std::move(*decoder);
  return {};
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    waits_ = other.waits_;
    other.fd_ = -1;
    decoder_ = std::move(other.decoder_);
    head_ = other.head_;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

Result<void> File::seek(std::uint64_t offset) {
  if (decoder_) return std::unexpected(ReaderError::from_os(ESPIPE));
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
    return std::unexpected(ReaderError::from_os(errno));
  return {};
}

std::optional<std::uint64_t> File::regular_size() const {
  if (decoder_) return std::nullopt;
  struct stat status{};
  if (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

Result<std::size_t> File::read(unsigned char* buffer, std::size_t size,
                               const Interrupt* interrupt) {
  const auto from_head = [this](unsigned char* to, std::size_t room) {
    const std::size_t n = std::min<std::size_t>(room, head_.size - head_.taken);
    std::copy_n(head_.bytes + head_.taken, n, to);
    head_.taken = static_cast<std::uint8_t>(head_.taken + n);
    return n;
  };
  if (!decoder_) {
    if (head_.taken < head_.size) return from_head(buffer, size);
    return read_raw(buffer, size, interrupt);
  }
  for (;;) {
    const auto space = decoder_->input_space();
    if (!space.empty()) {
      std::size_t got = 0;
      if (head_.taken < head_.size) {
        got = from_head(space.data(), space.size());
      } else {
        auto raw = read_raw(space.data(), space.size(), interrupt);
        if (!raw) return raw;
        got = *raw;
      }
      decoder_->supplied(got);
    }
    auto decoded = decoder_->decode({buffer, size});
    if (!decoded) return decoded;
    // Nothing decoded and no input wanted: every stream has ended.
    if (*decoded != 0 || decoder_->input_space().empty()) return decoded;
  }
}

Result<std::size_t> File::read_raw(unsigned char* buffer, std::size_t size,
                                   const Interrupt* interrupt) {
  if (!waits_) return retry_read([&] { return ::read(fd_, buffer, size); }, interrupt);
  // A pipe, FIFO or device: wait until it has bytes or has ended, asking
  // `interrupt` every kInterruptPoll, so that a read on a thread that no
  // signal reaches can be stopped too. (A FIFO opened without blocking
  // reports neither before its first writer comes.)
  const int slice = interrupt == nullptr ? -1 : static_cast<int>(kInterruptPoll.count());
  for (;;) {
    pollfd wanted{fd_, POLLIN, 0};
    const int ready = ::poll(&wanted, 1, slice);
    if (ready < 0 && errno != EINTR) return std::unexpected(ReaderError::from_os(errno));
    if (ready <= 0) {
      if (interrupt_requested(interrupt)) return std::unexpected(ReaderError::interrupted());
      continue;
    }
    const ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR && errno != EAGAIN) return std::unexpected(ReaderError::from_os(errno));
  }
}

Result<std::size_t> File::read_at(unsigned char* buffer, std::size_t size, std::uint64_t offset,
                                  const Interrupt* interrupt) const {
  return retry_read([&] { return ::pread(fd_, buffer, size, static_cast<off_t>(offset)); },
                    interrupt);
}

}  // namespace vcd

#include "src/lib/body_walker.hpp"

namespace quarnel {

Result<Body> open_body(const Dump& dump, const vcd::Interrupt* interrupt) {
  if (dump.rest) return Body{std::move(*dump.rest), std::nullopt};
  // A file read again is a regular one that was read as it is.
  auto file = vcd::File::open_read(dump.path, interrupt);
  if (!file) return std::unexpected(VcdError::io(file.error()));
  const auto size = file->regular_size();
  if (size && *size < dump.body_offset) {
    return std::unexpected(VcdError::io(vcd::ReaderError::eof(vcd::kEofInCommand)));
  }
  if (auto seek = file->seek(dump.body_offset); !seek)
    return std::unexpected(VcdError::io(seek.error()));
  std::optional<std::uint64_t> length;
  if (size) length = *size - dump.body_offset;
  return Body{vcd::FileRest{std::move(*file), {}}, length};
}

}  // namespace quarnel

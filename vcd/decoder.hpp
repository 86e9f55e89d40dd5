// Compressed dumps: a gzip or zstd stream, told by its first bytes, decoded
// as it is read. The decoder takes the file's raw bytes in blocks and hands
// out the decompressed text; the file (file.hpp) drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "vcd/error.hpp"

namespace vcd {

enum class Compression : std::uint8_t { none, gzip, zstd };

// The compression of a file that begins with `head` (its first bytes, at
// least kMagicSize of them unless the file is shorter).
inline constexpr std::size_t kMagicSize = 4;
Compression compression_of(std::span<const unsigned char> head);

// Whether this build reads zstd streams (libzstd was found when it was built).
bool zstd_supported();

class Decoder {
 public:
  // A decoder for `kind` (gzip or zstd); an error when this build cannot
  // read it or the library cannot start.
  static Result<std::unique_ptr<Decoder>> create(Compression kind);
  virtual ~Decoder() = default;

  // Where the next raw bytes go, once the ones given so far are used up;
  // empty while some are left.
  virtual std::span<unsigned char> input_space() = 0;
  // `size` raw bytes were put into input_space(); 0 means the file ended.
  virtual void supplied(std::size_t size) = 0;
  // Decodes into `out`: the number of bytes written, 0 when it needs input
  // (input_space() is not empty) or when every stream has ended. A damaged
  // stream, or a file that ends inside one, is an error of kind InvalidData.
  virtual Result<std::size_t> decode(std::span<unsigned char> out) = 0;
  // Back to the state of a new decoder, for reading the file from its start.
  virtual void restart() = 0;
};

}  // namespace vcd

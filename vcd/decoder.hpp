// Compressed dumps: a gzip or zstd stream, told by its first bytes, decoded
// as it is read. The decoder takes the file's raw bytes in blocks and hands
// out the decompressed text; the file (file.hpp) drives it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "vcd/error.hpp"

namespace vcd {

enum class Compression : std::uint8_t { none, gzip, zstd };

// The compression of a file that begins with `head` (its first bytes, at
// least kMagicSize of them unless the file is shorter).
inline constexpr std::size_t kMagicSize = 4;
Compression compression_of(std::span<const unsigned char> head);

class Decoder {
 public:
  // A decoder for `kind` (gzip or zstd); an error when this build cannot
  // read it or the library cannot start.
  static Result<std::unique_ptr<Decoder>> create(Compression kind);
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  virtual ~Decoder() = default;

  // Where the next raw bytes go, once the ones given so far are used up;
  // empty while some are left, and after the file ended.
  std::span<unsigned char> input_space();
  // `size` raw bytes were put into input_space(); 0 means the file ended.
  void supplied(std::size_t size);
  // Decodes into `out`: the number of bytes written, 0 when it needs input
  // (input_space() is not empty) or when every stream has ended. A damaged
  // stream, or a file that ends inside one, is an error of kind InvalidData.
  Result<std::size_t> decode(std::span<unsigned char> out);

 protected:
  // What one call of the library did.
  struct Step {
    std::size_t written;
    bool stream_end;  // a whole stream (gzip member, zstd frame) has ended
  };

  explicit Decoder(std::string_view format);
  // Decodes from [in, in_end) into `out`, moving `in` past what it used.
  virtual Result<Step> step(const unsigned char*& in, const unsigned char* in_end,
                            std::span<unsigned char> out) = 0;

 private:
  std::string_view format_;  // "gzip" or "zstd", for messages
  std::unique_ptr<unsigned char[]> input_;
  const unsigned char* in_ = nullptr;
  const unsigned char* in_end_ = nullptr;
  bool ended_ = false;        // the file has no more bytes
  bool stream_end_ = false;   // the last step ended a stream
  bool output_left_ = false;  // the last step filled its output: more may be inside
};

}  // namespace vcd

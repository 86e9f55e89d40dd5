#include "vcd/decoder.hpp"

#include <zlib.h>

#include <climits>
#include <string>
#include <string_view>

#ifdef QUARNEL_HAVE_ZSTD
#include <zstd.h>
#endif

namespace vcd {

namespace {

constexpr std::size_t kInputSize = std::size_t{1} << 17;

ReaderError damaged(std::string_view what) {
  return {ReaderError::Kind::InvalidData, 0, std::string(what)};
}

// The raw bytes a decoder has been given and not yet used.
class Input {
 public:
  Input() : buffer_(std::make_unique_for_overwrite<unsigned char[]>(kInputSize)) {}

  std::span<unsigned char> space() {
    return begin_ == end_ && !ended_ ? std::span(buffer_.get(), kInputSize)
                                     : std::span<unsigned char>();
  }
  void supplied(std::size_t size) {
    begin_ = buffer_.get();
    end_ = begin_ + size;
    ended_ = size == 0;
  }
  void restart() { begin_ = end_ = nullptr, ended_ = false; }

  unsigned char* begin_ = nullptr;
  unsigned char* end_ = nullptr;
  bool ended_ = false;  // the file has no more bytes

 private:
  std::unique_ptr<unsigned char[]> buffer_;
};

// One or more gzip members, one after the other, as `cat a.gz b.gz` makes.
class GzipDecoder final : public Decoder {
 public:
  GzipDecoder() = default;
  GzipDecoder(const GzipDecoder&) = delete;
  GzipDecoder& operator=(const GzipDecoder&) = delete;
  ~GzipDecoder() override {
    if (started_) inflateEnd(&stream_);
  }

  bool start() {
    started_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;  // 16: gzip framing only
    return started_;
  }

  std::span<unsigned char> input_space() override { return input_.space(); }
  void supplied(std::size_t size) override { input_.supplied(size); }
  void restart() override {
    input_.restart();
    inflateReset(&stream_);
    between_members_ = false;
    output_left_ = false;
  }

  Result<std::size_t> decode(std::span<unsigned char> out) override {
    for (;;) {
      if (input_.begin_ == input_.end_ && !output_left_) {
        if (!input_.ended_ || between_members_) return 0;
        return std::unexpected(damaged("gzip stream cut short"));
      }
      stream_.next_in = input_.begin_;
      stream_.avail_in = static_cast<uInt>(input_.end_ - input_.begin_);
      stream_.next_out = out.data();
      stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT_MAX));
      const int status = inflate(&stream_, Z_NO_FLUSH);
      if (stream_.next_in != input_.begin_) between_members_ = false;
      input_.begin_ = stream_.next_in;
      const auto written = static_cast<std::size_t>(stream_.next_out - out.data());
      // A full output may leave decoded bytes inside zlib.
      output_left_ = stream_.avail_out == 0;
      if (status == Z_STREAM_END) {
        // Another member may follow.
        inflateReset(&stream_);
        between_members_ = true;
        output_left_ = false;
      } else if (status != Z_OK && status != Z_BUF_ERROR) {
        return std::unexpected(damaged(std::string("invalid gzip data: ") +
                                       (stream_.msg != nullptr ? stream_.msg : zError(status))));
      }
      if (written != 0) return written;
    }
  }

 private:
  Input input_;
  z_stream stream_{};
  bool started_ = false;
  bool between_members_ = false;
  bool output_left_ = false;
};

#ifdef QUARNEL_HAVE_ZSTD
// One or more zstd frames; skippable frames are passed over by libzstd.
class ZstdDecoder final : public Decoder {
 public:
  ZstdDecoder() : stream_(ZSTD_createDStream()) {}
  ZstdDecoder(const ZstdDecoder&) = delete;
  ZstdDecoder& operator=(const ZstdDecoder&) = delete;
  ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

  bool start() { return stream_ != nullptr; }

  std::span<unsigned char> input_space() override { return input_.space(); }
  void supplied(std::size_t size) override { input_.supplied(size); }
  void restart() override {
    input_.restart();
    ZSTD_DCtx_reset(stream_, ZSTD_reset_session_only);
    between_frames_ = true;
    output_left_ = false;
  }

  Result<std::size_t> decode(std::span<unsigned char> out) override {
    for (;;) {
      if (input_.begin_ == input_.end_ && !output_left_) {
        if (!input_.ended_ || between_frames_) return 0;
        return std::unexpected(damaged("zstd stream cut short"));
      }
      ZSTD_inBuffer in{input_.begin_, static_cast<std::size_t>(input_.end_ - input_.begin_), 0};
      ZSTD_outBuffer to{out.data(), out.size(), 0};
      const std::size_t status = ZSTD_decompressStream(stream_, &to, &in);
      input_.begin_ += in.pos;
      if (ZSTD_isError(status)) {
        return std::unexpected(
            damaged(std::string("invalid zstd data: ") + ZSTD_getErrorName(status)));
      }
      between_frames_ = status == 0;
      // A full output may leave decoded bytes inside libzstd.
      output_left_ = to.pos == to.size;
      if (to.pos != 0) return to.pos;
    }
  }

 private:
  Input input_;
  ZSTD_DStream* stream_;
  bool between_frames_ = true;
  bool output_left_ = false;
};
#endif

template <class D>
Result<std::unique_ptr<Decoder>> started() {
  auto decoder = std::make_unique<D>();
  if (!decoder->start()) return std::unexpected(damaged("cannot start the decompressor"));
  return decoder;
}

}  // namespace

Compression compression_of(std::span<const unsigned char> head) {
  if (head.size() >= 2 && head[0] == 0x1f && head[1] == 0x8b) return Compression::gzip;
  if (head.size() >= 4 && head[0] == 0x28 && head[1] == 0xb5 && head[2] == 0x2f &&
      head[3] == 0xfd) {
    return Compression::zstd;
  }
  return Compression::none;
}

bool zstd_supported() {
#ifdef QUARNEL_HAVE_ZSTD
  return true;
#else
  return false;
#endif
}

Result<std::unique_ptr<Decoder>> Decoder::create(Compression kind) {
  if (kind == Compression::gzip) return started<GzipDecoder>();
#ifdef QUARNEL_HAVE_ZSTD
  return started<ZstdDecoder>();
#else
  return std::unexpected(
      damaged("zstd-compressed file, but this build of quarnel reads no zstd "
              "(libzstd was not found when it was built)"));
#endif
}

}  // namespace vcd

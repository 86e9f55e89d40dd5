#include "vcd/decoder.hpp"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <string>

#ifdef QUARNEL_HAVE_ZSTD
#include <zstd.h>
#endif

namespace vcd {

namespace {

constexpr std::size_t kInputSize = std::size_t{1} << 17;

ReaderError damaged(std::string_view what) {
  return {ReaderError::Kind::InvalidData, 0, std::string(what)};
}

// One or more gzip members, one after the other, as `cat a.gz b.gz` makes.
class GzipDecoder final : public Decoder {
 public:
  GzipDecoder() : Decoder("gzip") {}
  ~GzipDecoder() override {
    if (started_) inflateEnd(&stream_);
  }

  bool start() {
    started_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;  // 16: gzip framing only
    return started_;
  }

 private:
  Result<Step> step(const unsigned char*& in, const unsigned char* in_end,
                    std::span<unsigned char> out) override {
    stream_.next_in = const_cast<unsigned char*>(in);
    stream_.avail_in = static_cast<uInt>(in_end - in);
    stream_.next_out = out.data();
    stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT_MAX));
    const int status = inflate(&stream_, Z_NO_FLUSH);
    in = stream_.next_in;
    if (status != Z_OK && status != Z_BUF_ERROR && status != Z_STREAM_END) {
      return std::unexpected(damaged(std::string("invalid gzip data: ") +
                                     (stream_.msg != nullptr ? stream_.msg : zError(status))));
    }
    // Another member may follow.
    if (status == Z_STREAM_END) inflateReset(&stream_);
    return Step{static_cast<std::size_t>(stream_.next_out - out.data()), status == Z_STREAM_END};
  }

  z_stream stream_{};
  bool started_ = false;
};

#ifdef QUARNEL_HAVE_ZSTD
// One or more zstd frames; skippable frames are passed over by libzstd.
class ZstdDecoder final : public Decoder {
 public:
  ZstdDecoder() : Decoder("zstd"), stream_(ZSTD_createDStream()) {}
  ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

  bool start() const { return stream_ != nullptr; }

 private:
  Result<Step> step(const unsigned char*& in, const unsigned char* in_end,
                    std::span<unsigned char> out) override {
    ZSTD_inBuffer from{in, static_cast<std::size_t>(in_end - in), 0};
    ZSTD_outBuffer to{out.data(), out.size(), 0};
    const std::size_t status = ZSTD_decompressStream(stream_, &to, &from);
    in += from.pos;
    if (ZSTD_isError(status)) {
      return std::unexpected(
          damaged(std::string("invalid zstd data: ") + ZSTD_getErrorName(status)));
    }
    return Step{to.pos, status == 0};
  }

  ZSTD_DStream* stream_;
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
  if (head.size() < 4) return Compression::none;
  // A zstd frame, or a skippable frame (magic 0x184D2A50 to 0x184D2A5F), which
  // may come first.
  if (head[0] == 0x28 && head[1] == 0xb5 && head[2] == 0x2f && head[3] == 0xfd)
    return Compression::zstd;
  if ((head[0] & 0xf0) == 0x50 && head[1] == 0x2a && head[2] == 0x4d && head[3] == 0x18)
    return Compression::zstd;
  return Compression::none;
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

Decoder::Decoder(std::string_view format)
    : format_(format), input_(std::make_unique_for_overwrite<unsigned char[]>(kInputSize)) {}

std::span<unsigned char> Decoder::input_space() {
  if (in_ != in_end_ || ended_) return {};
  return {input_.get(), kInputSize};
}

void Decoder::supplied(std::size_t size) {
  in_ = input_.get();
  in_end_ = in_ + size;
  ended_ = size == 0;
}

Result<std::size_t> Decoder::decode(std::span<unsigned char> out) {
  for (;;) {
    if (in_ == in_end_ && !output_left_) {
      // Without input the file may only end where a stream ended.
      if (!ended_ || stream_end_) return 0;
      return std::unexpected(damaged(std::string(format_) + " stream cut short"));
    }
    const unsigned char* const from = in_;
    auto step = this->step(in_, in_end_, out);
    if (!step) return std::unexpected(std::move(step.error()));
    // A step that found nothing to do, after one that ended a stream and
    // filled its output, leaves the stream ended.
    if (in_ != from || step->written != 0) stream_end_ = step->stream_end;
    output_left_ = step->written == out.size();
    if (step->written != 0) return step->written;
  }
}

}  // namespace vcd

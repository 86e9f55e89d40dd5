#include "src/lib/body_index.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <span>
#include <utility>

#include "src/lib/code_index.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/split_walk.hpp"

namespace quarnel {

namespace {

// The format: "QIDX", the version and the length of the summary, the
// summary (what a read of the whole body found) and the CRC-32 of all that;
// then the checkpoints and snapshots and the CRC-32 of those. All numbers
// little-endian, the fields in the order of encode(). The summary can be
// read and checked alone.
constexpr std::array<char, 4> kMagic = {'Q', 'I', 'D', 'X'};
constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kLead = 4 + 4 + 8;  // magic, version, summary length
// What a read of the summary alone takes first: usually all of it.
constexpr std::size_t kSummaryGuess = 4096;
// Snapshots lie at least this many pieces apart.
constexpr std::uint64_t kSnapshotPieces = 4;

std::uint32_t crc_of(const unsigned char* data, std::size_t size, std::uint32_t crc = 0) {
  while (size > 0) {
    const auto step = static_cast<uInt>(std::min<std::size_t>(size, 1U << 30));
    crc = static_cast<std::uint32_t>(crc32(crc, data, step));
    data += step;
    size -= step;
  }
  return crc;
}

// The CRC-32 of `size` bytes of `file` at `offset`; nothing when they cannot
// all be read.
std::optional<std::uint32_t> crc_at(const vcd::File& file, std::uint64_t offset,
                                    std::uint64_t size) {
  std::vector<unsigned char> buffer(std::min<std::uint64_t>(size, std::uint64_t{1} << 20));
  std::uint32_t crc = 0;
  while (size > 0) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(size, buffer.size()));
    auto got = file.read_at(buffer.data(), want, offset);
    if (!got || *got == 0) return std::nullopt;
    crc = crc_of(buffer.data(), *got, crc);
    offset += *got;
    size -= *got;
  }
  return crc;
}

std::uint32_t probe_size(std::uint64_t file_size, std::uint64_t offset) {
  return static_cast<std::uint32_t>(std::min(kProbeBytes, file_size - std::min(offset, file_size)));
}

// Where the last kProbeBytes of a file of `size` bytes begin.
std::uint64_t tail_offset(std::uint64_t size) {
  return size > kProbeBytes ? size - kProbeBytes : 0;
}

std::optional<DumpIdentity> stat_identity(const std::string& path) {
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  DumpIdentity identity;
  identity.size = static_cast<std::uint64_t>(status.st_size);
  identity.mtime_ns = std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec;
  identity.ctime_ns = std::int64_t{status.st_ctim.tv_sec} * 1'000'000'000 + status.st_ctim.tv_nsec;
  return identity;
}

// ---- Reading the body -------------------------------------------------------

// The bytes a value takes in a snapshot, besides its kind byte.
std::uint64_t size_of(const HeldChange& value) {
  if (!value.set) return 0;
  switch (value.kind) {
    case ChangeView::Kind::Scalar: return 1;
    case ChangeView::Kind::Real: return 8;
    case ChangeView::Kind::Vector:
    case ChangeView::Kind::String: return 8 + value.text.size();
  }
  return 0;
}

// The order of the timestamps of a stretch: its first and last, and whether
// one is ever smaller than the one before it.
struct TimeOrder {
  bool stamped = false;
  bool back = false;
  std::uint64_t first = 0;
  std::uint64_t last = 0;

  void see(std::uint64_t time) {
    if (!stamped) {
      stamped = true;
      first = time;
    } else if (time < last) {
      back = true;
    }
    last = time;
  }
  // The order of the stretch that follows this one.
  void append(const TimeOrder& next) {
    if (!next.stamped) return;
    back = back || next.back || (stamped && next.first < last);
    if (!stamped) first = next.first;
    stamped = true;
    last = next.last;
  }
};

// What both visitors of an index build share: they want every code, by its
// slot, and note the order of the timestamps.
class EveryCode {
 public:
  explicit EveryCode(const CodeIndex& slots) : slots_(&slots) {}

  const CodeIndex& codes() const { return *slots_; }
  [[gnu::always_inline]] std::uint32_t wanted(vcd::IdCode code) const {
    const std::uint32_t slot = slots_->find(code);
    return slot == CodeIndex::kNone ? 0 : slot + 1;
  }
  void timestamp(std::uint64_t time) { times_.see(time); }
  const TimeOrder& times() const { return times_; }

 protected:
  const CodeIndex* slots_;
  TimeOrder times_;
};

// The last value of each code within one piece of a body, kept as the
// reader hands it over and little more: the raw bytes of a change line's
// value in a cell of its code, anything else aside.
class PieceValues : public EveryCode {
 public:
  PieceValues(const CodeIndex& slots, std::size_t count)
      : EveryCode(slots),
        last_(count),
        // Left uninitialised: a cell is read only once written, and the
        // pages of the cells of codes a piece never changes stay untouched.
        cells_(std::make_unique_for_overwrite<unsigned char[]>(count * kRawReach)) {}

  bool change(std::uint64_t /*time*/, const vcd::cmd::Change& command, std::uint32_t slot) {
    held(slot - 1).hold(command.value);
    return true;
  }
  // Copies a whole cell whatever the value's length, without a branch on its
  // kind, so that scalars and vectors in any order cost the same.
  [[gnu::always_inline]] void take(std::uint64_t text, unsigned length, const unsigned char* line,
                                   unsigned value_length) {
    const std::uint32_t slot = slots_->find(vcd::id_code_of_text_word(text, length));
    if (slot == CodeIndex::kNone) return;
    std::uint32_t& last = last_[slot];
    if (value_length <= kRawReach) [[likely]] {
      if (last == 0) touched_.push_back(slot);
      std::memcpy(cells_.get() + std::size_t{slot} * kRawReach, line, kRawReach);
      last = value_length;
    } else {
      held(slot).hold(
          vcd::raw_change_value({reinterpret_cast<const char*>(line), std::size_t{value_length}}));
    }
  }

  // Where a value of `slot` that its cell cannot hold goes: one place per
  // slot, made at its first such value and used again for the next.
  HeldChange& held(std::uint32_t slot) {
    std::uint32_t& last = last_[slot];
    if (last == 0) touched_.push_back(slot);
    if (places_.empty()) places_.resize(last_.size());
    std::uint32_t& place = places_[slot];
    if (place == 0) {
      held_.emplace_back();
      place = static_cast<std::uint32_t>(held_.size());
    }
    last = kHeld | (place - 1);
    return held_[place - 1];
  }

  // The slots this piece changed, in the order first changed.
  const std::vector<std::uint32_t>& touched() const { return touched_; }
  // The last value of a slot the piece changed; valid while the piece lives.
  ChangeView value(std::uint32_t slot) const {
    const std::uint32_t last = last_[slot];
    if ((last & kHeld) != 0) return held_[last & ~kHeld].view();
    return vcd::raw_change_value(
        {reinterpret_cast<const char*>(cells_.get()) + std::size_t{slot} * kRawReach, last});
  }

 private:
  static constexpr std::size_t kRawReach = vcd::kRawReach;
  // A slot's word: 0 unchanged, the length of its raw value in its cell, or
  // this flag and where in held_ its value lies.
  static constexpr std::uint32_t kHeld = std::uint32_t{1} << 31;

  std::vector<std::uint32_t> last_;
  std::vector<std::uint32_t> touched_;
  std::unique_ptr<unsigned char[]> cells_;
  std::vector<HeldChange> held_;
  // Per slot: 1 + its place in held_, or 0; made with the first place.
  std::vector<std::uint32_t> places_;
};

// The visitor of the read that builds an index: the value of every code
// held, the times checked for going back, and at each checkpoint a note and
// now and then a snapshot. Pieces read on other threads keep their last
// values raw (PieceValues), joined here in file order.
class IndexBuilder : public EveryCode {
 public:
  IndexBuilder(const CodeIndex& slots, std::size_t count, BodyIndex& index,
               std::uint64_t min_spacing, std::uint64_t share, std::uint64_t body_offset)
      : EveryCode(slots),
        held_(count),
        index_(&index),
        min_spacing_(min_spacing),
        share_(share),
        snapshot_offset_(body_offset) {}

  bool change(std::uint64_t /*time*/, const vcd::cmd::Change& command, std::uint32_t slot) {
    hold(slot - 1, command.value);
    return true;
  }

  PieceValues piece() const { return {*slots_, held_.size()}; }
  bool join(const PieceValues& piece) {
    for (const std::uint32_t slot : piece.touched()) hold(slot, piece.value(slot));
    times_.append(piece.times());
    return true;
  }

  void checkpoint(std::uint64_t offset, std::uint64_t line, std::uint64_t time) {
    index_->checkpoints.push_back(Checkpoint{offset, line, time, 0});
    // What a snapshot would take, the unchanged values included.
    const std::uint64_t bytes = bytes_ + held_.size();
    if (offset - snapshot_offset_ < std::max(min_spacing_, bytes * share_)) return;
    snapshot_offset_ = offset;
    index_->snapshots.push_back(
        Snapshot{static_cast<std::uint32_t>(index_->checkpoints.size() - 1), held_});
  }

  bool time_goes_back() const { return times_.back; }

 private:
  void hold(std::uint32_t slot, const ChangeView& value) {
    HeldChange& held = held_[slot];
    bytes_ -= size_of(held);
    held.hold(value);
    bytes_ += size_of(held);
  }

  std::vector<HeldChange> held_;
  BodyIndex* index_;
  std::uint64_t bytes_ = 0;  // what the values held take in a snapshot, kinds aside
  std::uint64_t min_spacing_;
  std::uint64_t share_;
  std::uint64_t snapshot_offset_;
};

// The distinct identifier codes of the dump's variables in declaration
// order (the buses it was opened with left out), each numbered in `slots` by
// its position.
std::vector<vcd::IdCode> distinct_codes(const Dump& dump, CodeIndex& slots) {
  std::vector<vcd::IdCode> codes;
  for (const Signal& signal :
       std::span(dump.signals).first(dump.signals.size() - dump.buses.size())) {
    if (slots.insert(signal.id_code, static_cast<std::uint32_t>(codes.size())) == codes.size())
      codes.push_back(signal.id_code);
  }
  return codes;
}

// ---- The file -----------------------------------------------------------------

class Encoder {
 public:
  void u8(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void u32(std::uint32_t value) { put(value); }
  void u64(std::uint64_t value) { put(value); }
  void text(std::string_view value) {
    u64(value.size());
    bytes_.append(value);
  }
  // The CRC-32 of what was written since `from`.
  void checksum(std::size_t from) {
    u32(crc_of(reinterpret_cast<const unsigned char*>(bytes_.data()) + from, bytes_.size() - from));
  }
  std::size_t size() const { return bytes_.size(); }
  std::string bytes() && { return std::move(bytes_); }

 private:
  template <class T>
  void put(T value) {
    for (std::size_t i = 0; i < sizeof value; ++i) {
      bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
  }
  std::string bytes_;
};

class Decoder {
 public:
  explicit Decoder(std::string_view bytes, std::size_t at = 0) : bytes_(bytes), at_(at) {}

  bool u8(std::uint8_t& value) { return get(value); }
  bool u32(std::uint32_t& value) { return get(value); }
  bool u64(std::uint64_t& value) { return get(value); }
  bool text(std::string& value) {
    std::uint64_t size = 0;
    if (!u64(size) || size > bytes_.size() - at_) return false;
    value.assign(bytes_.substr(at_, size));
    at_ += size;
    return true;
  }
  // A count of items of at least `item` bytes each that the rest can hold.
  bool count(std::uint64_t& value, std::size_t item) {
    return u64(value) && value <= (bytes_.size() - at_) / item;
  }
  bool done() const { return at_ == bytes_.size(); }
  std::size_t position() const { return at_; }

 private:
  template <class T>
  bool get(T& value) {
    if (bytes_.size() - at_ < sizeof value) return false;
    value = 0;
    for (std::size_t i = 0; i < sizeof value; ++i) {
      value |= static_cast<T>(static_cast<unsigned char>(bytes_[at_ + i])) << (8 * i);
    }
    at_ += sizeof value;
    return true;
  }
  std::string_view bytes_;
  std::size_t at_ = 0;
};

std::string encode(const BodyIndex& index, vcd::Dialect dialect) {
  Encoder summary;
  summary.u8(static_cast<std::uint8_t>(dialect));
  const DumpIdentity& id = index.identity;
  summary.u64(id.size);
  summary.u64(static_cast<std::uint64_t>(id.mtime_ns));
  summary.u64(static_cast<std::uint64_t>(id.ctime_ns));
  summary.u64(id.body_offset);
  summary.u32(id.header_crc);
  summary.u32(id.tail_crc);
  summary.u64(index.signal_count);
  summary.u8(static_cast<std::uint8_t>(index.any_time) | (index.time_goes_back ? 2 : 0) |
             (index.error ? 4 : 0));
  summary.u64(index.first_time);
  summary.u64(index.last_time);
  if (index.error) {
    summary.u8(static_cast<std::uint8_t>(index.error->kind));
    summary.text(index.error->payload);
  }
  Encoder out;
  for (const char c : kMagic) out.u8(static_cast<std::uint8_t>(c));
  out.u32(kVersion);
  out.text(std::move(summary).bytes());
  out.checksum(0);
  const std::size_t rest = out.size();
  out.u64(index.checkpoints.size());
  for (const Checkpoint& at : index.checkpoints) {
    out.u64(at.offset);
    out.u64(at.line);
    out.u64(at.time);
    out.u32(at.crc);
  }
  out.u64(index.codes.size());
  out.u64(index.snapshots.size());
  for (const Snapshot& snapshot : index.snapshots) {
    out.u32(snapshot.checkpoint);
    for (const HeldChange& value : snapshot.values) {
      out.u8(value.set ? static_cast<std::uint8_t>(value.kind) + 1 : 0);
      if (!value.set) continue;
      switch (value.kind) {
        case ChangeView::Kind::Scalar: out.u8(static_cast<std::uint8_t>(value.scalar)); break;
        case ChangeView::Kind::Real: {
          std::uint64_t bits = 0;
          std::memcpy(&bits, &value.real, sizeof bits);
          out.u64(bits);
          break;
        }
        case ChangeView::Kind::Vector:
        case ChangeView::Kind::String: out.text(value.text); break;
      }
    }
  }
  out.checksum(rest);
  return std::move(out).bytes();
}

bool decode_value(Decoder& in, HeldChange& value) {
  std::uint8_t kind = 0;
  if (!in.u8(kind) || kind > static_cast<std::uint8_t>(ChangeView::Kind::String) + 1) return false;
  if (kind == 0) return true;
  value.set = true;
  value.kind = static_cast<ChangeView::Kind>(kind - 1);
  switch (value.kind) {
    case ChangeView::Kind::Scalar: {
      std::uint8_t scalar = 0;
      if (!in.u8(scalar) || scalar >= vcd::kValueCount) return false;
      value.scalar = static_cast<vcd::Value>(scalar);
      return true;
    }
    case ChangeView::Kind::Real: {
      std::uint64_t bits = 0;
      if (!in.u64(bits)) return false;
      std::memcpy(&value.real, &bits, sizeof bits);
      return true;
    }
    case ChangeView::Kind::Vector:
    case ChangeView::Kind::String: return in.text(value.text);
  }
  return false;
}

// How many bytes from the start of `bytes`, the first bytes of an index
// file, its summary and that summary's checksum take; nothing when they do
// not begin an index of this version.
std::optional<std::uint64_t> summary_end(std::string_view bytes) {
  Decoder in(bytes);
  std::array<std::uint8_t, 4> magic{};
  std::uint32_t version = 0;
  std::uint64_t length = 0;
  for (std::uint8_t& c : magic) in.u8(c);
  if (!std::ranges::equal(magic, kMagic, {}, {},
                          [](char c) { return static_cast<std::uint8_t>(c); }) ||
      !in.u32(version) || version != kVersion || !in.u64(length) ||
      length > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return kLead + length + 4;
}

// The summary of the index whose first bytes are `bytes`, when it is whole
// and was built in `dialect`.
std::optional<BodyIndex> decode_summary(std::string_view bytes, vcd::Dialect dialect) {
  const auto end = summary_end(bytes);
  if (!end || *end > bytes.size()) return std::nullopt;
  Decoder check(bytes.substr(*end - 4, 4));
  std::uint32_t crc = 0;
  if (!check.u32(crc) ||
      crc != crc_of(reinterpret_cast<const unsigned char*>(bytes.data()), *end - 4)) {
    return std::nullopt;
  }
  Decoder in(bytes.substr(kLead, *end - 4 - kLead));
  BodyIndex index;
  std::uint8_t built_in = 0;
  DumpIdentity& id = index.identity;
  std::uint64_t mtime = 0;
  std::uint64_t ctime = 0;
  std::uint8_t flags = 0;
  if (!in.u8(built_in) || built_in != static_cast<std::uint8_t>(dialect) || !in.u64(id.size) ||
      !in.u64(mtime) || !in.u64(ctime) || !in.u64(id.body_offset) || !in.u32(id.header_crc) ||
      !in.u32(id.tail_crc) || !in.u64(index.signal_count) || !in.u8(flags) ||
      !in.u64(index.first_time) || !in.u64(index.last_time)) {
    return std::nullopt;
  }
  id.mtime_ns = static_cast<std::int64_t>(mtime);
  id.ctime_ns = static_cast<std::int64_t>(ctime);
  index.any_time = (flags & 1) != 0;
  index.time_goes_back = (flags & 2) != 0;
  if ((flags & 4) != 0) {
    std::uint8_t kind = 0;
    VcdError error{VcdError::Kind::Io, {}};
    if (!in.u8(kind) || kind > static_cast<std::uint8_t>(VcdError::Kind::Interrupted) ||
        !in.text(error.payload)) {
      return std::nullopt;
    }
    error.kind = static_cast<VcdError::Kind>(kind);
    index.error = std::move(error);
  }
  if (!in.done()) return std::nullopt;
  return index;
}

// The checkpoints and snapshots of `index`, from `bytes`, the whole file its
// summary was decoded from; false when they are not whole.
bool decode_rest(std::string_view bytes, BodyIndex& index) {
  const auto end = summary_end(bytes);
  if (!end || bytes.size() - *end < 4) return false;
  const std::size_t from = *end;
  Decoder check(bytes.substr(bytes.size() - 4));
  std::uint32_t crc = 0;
  const std::string_view rest = bytes.substr(from, bytes.size() - 4 - from);
  if (!check.u32(crc) ||
      crc != crc_of(reinterpret_cast<const unsigned char*>(rest.data()), rest.size())) {
    return false;
  }
  // Positions are those in the whole file, where snapshot_values finds them.
  Decoder in(bytes.substr(0, bytes.size() - 4), from);
  std::uint64_t count = 0;
  if (!in.count(count, 28)) return false;
  index.checkpoints.resize(count);
  for (Checkpoint& at : index.checkpoints) {
    if (!in.u64(at.offset) || !in.u64(at.line) || !in.u64(at.time) || !in.u32(at.crc)) return false;
  }
  // The codes themselves are those of the header, which the index checks.
  std::uint64_t codes = 0;
  if (!in.u64(codes) || codes > bytes.size() || !in.count(count, 4 + codes)) return false;
  index.codes.resize(codes);
  index.snapshots.resize(count);
  for (Snapshot& snapshot : index.snapshots) {
    if (!in.u32(snapshot.checkpoint) || snapshot.checkpoint >= index.checkpoints.size())
      return false;
    // Checked now, decoded when used.
    snapshot.at = in.position();
    HeldChange value;
    for (std::uint64_t i = 0; i < codes; ++i) {
      value.set = false;
      if (!decode_value(in, value)) return false;
    }
  }
  return in.done();
}

// Appends the bytes of `stream` to `bytes` until it holds `limit` or the
// stream ends.
void read_up_to(std::FILE* stream, std::string& bytes, std::size_t limit) {
  std::array<char, 1 << 16> buffer{};
  while (bytes.size() < limit) {
    const std::size_t want = std::min(buffer.size(), limit - bytes.size());
    const std::size_t got = std::fread(buffer.data(), 1, want, stream);
    bytes.append(buffer.data(), got);
    if (got < want) return;
  }
}

Result<void> write_atomically(const std::string& destination, const std::string& bytes) {
  const std::string temporary = destination + ".tmp" + std::to_string(::getpid());
  const auto failed = [&](int error) {
    ::unlink(temporary.c_str());
    return std::unexpected(VcdError{VcdError::Kind::Io, destination + ": " + std::strerror(error)});
  };
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return failed(errno);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t step = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) {
      const int error = step < 0 ? errno : EIO;
      ::close(fd);
      return failed(error);
    }
    written += static_cast<std::size_t>(step);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) return failed(errno);
  if (::rename(temporary.c_str(), destination.c_str()) != 0) return failed(errno);
  return {};
}

void note(const CallContext& context, std::string line) {
  if (context.index && context.index->notes != nullptr)
    context.index->notes->push_back(std::move(line));
}

}  // namespace

std::string index_path(const std::string& path, const std::string& directory) {
  if (directory.empty()) return path + ".qidx";
  std::error_code error;
  const std::string absolute = std::filesystem::absolute(path, error).string();
  const std::uint32_t crc =
      crc_of(reinterpret_cast<const unsigned char*>(absolute.data()), absolute.size());
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", crc);
  return (std::filesystem::path(directory) /
          (std::filesystem::path(path).filename().string() + "." + hex + ".qidx"))
      .string();
}

Result<BodyIndex> build_index(const std::string& path, const std::string& destination,
                              const CallContext& context, std::uint64_t snapshot_share) {
  const auto identity = stat_identity(path);
  auto dump = open_dump(path, context);
  if (!dump) return std::unexpected(std::move(dump.error()));
  auto body = open_body(*dump, context.interrupt);
  if (!body) return std::unexpected(std::move(body.error()));
  if (!identity || !body->length || identity->size != dump->body_offset + *body->length) {
    return std::unexpected(
        VcdError{VcdError::Kind::Io, "only a regular, uncompressed dump can be indexed"});
  }
  const vcd::File& file = body->rest.file;

  BodyIndex index;
  index.identity = *identity;
  index.identity.body_offset = dump->body_offset;
  index.signal_count = dump->signals.size();
  CodeIndex slots;
  index.codes = distinct_codes(*dump, slots);
  IndexBuilder builder(slots, index.codes.size(), index,
                       kSnapshotPieces * context.settings.chunk_bytes, snapshot_share,
                       dump->body_offset);
  BodyTimes times;
  // Pieces however many threads there are: their starts are the checkpoints.
  auto read = walk_split(file, dump->body_offset, *body->length, context, Window{}, builder, times);
  if (!read) {
    if (read.error().kind == VcdError::Kind::Interrupted) return std::unexpected(read.error());
    index.error = read.error();
  }
  index.any_time = times.any;
  index.first_time = times.first;
  index.last_time = times.last.value_or(0);
  index.time_goes_back = builder.time_goes_back();

  const auto header = crc_at(file, 0, dump->body_offset);
  const std::uint64_t tail = tail_offset(identity->size);
  const auto tail_crc = crc_at(file, tail, identity->size - tail);
  if (!header || !tail_crc)
    return std::unexpected(VcdError{VcdError::Kind::Io, path + ": changed while indexed"});
  index.identity.header_crc = *header;
  index.identity.tail_crc = *tail_crc;
  for (Checkpoint& at : index.checkpoints) {
    const auto crc = crc_at(file, at.offset, probe_size(identity->size, at.offset));
    if (!crc)
      return std::unexpected(VcdError{VcdError::Kind::Io, path + ": changed while indexed"});
    at.crc = *crc;
  }
  const auto after = stat_identity(path);
  if (!after || after->size != identity->size || after->mtime_ns != identity->mtime_ns) {
    return std::unexpected(VcdError{VcdError::Kind::Io, path + ": changed while indexed"});
  }
  if (auto written = write_atomically(destination, encode(index, context.dialect)); !written)
    return std::unexpected(std::move(written.error()));
  return index;
}

std::optional<LoadedIndex> load_index(const Dump& dump, const CallContext& context,
                                      IndexPart part) {
  if (!context.index || dump.rest) return std::nullopt;
  const std::string path = index_path(dump.path, context.index->directory);
  std::FILE* stream = std::fopen(path.c_str(), "rbe");
  if (stream == nullptr) return std::nullopt;
  std::string bytes;
  if (part == IndexPart::Summary) {
    read_up_to(stream, bytes, kSummaryGuess);
    if (const auto end = summary_end(bytes); end && *end > bytes.size())
      read_up_to(stream, bytes, *end);
  } else {
    read_up_to(stream, bytes, std::numeric_limits<std::size_t>::max());
  }
  std::fclose(stream);

  auto index = decode_summary(bytes, context.dialect);
  if (index && part == IndexPart::Whole) {
    if (decode_rest(bytes, *index))
      index->file = std::move(bytes);
    else
      index.reset();
  }
  if (!index) {
    note(context, path + ": not an index of this version, or damaged; ignored");
    return std::nullopt;
  }
  const auto now = stat_identity(dump.path);
  const DumpIdentity& then = index->identity;
  const auto stale = [&] {
    note(context, path + ": does not match " + dump.path +
                      " (changed or copied since it was indexed); ignored, index it again");
    return std::nullopt;
  };
  if (!now || then.body_offset != dump.body_offset || now->size < then.size) return stale();
  auto file = vcd::File::open_read(dump.path, context.interrupt, false);
  if (!file || crc_at(*file, 0, then.body_offset) != then.header_crc) return stale();
  const bool same =
      now->size == then.size && now->mtime_ns == then.mtime_ns && now->ctime_ns == then.ctime_ns;
  if (!same) {
    // Grown, or rewritten: the last bytes indexed tell which.
    const std::uint64_t tail = tail_offset(then.size);
    if (now->size == then.size || crc_at(*file, tail, then.size - tail) != then.tail_crc)
      return stale();
  }
  if (part == IndexPart::Whole) {
    CodeIndex slots;
    auto codes = distinct_codes(dump, slots);
    if (codes.size() != index->codes.size()) return stale();
    index->codes = std::move(codes);
  }
  return LoadedIndex{std::move(*index), !same};
}

std::vector<HeldChange> snapshot_values(const BodyIndex& index, const Snapshot& snapshot) {
  if (!snapshot.values.empty() || index.codes.empty()) return snapshot.values;
  std::vector<HeldChange> values(index.codes.size());
  Decoder in(index.file, snapshot.at);
  for (HeldChange& value : values) decode_value(in, value);  // checked when loaded
  return values;
}

bool checkpoint_holds(const Dump& dump, const BodyIndex& index, const Checkpoint& at) {
  auto file = vcd::File::open_read(dump.path, nullptr, false);
  return file && crc_at(*file, at.offset, probe_size(index.identity.size, at.offset)) == at.crc;
}

std::optional<SnapshotStart> snapshot_start(const Dump& dump, std::uint64_t time,
                                            const CallContext& context) {
  const auto loaded = load_index(dump, context);
  if (!loaded || loaded->index.time_goes_back) return std::nullopt;
  const BodyIndex& index = loaded->index;
  const auto after = std::ranges::partition_point(index.snapshots, [&](const Snapshot& snapshot) {
    return index.checkpoints[snapshot.checkpoint].time <= time;
  });
  if (after == index.snapshots.begin()) return std::nullopt;
  const Checkpoint& at = index.checkpoints[std::prev(after)->checkpoint];
  if (!checkpoint_holds(dump, index, at)) return std::nullopt;
  SnapshotStart start{Resume{at.offset, at.line}, {}, snapshot_values(index, *std::prev(after))};
  for (std::size_t i = 0; i < index.codes.size(); ++i)
    start.positions.insert(index.codes[i], static_cast<std::uint32_t>(i));
  return start;
}

std::optional<Resume> resume_point(const Dump& dump, const BodyIndex& index, std::uint64_t start) {
  if (index.time_goes_back) return std::nullopt;
  // Every change before a checkpoint lies at or before its time.
  const auto after = std::ranges::partition_point(
      index.checkpoints, [&](const Checkpoint& at) { return at.time < start; });
  if (after == index.checkpoints.begin()) return std::nullopt;
  const Checkpoint& at = *std::prev(after);
  if (!checkpoint_holds(dump, index, at)) return std::nullopt;
  return Resume{at.offset, at.line};
}

std::optional<Resume> indexed_resume(const Dump& dump, const Window& window,
                                     const CallContext& context) {
  if (!window.start) return std::nullopt;
  const auto loaded = load_index(dump, context);
  if (!loaded) return std::nullopt;
  return resume_point(dump, loaded->index, *window.start);
}

}  // namespace quarnel

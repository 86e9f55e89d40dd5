#include "vcd/fst_reader.hpp"

#include <lz4.h>
#include <sys/stat.h>
#include <zlib.h>
#ifdef QUARNEL_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <numbers>
#include <thread>
#include <utility>

#include "vcd/fastlz.hpp"
#include "vcd/fst_bytes.hpp"
#include "vcd/unicode.hpp"

namespace vcd::fst {

namespace {

// Block types.
enum : std::uint8_t {
  kHeader = 0,
  kChanges = 1,
  kBlackout = 2,
  kGeometry = 3,
  kHierarchyGzip = 4,
  kChangesAlias = 5,
  kHierarchyLz4 = 6,
  kHierarchyLz4Twice = 7,
  kChangesAlias2 = 8,
  kGzipWrapped = 254,
  kUnfinished = 255,
};

// Hierarchy entry tags besides the variable types 0 to kTypeLast.
enum : std::uint8_t { kAttributeBegin = 252, kAttributeEnd = 253, kScope = 254, kUpscope = 255 };

// The header block's length word, and its fields' sizes.
constexpr std::uint64_t kHeaderLength = 329;
constexpr std::size_t kVersionSize = 128;
constexpr std::size_t kDateSize = 119;
// The header holds e, written as a double in the writer's byte order.
constexpr double kByteOrderCheck = std::numbers::e;
// No compressor in the format expands by more than this (zlib's bound is
// about 1032), so a larger stated size is a damaged one, not an allocation.
constexpr std::uint64_t kMaxRatio = 1100;
// A geometry entry for a variable-length (text) signal; 0 is a real.
constexpr std::uint64_t kTextWidth = 0xFFFFFFFF;

ReaderError damaged(std::string_view what) {
  return {ReaderError::Kind::InvalidData, 0, "damaged FST file: " + std::string(what)};
}

ReaderError cut_short() { return {ReaderError::Kind::InvalidData, 0, "FST file cut short"}; }

bool is_change_block(std::uint8_t type) {
  return type == kChanges || type == kChangesAlias || type == kChangesAlias2;
}

bool plausible_size(std::uint64_t packed, std::uint64_t size) {
  return size <= packed * kMaxRatio + 64;
}

// Decodes a zlib stream into exactly `size` bytes.
Result<std::vector<unsigned char>> inflate_exactly(std::span<const unsigned char> packed,
                                                   std::uint64_t size, std::string_view what) {
  if (!plausible_size(packed.size(), size) || size > ULONG_MAX)
    return std::unexpected(damaged(what));
  std::vector<unsigned char> out(size);
#ifdef QUARNEL_HAVE_LIBDEFLATE
  // libdeflate unpacks a whole buffer at once, several times faster than
  // zlib; each thread keeps its own decompressor.
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local const std::unique_ptr<libdeflate_decompressor, Free> decompressor(
      libdeflate_alloc_decompressor());
  // Without a count of the bytes written, anything but exactly `size` fails.
  if (!decompressor ||
      libdeflate_zlib_decompress(decompressor.get(), packed.data(), packed.size(), out.data(),
                                 out.size(), nullptr) != LIBDEFLATE_SUCCESS)
    return std::unexpected(damaged(what));
#else
  auto out_size = static_cast<uLongf>(size);
  uLong in_size = packed.size();
  if (uncompress2(out.data(), &out_size, packed.data(), &in_size) != Z_OK || out_size != size)
    return std::unexpected(damaged(what));
#endif
  return out;
}

// A section of `size` bytes, packed with zlib, or stored as it is when
// packing would not have made it smaller (`packed` the same size). Not for a
// signal's data, which says it is stored by a size of 0.
Result<std::vector<unsigned char>> unpack_zlib(std::span<const unsigned char> packed,
                                               std::uint64_t size, std::string_view what) {
  if (packed.size() == size) return std::vector<unsigned char>(packed.begin(), packed.end());
  return inflate_exactly(packed, size, what);
}

// Decodes an LZ4 block into exactly `size` bytes.
Result<std::vector<unsigned char>> unpack_lz4(std::span<const unsigned char> packed,
                                              std::uint64_t size, std::string_view what) {
  if (!plausible_size(packed.size(), size) || size > INT_MAX || packed.size() > INT_MAX)
    return std::unexpected(damaged(what));
  std::vector<unsigned char> out(size);
  const int got = LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()),
                                      reinterpret_cast<char*>(out.data()),
                                      static_cast<int>(packed.size()), static_cast<int>(size));
  if (got < 0 || static_cast<std::uint64_t>(got) != size) return std::unexpected(damaged(what));
  return out;
}

// Decodes a gzip stream into exactly `size` bytes.
Result<std::vector<unsigned char>> unpack_gzip(std::span<const unsigned char> packed,
                                               std::uint64_t size, std::string_view what) {
  if (!plausible_size(packed.size(), size)) return std::unexpected(damaged(what));
  std::vector<unsigned char> out(size);
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return std::unexpected(damaged(what));
  stream.next_in = const_cast<unsigned char*>(packed.data());
  stream.avail_in = static_cast<uInt>(std::min<std::size_t>(packed.size(), UINT_MAX));
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(std::min<std::uint64_t>(size, UINT_MAX));
  const int status = inflate(&stream, Z_FINISH);
  const bool whole = status == Z_STREAM_END && stream.total_out == size;
  inflateEnd(&stream);
  if (!whole) return std::unexpected(damaged(what));
  return out;
}

// Learns the width and storage of each handle from the hierarchy, for a
// file without a geometry block.
struct GeometryFromHierarchy final : HierarchyVisitor {
  std::vector<std::uint32_t>& widths;
  std::vector<Storage>& storage;
  bool valid = true;

  GeometryFromHierarchy(std::vector<std::uint32_t>& w, std::vector<Storage>& s)
      : widths(w), storage(s) {}
  void scope(std::string_view /*name*/) override {}
  void upscope() override {}
  void var(std::string_view /*name*/, std::uint8_t type, std::uint32_t width,
           std::uint32_t handle) override {
    if (handle != widths.size() + 1) return;  // an alias, or a gap already refused
    const bool real = type == kTypeReal || type == kTypeRealParameter || type == kTypeRealTime ||
                      type == kTypeShortReal;
    widths.push_back(real ? 8 : width);
    if (real) {
      storage.push_back(Storage::Real);
    } else {
      storage.push_back(type == kTypeString ? Storage::Text : Storage::Bits);
    }
  }
};

}  // namespace

bool is_fst(std::span<const unsigned char> head) {
  if (head.size() >= kHeadSize && head[0] == kGzipWrapped)
    return head[17] == 0x1f && head[18] == 0x8b;
  if (head.size() < 9 || head[0] != kHeader) return false;
  ByteCursor cursor(head.subspan(1));
  return cursor.u64() == kHeaderLength;
}

std::string_view var_type_word(std::uint8_t type) {
  static constexpr std::array<std::string_view, kTypeLast + 1> kWords = {
      "event",   "integer",  "parameter", "real",   "real_parameter", "reg",     "supply0",
      "supply1", "time",     "tri",       "triand", "trior",          "trireg",  "tri0",
      "tri1",    "wand",     "wire",      "wor",    "port",           "sparray", "realtime",
      "string",  "bit",      "logic",     "int",    "shortint",       "longint", "byte",
      "enum",    "shortreal"};
  return type <= kTypeLast ? kWords[type] : std::string_view{};
}

Result<std::unique_ptr<Reader>> Reader::open_if_fst(const std::string& path,
                                                    const Interrupt* interrupt) {
  // Only a regular file is looked at: opening a FIFO here would take its
  // writer away from the reading that follows.
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  auto file = File::open_read(path, interrupt);
  if (!file) return nullptr;
  return open_if_fst(std::move(*file), interrupt);
}

Result<std::unique_ptr<Reader>> Reader::open_if_fst(File file, const Interrupt* interrupt) {
  const auto size = file.regular_size();
  std::array<unsigned char, kHeadSize> head{};
  const auto got = file.read_at(head.data(), head.size(), 0, interrupt);
  if (!size || !got || !is_fst(std::span(head).first(*got))) return nullptr;
  std::unique_ptr<Reader> reader(new Reader(std::move(file), *size));
  if (head[0] == kGzipWrapped) {
    if (auto unwrapped = reader->unwrap(); !unwrapped)
      return std::unexpected(std::move(unwrapped.error()));
  }
  if (auto scanned = reader->scan(); !scanned) return std::unexpected(std::move(scanned.error()));
  return reader;
}

bool may_be_fst(std::span<const unsigned char> head) {
  static constexpr std::array<unsigned char, 4> kHeaderStart = {kHeader, 0, 0, 0};
  return !head.empty() && (head[0] == kGzipWrapped ||
                           std::ranges::equal(head, std::span(kHeaderStart).first(head.size())));
}

Result<std::unique_ptr<Reader>> Reader::open_piped(File& pipe, const Interrupt* interrupt) {
  std::array<unsigned char, kHeadSize> head{};
  std::size_t size = 0;
  while (size < head.size()) {
    auto got = pipe.read(head.data() + size, head.size() - size, interrupt);
    if (!got) return std::unexpected(std::move(got.error()));
    if (*got == 0) break;
    size += *got;
  }
  if (!is_fst(std::span(head).first(size))) {
    // What is no FST file is no VCD text either: it is read to its end and
    // fails as a text without $enddefinitions does.
    while (size != 0) {
      if (interrupt_requested(interrupt)) return std::unexpected(ReaderError::interrupted());
      auto got = pipe.read(head.data(), head.size(), interrupt);
      if (!got) return std::unexpected(std::move(got.error()));
      size = *got;
    }
    return std::unexpected(ReaderError::missing_end_definitions());
  }
  auto spooled = File::spool(std::span(head).first(size), pipe, interrupt);
  if (!spooled) {
    ReaderError error = std::move(spooled.error());
    if (error.kind == ReaderError::Kind::Os)
      error.text = "FST file through a pipe, copied to " + error.text;
    return std::unexpected(std::move(error));
  }
  auto reader = open_if_fst(std::move(*spooled), interrupt);
  if (reader && !*reader) return std::unexpected(cut_short());
  return reader;
}

Result<std::uint64_t> Reader::shifted(std::uint64_t time) const {
  std::uint64_t reported = 0;
  if (__builtin_add_overflow(time, header_.timezero, &reported)) {
    return std::unexpected(
        ReaderError{ReaderError::Kind::InvalidData, 0,
                    "FST time " + std::to_string(time) + " shifted by its $timezero " +
                        std::to_string(header_.timezero) + " is out of range (0 to " +
                        std::to_string(UINT64_MAX) + ")"});
  }
  return reported;
}

Result<void> Reader::unwrap() {
  auto head = read_bytes(0, 17);
  if (!head) return std::unexpected(std::move(head.error()));
  ByteCursor cursor(*head);
  cursor.byte();
  const std::uint64_t length = *cursor.u64();
  const std::uint64_t size = *cursor.u64();
  if (length < 16 || length > size_ - 1) return std::unexpected(cut_short());
  auto packed = read_bytes(17, length - 16);
  if (!packed) return std::unexpected(std::move(packed.error()));
  auto whole = unpack_gzip(*packed, size, "gzip wrapper");
  if (!whole) return std::unexpected(std::move(whole.error()));
  unwrapped_ = std::move(*whole);
  size_ = unwrapped_.size();
  return {};
}

Result<std::vector<unsigned char>> Reader::read_bytes(std::uint64_t offset,
                                                      std::uint64_t size) const {
  if (offset > size_ || size > size_ - offset) return std::unexpected(cut_short());
  if (!unwrapped_.empty())
    return std::vector<unsigned char>(
        unwrapped_.begin() + static_cast<std::ptrdiff_t>(offset),
        unwrapped_.begin() + static_cast<std::ptrdiff_t>(offset + size));
  std::vector<unsigned char> bytes(size);
  std::size_t done = 0;
  while (done < size) {
    auto got = file_.read_at(bytes.data() + done, size - done, offset + done);
    if (!got) return std::unexpected(std::move(got.error()));
    if (*got == 0) return std::unexpected(cut_short());
    done += *got;
  }
  return bytes;
}

Result<void> Reader::scan() {
  bool header_seen = false;
  bool geometry_seen = false;
  std::uint64_t pos = 0;
  while (pos < size_) {
    auto head = read_bytes(pos, std::min<std::uint64_t>(size_ - pos, 1 + 8 + 16));
    if (!head) return std::unexpected(std::move(head.error()));
    ByteCursor cursor(*head);
    const std::uint8_t type = *cursor.byte();
    const auto length = cursor.u64();
    if (!length) return std::unexpected(cut_short());
    if (type == kUnfinished) return std::unexpected(damaged("a block its writer never finished"));
    if (*length < 8) return std::unexpected(damaged("block length"));
    if (*length > size_ - pos - 1) return std::unexpected(cut_short());
    const Block block{pos, *length, 0, 0, type};
    if (!header_seen) {
      if (type != kHeader) return std::unexpected(damaged("no header block"));
      if (*length != kHeaderLength) return std::unexpected(damaged("header"));
      auto bytes = read_bytes(pos + 9, kHeaderLength - 8);
      if (!bytes) return std::unexpected(std::move(bytes.error()));
      ByteCursor fields(*bytes);
      fields.take(16);  // start and end times; the time tables tell them
      double check = 0;
      std::memcpy(&check, fields.take(8)->data(), 8);
      if (check != kByteOrderCheck) {
        std::uint64_t word = 0;
        std::memcpy(&word, &check, 8);
        word = __builtin_bswap64(word);
        std::memcpy(&check, &word, 8);
        if (check != kByteOrderCheck) return std::unexpected(damaged("header"));
        header_.swapped_doubles = true;
      }
      fields.u64();  // the writer's memory use
      fields.u64();  // scopes
      fields.u64();  // variables
      header_.handles = *fields.u64();
      fields.u64();  // value-change blocks
      header_.timescale = static_cast<std::int8_t>(*fields.byte());
      fields.take(kVersionSize + kDateSize + 1);  // version, date, file type
      header_.timezero = static_cast<std::int64_t>(*fields.u64());
      header_seen = true;
    } else if (is_change_block(type)) {
      ByteCursor span(*head);
      span.take(9);
      const auto begin = span.u64();
      const auto end = span.u64();
      if (!begin || !end || *length < 8 + 24 + 24) return std::unexpected(damaged("block header"));
      const auto shifted_begin = shifted(*begin);
      const auto shifted_end = shifted(*end);
      if (!shifted_begin) return std::unexpected(shifted_begin.error());
      if (!shifted_end) return std::unexpected(shifted_end.error());
      blocks_.push_back({pos, *length, *shifted_begin, *shifted_end, type});
    } else if (type == kGeometry) {
      if (auto read = read_geometry(block); !read) return read;
      geometry_seen = true;
    } else if (type == kHierarchyGzip || type == kHierarchyLz4 || type == kHierarchyLz4Twice) {
      hierarchy_ = block;
      has_hierarchy_ = true;
    } else if (type == kBlackout || type == kHeader) {
      // Blackouts mark the times of $dumpoff and $dumpon; the values the
      // dump holds already show them.
    } else {
      return std::unexpected(damaged("unknown block type " + std::to_string(type)));
    }
    pos += 1 + *length;
  }
  if (!header_seen) return std::unexpected(cut_short());
  if (!has_hierarchy_) return std::unexpected(damaged("no hierarchy block"));
  if (!geometry_seen) {
    GeometryFromHierarchy geometry(widths_, storage_);
    if (auto read = read_hierarchy(geometry); !read) return read;
  }
  if (widths_.size() != header_.handles) return std::unexpected(damaged("signal count"));
  return {};
}

Result<void> Reader::read_geometry(const Block& block) {
  auto bytes = read_bytes(block.offset + 9, block.length - 8);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  ByteCursor cursor(*bytes);
  const auto size = cursor.u64();
  const auto handles = cursor.u64();
  if (!size || !handles) return std::unexpected(damaged("geometry"));
  auto table = unpack_zlib(std::span<const unsigned char>(*bytes).subspan(16), *size, "geometry");
  if (!table) return std::unexpected(std::move(table.error()));
  if (*handles > table->size()) return std::unexpected(damaged("geometry"));
  ByteCursor entries(*table);
  widths_.clear();
  storage_.clear();
  for (std::uint64_t i = 0; i < *handles; ++i) {
    const auto width = entries.varint();
    if (!width || *width > kTextWidth) return std::unexpected(damaged("geometry"));
    if (*width == 0) {
      widths_.push_back(8);
      storage_.push_back(Storage::Real);
    } else if (*width == kTextWidth) {
      widths_.push_back(0);
      storage_.push_back(Storage::Text);
    } else {
      widths_.push_back(static_cast<std::uint32_t>(*width));
      storage_.push_back(Storage::Bits);
    }
  }
  return {};
}

Result<void> Reader::read_hierarchy(HierarchyVisitor& visitor) const {
  auto bytes = read_bytes(hierarchy_.offset + 9, hierarchy_.length - 8);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  ByteCursor cursor(*bytes);
  const auto size = cursor.u64();
  if (!size) return std::unexpected(damaged("hierarchy"));
  const auto packed = std::span<const unsigned char>(*bytes).subspan(8);
  Result<std::vector<unsigned char>> text = std::vector<unsigned char>{};
  if (hierarchy_.type == kHierarchyGzip) {
    text = unpack_gzip(packed, *size, "hierarchy");
  } else if (hierarchy_.type == kHierarchyLz4) {
    text = unpack_lz4(packed, *size, "hierarchy");
  } else {
    ByteCursor twice(packed);
    const auto inner = twice.varint();
    if (!inner) return std::unexpected(damaged("hierarchy"));
    auto once = unpack_lz4(packed.subspan(twice.position()), *inner, "hierarchy");
    if (!once) return std::unexpected(std::move(once.error()));
    text = unpack_lz4(*once, *size, "hierarchy");
  }
  if (!text) return std::unexpected(std::move(text.error()));
  ByteCursor entries(*text);
  std::uint32_t handles = 0;
  int depth = 0;
  const auto bad = [] { return std::unexpected(damaged("hierarchy")); };
  // Names are handed on as valid UTF-8, as the VCD reader makes its header.
  std::string decoded;
  const auto utf8 = [&decoded](std::string_view name) {
    if (unicode::is_valid_utf8(name)) return name;
    decoded = unicode::to_utf8_lossy(name);
    return std::string_view(decoded);
  };
  while (!entries.at_end()) {
    const std::uint8_t tag = *entries.byte();
    if (tag == kScope) {
      const auto kind = entries.byte();
      const auto name = entries.name();
      const auto component = entries.name();
      if (!kind || !name || !component) return bad();
      ++depth;
      visitor.scope(utf8(*name));
    } else if (tag == kUpscope) {
      if (depth == 0) return bad();
      --depth;
      visitor.upscope();
    } else if (tag == kAttributeBegin) {
      const auto kind = entries.byte();
      const auto subtype = entries.byte();
      const auto name = entries.name();
      if (!kind || !subtype || !name || !entries.varint()) return bad();
    } else if (tag == kAttributeEnd) {
    } else if (tag <= kTypeLast) {
      const auto direction = entries.byte();
      const auto name = entries.name();
      const auto width = entries.varint();
      const auto alias = entries.varint();
      if (!direction || !name || !width || !alias || *width > UINT32_MAX) return bad();
      std::uint32_t handle = 0;
      if (*alias == 0) {
        handle = ++handles;
      } else {
        if (*alias > handles) return bad();
        handle = static_cast<std::uint32_t>(*alias);
      }
      visitor.var(utf8(*name), tag, static_cast<std::uint32_t>(*width), handle);
    } else {
      return bad();
    }
  }
  if (handles != header_.handles) return std::unexpected(damaged("signal count"));
  return {};
}

namespace {

// Where one handle's changes lie in a block: an offset from the pack-type
// byte (0: none) and a length.
struct Chain {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// Reads the position table: per handle, its data's offset, a run of handles
// without changes, or an alias of an earlier handle's data.
Result<std::vector<Chain>> read_positions(std::span<const unsigned char> table, std::uint8_t type,
                                          std::uint64_t handles, std::uint64_t data_end) {
  std::vector<Chain> chains;
  std::vector<std::int64_t> alias;  // per handle: 1 + the handle it repeats, or 0
  std::uint64_t offset = 0;
  std::int64_t previous_alias = 0;
  ByteCursor cursor(table);
  const auto bad = [] { return std::unexpected(damaged("position table")); };
  const auto add_offset = [&](std::uint64_t delta) {
    offset += delta;
    chains.push_back({offset, 0});
    alias.push_back(0);
  };
  const auto add_gap = [&](std::uint64_t count) -> bool {
    if (count > handles - std::min<std::uint64_t>(handles, chains.size())) return false;
    chains.resize(chains.size() + count);
    alias.resize(alias.size() + count);
    return true;
  };
  while (!cursor.at_end()) {
    if (chains.size() >= handles) return bad();
    if (type == kChangesAlias2) {
      if ((table[cursor.position()] & 1) != 0) {
        const auto value = cursor.svarint();
        if (!value) return bad();
        const std::int64_t shifted = *value >> 1;
        if (shifted > 0) {
          add_offset(static_cast<std::uint64_t>(shifted));
        } else {
          if (shifted < 0) previous_alias = -shifted;
          chains.emplace_back();
          alias.push_back(previous_alias);
        }
      } else {
        const auto value = cursor.varint();
        if (!value || !add_gap(*value >> 1)) return bad();
      }
    } else {
      const auto value = cursor.varint();
      if (!value) return bad();
      if (*value == 0) {
        const auto target = cursor.varint();
        if (!target || *target == 0 || *target > INT64_MAX) return bad();
        chains.emplace_back();
        alias.push_back(static_cast<std::int64_t>(*target));
      } else if ((*value & 1) != 0) {
        add_offset(*value >> 1);
      } else if (!add_gap(*value >> 1)) {
        return bad();
      }
    }
  }
  // Each data run ends where the next begins, the last at the table.
  std::uint64_t next = data_end;
  for (std::size_t i = chains.size(); i-- > 0;) {
    if (chains[i].offset == 0) continue;
    if (chains[i].offset >= next) return bad();
    chains[i].length = next - chains[i].offset;
    next = chains[i].offset;
  }
  for (std::size_t i = 0; i < chains.size(); ++i) {
    if (alias[i] == 0) continue;
    const auto target = static_cast<std::uint64_t>(alias[i] - 1);
    if (target >= i) return bad();
    chains[i] = chains[target];
  }
  chains.resize(handles);
  return chains;
}

}  // namespace

Result<void> Reader::read_block(std::size_t index, const std::vector<bool>& wanted,
                                bool with_start_values, BlockChanges& out, unsigned threads) const {
  out.clear();
  const Block& block = blocks_.at(index);
  const std::uint64_t start = block.offset + 1;  // the length word
  const std::uint64_t end = start + block.length;
  // The block ends with the time table's sizes and item count.
  auto tail = read_bytes(end - 24, 24);
  if (!tail) return std::unexpected(std::move(tail.error()));
  ByteCursor sizes(*tail);
  const std::uint64_t times_size = *sizes.u64();
  const std::uint64_t times_packed = *sizes.u64();
  const std::uint64_t time_count = *sizes.u64();
  const std::uint64_t frame_at = start + 32;
  if (times_packed > end - 24 - frame_at || time_count > times_size)
    return std::unexpected(damaged("time table"));
  auto packed_times = read_bytes(end - 24 - times_packed, times_packed);
  if (!packed_times) return std::unexpected(std::move(packed_times.error()));
  auto time_bytes = unpack_zlib(*packed_times, times_size, "time table");
  if (!time_bytes) return std::unexpected(std::move(time_bytes.error()));
  ByteCursor deltas(*time_bytes);
  std::uint64_t time = 0;
  // With the start values, index 0 is the block's start and the table's
  // times follow.
  std::vector<std::uint64_t>& table = out.times_;
  table.reserve(time_count + 1);
  for (std::uint64_t i = 0; i < time_count; ++i) {
    const auto delta = deltas.varint();
    if (!delta || __builtin_add_overflow(time, *delta, &time))
      return std::unexpected(damaged("time table"));
    table.push_back(time);
  }
  if (header_.timezero != 0) {
    for (std::uint64_t& stored : table) {
      const auto reported = shifted(stored);
      if (!reported) return std::unexpected(reported.error());
      stored = *reported;
    }
  }

  // The values at the block's start, then the data's maximal handle and
  // pack type.
  const std::uint64_t positions_end = end - 24 - times_packed - 8;
  if (positions_end < frame_at) return std::unexpected(damaged("block layout"));
  auto frame_head = read_bytes(frame_at, std::min<std::uint64_t>(30, positions_end - frame_at));
  if (!frame_head) return std::unexpected(std::move(frame_head.error()));
  ByteCursor frame(*frame_head);
  const auto frame_size = frame.varint();
  const auto frame_packed = frame.varint();
  const auto frame_handles = frame.varint();
  if (!frame_size || !frame_packed || !frame_handles || *frame_handles > header_.handles ||
      *frame_packed > positions_end - frame_at - frame.position())
    return std::unexpected(damaged("block start values"));
  const std::uint64_t frame_data = frame_at + frame.position();
  auto after_frame =
      read_bytes(frame_data + *frame_packed,
                 std::min<std::uint64_t>(11, positions_end - frame_data - *frame_packed));
  if (!after_frame) return std::unexpected(std::move(after_frame.error()));
  ByteCursor pack(*after_frame);
  const auto data_handles = pack.varint();
  const auto pack_type = pack.byte();
  if (!data_handles || !pack_type || *data_handles > header_.handles)
    return std::unexpected(damaged("block data"));
  const std::uint64_t data_start = frame_data + *frame_packed + pack.position() - 1;

  // The first block's start is a time of its own when its table lacks it.
  const bool start_values = with_start_values && (table.empty() || table.front() != block.begin);
  out.buckets_.assign(table.size(), BlockChanges::kNoRun);
  if (start_values) {
    out.shift_ = 1;
    table.insert(table.begin(), block.begin);
  }
  if (std::ranges::find(wanted, true) == wanted.end()) return {};

  const auto letter = [](char c) -> std::optional<char> {
    const auto value = nine_state_value_from_char(c);
    if (!value) return std::nullopt;
    return to_char(*value);
  };

  if (start_values) {
    auto packed = read_bytes(frame_data, *frame_packed);
    if (!packed) return std::unexpected(std::move(packed.error()));
    auto values = unpack_zlib(*packed, *frame_size, "block start values");
    if (!values) return std::unexpected(std::move(values.error()));
    ByteCursor cursor(*values);
    for (std::uint64_t h = 0; h < *frame_handles; ++h) {
      const std::uint32_t size = storage_[h] == Storage::Text ? 0 : widths_[h];
      const auto bytes = cursor.take(size);
      if (!bytes) return std::unexpected(damaged("block start values"));
      if (!wanted[h] || size == 0) continue;
      std::string text(reinterpret_cast<const char*>(bytes->data()), size);
      if (storage_[h] == Storage::Bits) {
        for (char& c : text) {
          const auto l = letter(c);
          if (!l) return std::unexpected(damaged("block start values"));
          c = *l;
        }
      }
      out.start_values_.emplace_back(static_cast<std::uint32_t>(h + 1), std::move(text));
    }
  }

  const std::uint64_t positions_size_at = positions_end;
  auto positions_size = read_bytes(positions_size_at, 8);
  if (!positions_size) return std::unexpected(std::move(positions_size.error()));
  const std::uint64_t table_size = *ByteCursor(*positions_size).u64();
  if (table_size > positions_end - data_start) return std::unexpected(damaged("position table"));
  const std::uint64_t table_at = positions_end - table_size;
  auto positions = read_bytes(table_at, table_size);
  if (!positions) return std::unexpected(std::move(positions.error()));
  auto chains = read_positions(*positions, block.type, header_.handles, table_at - data_start);
  if (!chains) return std::unexpected(std::move(chains.error()));

  // Each wanted signal's run, read and unpacked, on up to `threads` threads.
  std::vector<std::uint32_t> handles;
  for (std::uint32_t h = 0; h < header_.handles; ++h) {
    if (wanted[h] && (*chains)[h].offset != 0) handles.push_back(h);
  }
  const auto unpack = [&](std::uint32_t h) -> Result<std::vector<unsigned char>> {
    const Chain& chain = (*chains)[h];
    auto raw = read_bytes(data_start + chain.offset, chain.length);
    if (!raw) return std::unexpected(std::move(raw.error()));
    ByteCursor head(*raw);
    const auto size = head.varint();
    if (!size) return std::unexpected(damaged("signal data"));
    const auto packed = std::span<const unsigned char>(*raw).subspan(head.position());
    if (*size == 0) {
      raw->erase(raw->begin(), raw->begin() + static_cast<std::ptrdiff_t>(head.position()));
      return std::move(*raw);
    }
    if (*pack_type == '4') return unpack_lz4(packed, *size, "signal data");
    if (*pack_type == 'F') {
      if (!plausible_size(packed.size(), *size)) return std::unexpected(damaged("signal data"));
      std::vector<unsigned char> out(*size);
      if (!fastlz_decode(packed, out)) return std::unexpected(damaged("signal data"));
      return out;
    }
    return inflate_exactly(packed, *size, "signal data");
  };
  std::vector<Result<std::vector<unsigned char>>> unpacked(handles.size());
  const auto unpack_part = [&](std::size_t part, std::size_t parts) {
    const std::size_t from = handles.size() * part / parts;
    const std::size_t to = handles.size() * (part + 1) / parts;
    for (std::size_t i = from; i < to; ++i) unpacked[i] = unpack(handles[i]);
  };
  const std::size_t parts =
      std::max<std::size_t>(1, std::min<std::size_t>(threads, handles.size()));
  {
    std::vector<std::jthread> workers;
    for (std::size_t part = 1; part < parts; ++part) workers.emplace_back(unpack_part, part, parts);
    unpack_part(0, parts);
  }
  for (std::size_t i = 0; i < handles.size(); ++i) {
    if (!unpacked[i]) return std::unexpected(std::move(unpacked[i].error()));
    BlockChanges::Run& run = out.runs_.emplace_back();
    run.data = std::move(*unpacked[i]);
    run.width = widths_[handles[i]];
    run.storage = storage_[handles[i]];
    run.handle = handles[i] + 1;
    auto more = out.advance(run);
    if (!more) return std::unexpected(std::move(more.error()));
    if (*more) {
      out.file(static_cast<std::uint32_t>(out.runs_.size() - 1));
    } else {
      out.runs_.pop_back();
    }
  }
  return {};
}

ReaderError damaged_signal_data() { return damaged("signal data"); }

void BlockChanges::clear() {
  times_.clear();
  start_values_.clear();
  start_next_ = 0;
  shift_ = 0;
  runs_.clear();
  buckets_.clear();
  ready_.clear();
  ready_next_ = 0;
  current_ = kBefore;
}

Result<bool> BlockChanges::next(Change& change) {
  if (start_next_ < start_values_.size()) {
    const auto& [handle, text] = start_values_[start_next_++];
    change = {0, handle, text, {}, 0};
    return true;
  }
  for (;;) {
    if (ready_next_ == ready_.size()) {
      // The runs whose next change comes at the next time with any, by handle.
      ready_.clear();
      ready_next_ = 0;
      while (ready_.empty()) {
        if (++current_ >= buckets_.size()) return false;
        for (std::uint32_t run = buckets_[current_]; run != kNoRun; run = runs_[run].link) {
          ready_.push_back(run);
        }
      }
      std::ranges::sort(ready_);
    }
    Run& run = runs_[ready_[ready_next_]];
    auto carries = value(run);
    if (!carries) return std::unexpected(std::move(carries.error()));
    auto more = advance(run);
    if (!more) return std::unexpected(std::move(more.error()));
    // A run with another change at this time stays ready for it.
    if (!*more || run.at != current_) {
      ++ready_next_;
      if (*more) file(ready_[ready_next_ - 1]);
    }
    if (*carries) {
      change = {static_cast<std::uint32_t>(current_ + shift_), run.handle, scratch_, {}, 0};
      return true;
    }
  }
}

void BlockChanges::file(std::uint32_t run) {
  runs_[run].link = buckets_[runs_[run].at];
  buckets_[runs_[run].at] = run;
}

}  // namespace vcd::fst

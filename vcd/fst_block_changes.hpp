// The changes of one value-change block of an FST dump, as the reader
// unpacked them: per signal a run of changes, decoded as they are handed out,
// in time order (next) or signal by signal (each_by_signal).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vcd/error.hpp"
#include "vcd/fst_bytes.hpp"
#include "vcd/value.hpp"

namespace vcd::fst {

// What one signal's changes hold.
enum class Storage : std::uint8_t { Bits, Real, Text };

// The error of a signal's run of changes that cannot be read.
ReaderError damaged_signal_data();

namespace detail {
// Letters of the one-bit changes that are neither 0 nor 1.
inline constexpr std::string_view kOtherStates = "xzhuwl-";

// The letter of a one-bit change, which its head holds: 0 or 1 in the bit
// above a clear flag bit, another state in the three above a set one.
inline std::string_view one_bit_letter(std::uint64_t head) {
  return (head & 1) == 0 ? std::string_view("01").substr((head >> 1) & 1, 1)
                         : kOtherStates.substr((head >> 1) & 7, 1);
}
}  // namespace detail

// The changes of one value-change block for the signals asked for (filled
// by Reader::read_block), handed out in time order and, within one time, by
// handle, a handle's own changes in their order. Each signal's run of
// changes is decoded as it is handed out.
class BlockChanges {
 public:
  struct Change {
    std::uint32_t time_index;  // into times()
    std::uint32_t handle;      // from 1
    // Bits as lower-case letters, a real's eight bytes, a text; valid until
    // the next change is handed out.
    std::string_view value;
    // From each_by_signal, several bits all 0 or 1 come packed instead
    // (`value` empty): `bits` of them, eight to a byte, the first the most
    // significant; valid while the block is.
    std::span<const unsigned char> packed;
    std::uint32_t bits = 0;
  };

  const std::vector<std::uint64_t>& times() const { return times_; }
  // The next change into `change`; false after the last; an error for a
  // damaged run.
  Result<bool> next(Change& change);
  // The same changes signal by signal instead, for a reader that takes each
  // signal's apart from the others': the values at the start, then each
  // signal's run in its time order, without those at time index `limit` or
  // later, bits packed where they can be. The changes of one signal go to
  // what `begin(handle)` returns, `take(change)` on each until it returns
  // false. Returns whether every `take` let it reach the end; an error for
  // a damaged run. Use either this or next() on one block, not both.
  template <class Begin>
  Result<bool> each_by_signal(std::size_t limit, Begin begin);

 private:
  friend class Reader;
  struct Run {
    std::vector<unsigned char> data;
    std::size_t pos = 0;     // of the next change's value, after its head
    std::uint64_t head = 0;  // the head of the next change
    std::uint64_t at = 0;    // its index in the block's own time table
    std::uint32_t width = 0;
    Storage storage = Storage::Bits;
    std::uint32_t handle = 0;
    std::uint32_t link = 0;  // the next run filed under the same time
  };
  static constexpr std::uint32_t kNoRun = UINT32_MAX;
  static constexpr std::size_t kBefore = SIZE_MAX;  // current_ before the first time

  void clear();
  // Files run `run` under the time of its next change.
  void file(std::uint32_t run);
  // Reads the head of the run's next change; false at the run's end.
  [[gnu::always_inline]] Result<bool> advance(Run& run) const;
  // The value of the change whose head was read into scratch_; false for a
  // change that carries none.
  [[gnu::always_inline]] Result<bool> value(Run& run);

  std::vector<std::uint64_t> times_;
  std::vector<std::pair<std::uint32_t, std::string>> start_values_;  // handle, value
  std::size_t start_next_ = 0;
  std::uint32_t shift_ = 0;  // 1 when the values at the start take time index 0
  std::vector<Run> runs_;    // by handle
  // Per index of the block's own time table: the runs whose next change
  // comes then, linked through Run::link.
  std::vector<std::uint32_t> buckets_;
  std::size_t current_ = kBefore;     // the time index being handed out
  std::vector<std::uint32_t> ready_;  // the runs with a change then, by handle
  std::size_t ready_next_ = 0;
  std::string scratch_;
};

// One signal's run of changes: each a head varint whose low bits say the
// kind of value and whose rest is the step in the time table from the
// change before, then the value. A one-bit signal packs 0 and 1 into the
// head (two flag bits) or one of the other states (four); a wider one holds
// its bits packed eight to a byte, or one letter each; a real its eight
// bytes; a text its length and bytes.
inline Result<bool> BlockChanges::advance(Run& run) const {
  if (run.pos == run.data.size()) return false;
  ByteCursor cursor(std::span<const unsigned char>(run.data).subspan(run.pos));
  const auto head = cursor.varint();
  if (!head) return std::unexpected(damaged_signal_data());
  run.head = *head;
  run.pos += cursor.position();
  std::uint64_t delta = *head >> 1;
  if (run.storage == Storage::Bits && run.width == 1) {
    if ((*head & 1) == 0) {
      delta = *head >> 2;
    } else {
      if (((*head >> 1) & 7) >= detail::kOtherStates.size())
        return std::unexpected(damaged_signal_data());
      delta = *head >> 4;
    }
  } else if (run.storage == Storage::Real && (*head & 1) == 0) {
    return std::unexpected(damaged_signal_data());
  }
  // Each step lands within the table, from index 0 on: so does the sum.
  const std::uint64_t times = times_.size() - shift_;
  if (delta >= times - run.at) return std::unexpected(damaged_signal_data());
  run.at += delta;
  return true;
}

namespace detail {

// Per byte: its eight bits as the letters 0 and 1, most significant first.
constexpr std::array<std::array<char, 8>, 256> make_bit_letters() {
  std::array<std::array<char, 8>, 256> letters{};
  for (int byte = 0; byte < 256; ++byte) {
    for (int bit = 0; bit < 8; ++bit) letters[byte][bit] = ((byte >> (7 - bit)) & 1) ? '1' : '0';
  }
  return letters;
}

inline constexpr auto kBitLetters = make_bit_letters();

}  // namespace detail

// The first `bits` bits of `packed` (eight to a byte, the most significant
// first) as letters 0 and 1 after `out`'s text.
inline void append_bit_letters(std::span<const unsigned char> packed, std::uint32_t bits,
                               std::string& out) {
  const std::size_t from = out.size();
  out.resize_and_overwrite(from + packed.size() * 8, [&](char* letters, std::size_t) {
    for (std::size_t i = 0; i < packed.size(); ++i)
      std::memcpy(letters + from + i * 8, detail::kBitLetters[packed[i]].data(), 8);
    return from + bits;
  });
}

inline Result<bool> BlockChanges::value(Run& run) {
  ByteCursor cursor(std::span<const unsigned char>(run.data).subspan(run.pos));
  const auto bad = [] { return std::unexpected(damaged_signal_data()); };
  const std::uint64_t head = run.head;
  bool carries = true;
  scratch_.clear();
  if (run.storage == Storage::Bits && run.width == 1) {
    scratch_.append(detail::one_bit_letter(head));
  } else if (run.storage == Storage::Bits && (head & 1) == 0) {
    const auto bytes = cursor.take((std::uint64_t{run.width} + 7) / 8);
    if (!bytes) return bad();
    append_bit_letters(*bytes, run.width, scratch_);
  } else if (run.storage == Storage::Bits) {
    const auto bytes = cursor.take(run.width);
    if (!bytes) return bad();
    scratch_.resize(run.width);
    for (std::size_t i = 0; i < bytes->size(); ++i) {
      const auto state = nine_state_value_from_char(static_cast<char>((*bytes)[i]));
      if (!state) return bad();
      scratch_[i] = to_char(*state);
    }
  } else if (run.storage == Storage::Real) {
    const auto bytes = cursor.take(8);
    if (!bytes) return bad();
    scratch_.assign(reinterpret_cast<const char*>(bytes->data()), 8);
  } else {
    const auto length = cursor.varint();
    const auto bytes = length ? cursor.take(*length) : std::nullopt;
    if (!bytes) return bad();
    scratch_.assign(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    // A text change flagged in its low bit carries no value to report.
    carries = (head & 1) == 0;
  }
  run.pos += cursor.position();
  return carries;
}

template <class Begin>
Result<bool> BlockChanges::each_by_signal(std::size_t limit, Begin begin) {
  for (const auto& [handle, text] : start_values_) {
    if (!begin(handle)(Change{0, handle, text, {}, 0})) return false;
  }
  for (Run& run : runs_) {
    auto take = begin(run.handle);
    const bool one_bit = run.storage == Storage::Bits && run.width == 1;
    const bool packs = run.storage == Storage::Bits && run.width > 1;
    const std::size_t packed_size = (std::size_t{run.width} + 7) / 8;
    for (;;) {
      const std::uint64_t at = run.at + shift_;
      if (at >= limit) break;
      Change change{static_cast<std::uint32_t>(at), run.handle, {}, {}, 0};
      bool carries = true;
      if (one_bit) {
        change.value = detail::one_bit_letter(run.head);  // checked by advance()
      } else if (packs && (run.head & 1) == 0) {
        if (run.data.size() - run.pos < packed_size) return std::unexpected(damaged_signal_data());
        change.packed = std::span<const unsigned char>(run.data).subspan(run.pos, packed_size);
        change.bits = run.width;
        run.pos += packed_size;
      } else {
        auto decoded = value(run);
        if (!decoded) return std::unexpected(std::move(decoded.error()));
        carries = *decoded;
        change.value = scratch_;
      }
      auto more = advance(run);
      if (!more) return std::unexpected(std::move(more.error()));
      if (carries && !take(change)) return false;
      if (!*more) break;
    }
  }
  return true;
}

}  // namespace vcd::fst

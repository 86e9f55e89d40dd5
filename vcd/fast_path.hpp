// The parser's fast roads through the value section: commands read straight
// from the current window when they lie there whole and are well formed.
// Anything else (a window edge, a keyword, any fault) is left to the
// byte-by-byte reader, which then starts from the same state, so both give
// the same result.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "vcd/command.hpp"
#include "vcd/line_blocks.hpp"
#include "vcd/number.hpp"
#include "vcd/parser.hpp"
#include "vcd/word_scan.hpp"

namespace vcd {

// The value of a change line from its first bytes, before its code, as a
// fast road hands them over raw (see Parser::for_each_command).
inline ChangeView raw_change_value(std::string_view raw) {
  if (raw.front() == 'b') return ChangeView::of_vector(raw.substr(1));
  return ChangeView::of_scalar(detail::kScalarValue[static_cast<unsigned char>(raw.front())]);
}

namespace detail {

// Each reader below starts at the first byte of a command in the window
// [p, end) and, when the command is well formed and lies there whole, moves
// `p` past the blank that ends it and fills `command`. False leaves the
// command to the slower roads (`p` is then meaningless).

// Lines in the form simulators write them: the command alone on its line.

// "#<digits>\n", up to nineteen digits, which cannot overflow.
[[gnu::always_inline]] inline bool take_timestamp_line(const unsigned char*& p,
                                                       cmd::Timestamp& command) {
  const unsigned char* q = p + 1;
  const unsigned char* const longest = q + 19;
  std::uint64_t time = 0;
  while (q != longest && *q - static_cast<unsigned>('0') < 10u) time = time * 10 + (*q++ - '0');
  if (q == p + 1 || *q != '\n') return false;
  command.time = time;
  p = q + 1;
  return true;
}

// "b<bits> <code>\n" with lower-case bits.
[[gnu::always_inline]] inline bool take_vector_line(const unsigned char*& p,
                                                    const unsigned char* end,
                                                    cmd::Change& command) {
  const unsigned char* q = p + 1;
  while (end - q >= 8 && are_binary_digits(q)) q += 8;
  while (q != end && kByteClass[*q] == kLowerBit) ++q;
  if (q == p + 1 || end - q < 9 || *q != ' ') return false;
  command.value = ChangeView::of_vector(
      {reinterpret_cast<const char*>(p + 1), static_cast<std::size_t>(q - p - 1)});
  ++q;
  if (!take_code_line(q, command.id_code)) return false;
  p = q;
  return true;
}

// Commands anywhere in the window, after blanks; `p` is past the command's
// first character.

[[gnu::always_inline]] inline bool scan_timestamp(const unsigned char*& p, const unsigned char* end,
                                                  std::uint64_t& line_feeds,
                                                  cmd::Timestamp& command) {
  std::string_view token;
  if (!scan_token(p, end, line_feeds, kTokenCapacity, token)) return false;
  const auto time = parse_u64(token);
  if (!time) return false;
  command.time = *time;
  return true;
}

// The bits of "b<bits> <code>", upper case allowed; `upper` tells whether
// any bit is written in upper case. Bits after a blank are left to the slow
// road, where the extended dialect may read an empty vector.
[[gnu::always_inline]] inline bool scan_vector_bits(const unsigned char*& p,
                                                    const unsigned char* end,
                                                    std::uint64_t& line_feeds,
                                                    std::string_view& bits, bool& upper) {
  const unsigned char* const start = p;
  // Eight bits at a time while they are all 0 or 1, the usual case.
  while (end - p >= 8 && are_binary_digits(p)) p += 8;
  bool lower_case = true;
  std::uint8_t cls = kOther;
  for (; p != end; ++p) {
    cls = kByteClass[*p];
    if (cls < kLowerBit) break;
    lower_case &= cls == kLowerBit;
  }
  if (p == end || cls != kSpace || p == start) return false;
  bits = {reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start)};
  line_feeds += *p++ == '\n' ? 1 : 0;
  upper = !lower_case;
  return true;
}

[[gnu::always_inline]] inline bool scan_real_change(const unsigned char*& p,
                                                    const unsigned char* end,
                                                    std::uint64_t& line_feeds,
                                                    cmd::Change& command) {
  std::string_view token;
  if (!scan_token(p, end, line_feeds, static_cast<std::size_t>(end - p), token)) return false;
  const auto value = parse_real(token);
  if (!value) return false;
  command.value = ChangeView::of_real(*value);
  return scan_id_code(p, end, line_feeds, command.id_code);
}

[[gnu::always_inline]] inline bool scan_string_change(const unsigned char*& p,
                                                      const unsigned char* end,
                                                      std::uint64_t& line_feeds,
                                                      cmd::Change& command) {
  // A blank first is left to the slow road, where the extended dialect may
  // read an empty string.
  std::string_view text;
  if (p == end || is_blank(*p) ||
      !scan_token(p, end, line_feeds, static_cast<std::size_t>(end - p), text) ||
      !is_utf8_token(text)) {
    return false;
  }
  command.value = ChangeView::of_string(text);
  return scan_id_code(p, end, line_feeds, command.id_code);
}

}  // namespace detail

template <class Source>
template <class Handler>
const unsigned char* Parser<Source>::take_line(const unsigned char* p, Handler& handler,
                                               bool& keep_going) {
  const unsigned char first = *p;
  if (first == '#') {
    cmd::Timestamp command{0};
    if (!detail::take_timestamp_line(p, command)) return nullptr;
    keep_going = handler(command);
  } else if (detail::kByteClass[first] >= detail::kLowerBit) {
    cmd::Change command{IdCode{0}, ChangeView::of_scalar(detail::kScalarValue[first])};
    ++p;
    if (!detail::take_code_line(p, command.id_code)) return nullptr;
    keep_going = handler(command);
  } else if (first == 'b') {
    cmd::Change command{IdCode{0}, {}};
    if (!detail::take_vector_line(p, end_, command)) return nullptr;
    keep_going = handler(command);
  } else if (first == 'r') {
    // As the road for one command reads it, when it ends its line.
    cmd::Change command{IdCode{0}, {}};
    std::uint64_t line_feeds = 0;
    ++p;
    if (!detail::scan_real_change(p, end_, line_feeds, command) || line_feeds != 1 ||
        p[-1] != '\n') {
      return nullptr;
    }
    keep_going = handler(command);
  } else {
    return nullptr;
  }
  return p;
}

template <class Source>
template <class Handler, class Wants>
bool Parser<Source>::try_fast_lines(Handler& handler, const Wants& wants, bool& keep_going) {
  // Room for the widest look-ahead of one step: an eight-byte load after a
  // value character (the bits of a vector are bounded separately), or the
  // bytes read from the start of a line handed over raw.
  constexpr std::ptrdiff_t kMargin = kRawReach;
  if (end_ - cur_ < kMargin) return false;
  const unsigned char* p = cur_;
  std::uint64_t lines = 0;
  const Wants wanted = wants;  // a copy of its own stays in registers

  // Whole blocks of the window classified at once: the road then goes from
  // line feed to line feed, reading each change line of a known good shape
  // with no loop over its bytes and no branch on whether it is a scalar or a
  // vector. A line the blocks flag goes to its own reader.
  {
    // A few blocks at a time, since the road may end at any line.
    constexpr std::ptrdiff_t kBatch = 16;
    const unsigned char* base = p;
    detail::LineBlocks blocks;
    std::array<detail::LineBlock, kBatch> batch{};
    std::ptrdiff_t batched = 0;
    std::ptrdiff_t next = 0;
    // The not-bits of the block before (none: all set) and of this one.
    auto not_bits = static_cast<unsigned __int128>(~std::uint64_t{0}) << 64;
    bool fault_open = false;  // a flag after the last line feed read
    for (;; base += detail::kBlockBytes) {
      if (next == batched) {
        batched = std::min(kBatch, (end_ - base - kMargin) / detail::kBlockBytes);
        if (batched <= 0) break;
        blocks.classify(base, static_cast<std::size_t>(batched), batch.data());
        next = 0;
      }
      const detail::LineBlock& block = batch[static_cast<std::size_t>(next++)];
      not_bits = (static_cast<unsigned __int128>(block.not_bits) << 64) | (not_bits >> 64);
      std::uint64_t ends = block.line_feeds;
      std::uint64_t faults = block.faults;
      while (ends != 0) {
        const unsigned char* const line_end = base + __builtin_ctzll(ends);
        const std::uint64_t line_bits = ends ^ (ends - 1);  // up to the line feed
        ends &= ends - 1;
        const bool clean = !fault_open && (faults & line_bits) == 0;
        fault_open = false;
        faults &= ~line_bits;
        const unsigned char first = *p;
        bool go = true;
        if (clean && first != '#') [[likely]] {
          const auto length = static_cast<unsigned>(line_end - p);
          const bool vector = first == 'b';
          unsigned space = 0;  // of a vector
          if (length <= detail::kMaxBlockLine) [[likely]] {
            // A line this short starts at most one block before its end's.
            const auto offset = static_cast<unsigned>(p - base + detail::kBlockBytes);
            space = static_cast<unsigned>(__builtin_ctzll(
                static_cast<std::uint64_t>(not_bits >> offset) & ~std::uint64_t{1}));
          } else {
            // A long vector: its code, eight bytes at most, follows the space.
            const unsigned char* q = line_end;
            while (q[-1] != ' ') --q;
            space = static_cast<unsigned>(q - p) - 1;
          }
          // Without a branch: scalars and vectors come in no order.
          const unsigned code_start = 1 + (space & (0u - static_cast<unsigned>(vector)));
          const unsigned code_length = length - code_start;
          const std::uint64_t text =
              detail::load_word(p + code_start) & (~std::uint64_t{0} >> (64 - 8 * code_length));
          if constexpr (requires { wanted.take(text, code_length, p, space); }) {
            // Taken as it stands by a caller that keeps every change itself.
            wanted.take(text, code_length, p, vector ? space : 1);
          } else if (wanted(text, code_length)) {
            const IdCode code = id_code_of_text_word(text, code_length);
            if (vector) {
              go = handler(cmd::Change{
                  code, ChangeView::of_vector({reinterpret_cast<const char*>(p + 1), space - 1})});
            } else {
              go = handler(cmd::Change{code, ChangeView::of_scalar(detail::kScalarValue[first])});
            }
          }
          p = line_end + 1;
        } else {
          const unsigned char* const after = take_line(p, handler, go);
          if (after == nullptr) return finish_lines(p, lines);
          p = after;
        }
        ++lines;
        if (!go) {
          keep_going = false;
          return finish_lines(p, lines);
        }
      }
      fault_open |= faults != 0;
    }
  }
  // The last lines of the window, one at a time.
  const unsigned char* const stop = end_ - kMargin;
  while (p < stop) {
    const unsigned char* const after = take_line(p, handler, keep_going);
    if (after == nullptr) break;
    p = after;
    ++lines;
    if (!keep_going) break;
  }
  return finish_lines(p, lines);
}

template <class Source>
template <class Handler>
inline bool Parser<Source>::try_fast_scalar_line(Handler& handler, bool& keep_going) {
  if (end_ - cur_ < 9 || detail::kByteClass[cur_[0]] < detail::kLowerBit) return false;
  const unsigned char* p = cur_ + 1;
  IdCode code{0};
  if (!detail::take_code_line(p, code)) return false;
  const Value value = detail::kScalarValue[cur_[0]];
  line_ += end_of_line_ ? 1 : 0;
  end_of_line_ = true;
  cur_ = p;
  keep_going = handler(cmd::Change{code, ChangeView::of_scalar(value)});
  return true;
}

template <class Source>
template <class Handler>
inline bool Parser<Source>::try_fast(Handler& handler, bool& keep_going) {
  // The commonest command of all first: a scalar change alone on its line.
  if (try_fast_scalar_line(handler, keep_going)) return true;
  const unsigned char* p = cur_;
  std::uint64_t line_feeds = 0;
  detail::skip_blanks(p, end_, line_feeds);
  if (p == end_) return false;
  // Takes the consumed bytes into account as read_byte_or_eof would have,
  // one by one, then hands the command over.
  const auto finish = [&](const auto& command) {
    commit(p, line_feeds);
    keep_going = handler(command);
    return true;
  };
  const unsigned char first = *p++;
  if (detail::kByteClass[first] >= detail::kLowerBit) {
    cmd::Change command{IdCode{0}, ChangeView::of_scalar(detail::kScalarValue[first])};
    return detail::scan_id_code(p, end_, line_feeds, command.id_code) && finish(command);
  }
  switch (first) {
    case '#': {
      cmd::Timestamp command{0};
      return detail::scan_timestamp(p, end_, line_feeds, command) && finish(command);
    }
    case 'b':
    case 'B': {
      std::string_view bits;
      bool upper = false;
      IdCode code{0};
      if (!detail::scan_vector_bits(p, end_, line_feeds, bits, upper) ||
          !detail::scan_id_code(p, end_, line_feeds, code)) {
        return false;
      }
      if (upper) {
        scratch_.assign(bits);
        for (char& c : scratch_) c = to_char(*value_from_char(c));
        bits = scratch_;
      }
      return finish(cmd::Change{code, ChangeView::of_vector(bits)});
    }
    case 'r':
    case 'R': {
      cmd::Change command{IdCode{0}, {}};
      return detail::scan_real_change(p, end_, line_feeds, command) && finish(command);
    }
    case 's':
    case 'S': {
      cmd::Change command{IdCode{0}, {}};
      return detail::scan_string_change(p, end_, line_feeds, command) && finish(command);
    }
    default: return false;
  }
}

}  // namespace vcd

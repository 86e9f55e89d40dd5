// The VCD command reader: turns the bytes of a byte source into commands,
// counting lines. The byte-by-byte reader, which decides every command and
// every error, is compiled once in parser.cpp for each byte source; the
// fast roads through the value section (fast_path.hpp) are inlined into
// for_each_command and must always give what it gives.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "vcd/byte_source.hpp"
#include "vcd/chunk_source.hpp"
#include "vcd/command.hpp"
#include "vcd/dialect.hpp"
#include "vcd/error.hpp"
#include "vcd/header_source.hpp"
#include "vcd/word_scan.hpp"

namespace vcd {

// The `wants` of for_each_command that has a use for every change.
struct WantsEveryChange {
  bool operator()(std::uint64_t /*text*/, unsigned /*length*/) const { return true; }
};

// How far past the start of a line handed over raw may be read.
inline constexpr std::size_t kRawReach = 32;

template <class Source>
class Parser {
 public:
  static constexpr int kEnd = -1;  // end of input or a read error

  // `first_line` is the number of the line the source begins on.
  explicit Parser(Source source, Dialect dialect = Dialect::specified, std::uint64_t first_line = 1)
      : source_(std::move(source)), dialect_(dialect), line_(first_line) {}

  // The next command, read byte by byte; nullopt at the end of the commands.
  // Texts inside the command stay valid until the next call.
  Result<std::optional<Command>> next_slow();

  // Hands every command, up to the end of the commands, to `visitor`, a
  // callable taking each cmd:: record (const&) and returning false to stop
  // early. The same commands as calling next_slow() in a loop, taking the
  // fast roads where they can, without building a Command on the hot path.
  // `wants(text, length)`, given the characters of a change's code as one
  // word (first character in the lowest byte) and their number (1 to 8),
  // false when the visitor surely has no use for the change, lets a fast road
  // check such a change and step over it without handing it on; true leaves
  // the choice to the visitor. A `wants` with take(text, length, line,
  // value_length) gets the changes a fast road reads whole instead of the
  // visitor, every one of them, raw: the line's start, whose first
  // value_length bytes hold its value (raw_change_value), and of which
  // kRawReach bytes may be read whatever the line's length.
  template <class Visitor, class Wants = WantsEveryChange>
  Result<void> for_each_command(Visitor&& visitor, const Wants& wants = {}) {
    for (;;) {
      bool keep_going = true;
      if (try_fast_lines(visitor, wants, keep_going) || try_fast(visitor, keep_going)) {
        if (!keep_going) return {};
        continue;
      }
      auto command = next_slow();
      if (!command) return std::unexpected(std::move(command.error()));
      if (!*command || !std::visit(visitor, **command)) return {};
    }
  }

  std::uint64_t line() const { return line_; }
  // Whether a $dumpvars, $dumpall, $dumpon or $dumpoff section awaits its $end.
  bool in_simulation_section() const { return open_simulation_command_.has_value(); }
  const Source& source() const { return source_; }
  Source& source() { return source_; }
  // Reads the texts of comments, dates and versions without keeping them,
  // in bounded memory, and hands them on empty.
  void drop_texts() { keep_texts_ = false; }
  // Where the next byte will be taken from (inside the current window).
  const unsigned char* cursor() const { return cur_; }

  // An error of kind `kind` at the current line.
  std::unexpected<ReaderError> fail(ParseErrorKind kind) const {
    return std::unexpected(ReaderError::from_parse(ParseError{line_, kind}));
  }

 private:
  // The only way bytes are taken from the source. Returns the byte or kEnd.
  int read_byte_or_eof() {
    if (cur_ == end_ && !refill()) {
      line_ += end_of_line_ ? 1 : 0;
      end_of_line_ = false;
      return kEnd;
    }
    const unsigned char byte = *cur_++;
    line_ += end_of_line_ ? 1 : 0;
    end_of_line_ = byte == '\n';
    return byte;
  }

  // The next window: the rest of the source's window after bytes pushed
  // back, else the source's next one.
  bool refill() {
    if (saved_end_ != nullptr) {
      cur_ = saved_cur_;
      end_ = saved_end_;
      saved_end_ = nullptr;
      if (cur_ != end_) return true;
    }
    return source_.refill(cur_, end_);
  }

  // Makes `bytes`, which were read last and start on line `line` after
  // whitespace, the next bytes to be read again.
  void push_back(std::string_view bytes, std::uint64_t line);

  // Skips whitespace; the first other byte, or kEnd.
  int skip_whitespace() {
    int byte = read_byte_or_eof();
    while (is_whitespace(byte)) byte = read_byte_or_eof();
    return byte;
  }

  // Skips blanks within the line; the first other byte, or kEnd.
  int skip_blanks() {
    int byte = read_byte_or_eof();
    while (is_blank(byte)) byte = read_byte_or_eof();
    return byte;
  }

  // Consumes a token of at most `capacity` bytes and its terminating byte
  // when they lie whole in the current window, accounting for lines as
  // read_byte_or_eof would; false, with nothing consumed, otherwise. The
  // token views the window.
  bool take_window_token(std::size_t capacity, std::string_view& token) {
    const unsigned char* p = cur_;
    std::uint64_t line_feeds = 0;
    if (!detail::scan_token(p, end_, line_feeds, capacity, token)) return false;
    commit(p, line_feeds);
    return true;
  }

  // Moves the read position to `p` after the bytes before it held
  // `line_feeds` line feeds, leaving line and end_of_line as reading them one
  // by one would.
  void commit(const unsigned char* p, std::uint64_t line_feeds) {
    const bool ends_line = p[-1] == '\n';
    line_ += (end_of_line_ ? 1 : 0) + line_feeds - (ends_line ? 1 : 0);
    end_of_line_ = ends_line;
    cur_ = p;
  }

  // The fast roads (fast_path.hpp). Each reads from the current window only
  // and sets keep_going to what `handler` returned for the command read;
  // false when it read nothing.
  //
  // A run of commands each alone on its line, as simulators write them:
  // "#<digits>", a scalar change with its code glued on, "b<bits> <code>",
  // "r<real> <code>"; the changes `wants` has no use for are checked only.
  template <class Handler, class Wants>
  [[gnu::noinline]] bool try_fast_lines(Handler& handler, const Wants& wants, bool& keep_going);
  // One line of such a run by its own reader, from `p`.
  // Returns where the line ends, or null when it takes another road.
  template <class Handler>
  const unsigned char* take_line(const unsigned char* p, Handler& handler, bool& keep_going);
  // Ends a run of `lines` whole lines read by try_fast_lines at `p`.
  bool finish_lines(const unsigned char* p, std::uint64_t lines) {
    if (lines == 0) return false;
    line_ += (end_of_line_ ? 1 : 0) + lines - 1;
    end_of_line_ = true;
    cur_ = p;
    return true;
  }
  // One well-formed change or timestamp.
  template <class Handler>
  [[gnu::always_inline]] inline bool try_fast(Handler& handler, bool& keep_going);
  // A scalar change with a one- or two-character code, alone on its line.
  template <class Handler>
  [[gnu::always_inline]] inline bool try_fast_scalar_line(Handler& handler, bool& keep_going);

  // The byte-by-byte reader (parser.cpp).
  Result<std::string_view> read_raw_token(char* buffer, std::size_t capacity);
  Result<std::string_view> read_window_token(char* buffer, std::size_t capacity);
  Result<std::string_view> read_token_str(char* buffer, std::size_t capacity);
  Result<std::string_view> read_token_string();
  Result<void> read_command_end();
  Result<std::string_view> read_string_command(bool keep);
  Result<IdCode> read_id_code();
  Result<IdCode> parse_id_code_token(std::string_view token) const;
  std::unexpected<ReaderError> fail_token(std::string_view token, ParseErrorKind kind) const;
  std::unexpected<ReaderError> eof_error(std::string_view message);
  template <class T>
  Result<T> parse_or_fail(std::expected<T, ParseErrorKind> value) const {
    if (!value) return fail(value.error());
    return *value;
  }

  Result<std::optional<Command>> read_keyword_command();
  Result<std::string_view> read_keyword_of_any_length(std::array<char, kKeywordCapacity>& buffer,
                                                      bool& long_word);
  Result<std::optional<Command>> skip_unknown_command(bool ended);
  Result<bool> next_token_is_end();
  Result<std::optional<Command>> read_timestamp();
  Result<std::optional<Command>> read_vector_change();
  Result<std::optional<Command>> read_blank_vector_change(int byte);
  int start_of_code_below(int byte);
  Result<std::optional<Command>> read_vector_code();
  Result<std::optional<Command>> read_real_change();
  Result<std::optional<Command>> read_string_change();
  Result<std::optional<Command>> read_blank_string_change(int byte);
  Result<std::optional<Command>> read_timescale();
  Result<std::optional<Command>> read_scope_decl();
  Result<std::optional<Command>> read_var_decl();

  Source source_;
  Dialect dialect_;
  const unsigned char* cur_ = nullptr;
  const unsigned char* end_ = nullptr;
  std::uint64_t line_;
  bool end_of_line_ = false;
  std::optional<SimulationCommand> open_simulation_command_;
  bool keep_texts_ = true;
  // Storage of the texts of the command last returned.
  std::string scratch_;
  // Bytes pushed back (push_back), read before the rest of the window
  // [saved_cur_, saved_end_); saved_end_ is null when there are none.
  std::string pushed_back_;
  const unsigned char* saved_cur_ = nullptr;
  const unsigned char* saved_end_ = nullptr;
};

extern template class Parser<FileSource>;
extern template class Parser<MemorySource>;
extern template class Parser<ChunkSource>;
extern template class Parser<HeaderSource>;

}  // namespace vcd

#include "vcd/fast_path.hpp"

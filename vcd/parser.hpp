// The VCD reader: byte and token reading with line counting, and the command
// reader that turns the bytes of a file into commands.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "vcd/command.hpp"
#include "vcd/error.hpp"
#include "vcd/number.hpp"
#include "vcd/unicode.hpp"

namespace vcd {

// Token capacities.
inline constexpr std::size_t kTokenCapacity = 32;
inline constexpr std::size_t kKeywordCapacity = 16;
inline constexpr std::size_t kShortTokenCapacity = 8;

// Tab, line feed, carriage return and space; nothing else.
constexpr bool is_whitespace(int byte) {
  return byte == ' ' || byte == '\n' || byte == '\t' || byte == '\r';
}

namespace detail {

// Byte classes for the window scans of the value section.
enum ByteClass : std::uint8_t { kOther, kSpace, kLowerBit, kUpperBit };

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (const unsigned char c : {' ', '\n', '\t', '\r'}) classes[c] = kSpace;
  for (const unsigned char c : {'0', '1', 'x', 'z'}) classes[c] = kLowerBit;
  for (const unsigned char c : {'X', 'Z'}) classes[c] = kUpperBit;
  return classes;
}

inline constexpr std::array<std::uint8_t, 256> kByteClass = make_byte_classes();

// The value of each scalar value character; Zero for every other byte.
constexpr std::array<Value, 256> make_scalar_values() {
  std::array<Value, 256> values{};
  for (const char c : {'0', '1', 'x', 'X', 'z', 'Z'}) {
    values[static_cast<unsigned char>(c)] = *value_from_char(c);
  }
  return values;
}

inline constexpr std::array<Value, 256> kScalarValue = make_scalar_values();

inline bool is_space_byte(unsigned char byte) { return kByteClass[byte] == kSpace; }

inline std::uint64_t load_word(const unsigned char* p) {
  std::uint64_t word = 0;
  std::memcpy(&word, p, sizeof word);
  return word;
}

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// 0x80 in the first byte of `word` (in memory order) below '!', and
// perhaps in bytes after it; zero when there is none.
inline std::uint64_t low_bytes(std::uint64_t word) {
  return (word - kOnes * 0x21) & ~word & kHighBits;
}

}  // namespace detail

// Keyword commands; the lookup lives in the .cpp so that the table is not
// instantiated with every byte source.
enum class Keyword : std::uint8_t {
  Comment,
  Date,
  Version,
  Timescale,
  Scope,
  Upscope,
  Var,
  EndDefinitions,
  Dumpall,
  Dumpoff,
  Dumpon,
  Dumpvars,
  End,
};
std::optional<Keyword> find_keyword(std::string_view text);

// True when every byte is ASCII or the bytes form valid UTF-8.
inline bool is_utf8_token(std::string_view token) {
  unsigned char high = 0;
  for (const char c : token) high |= static_cast<unsigned char>(c);
  return high < 0x80 || unicode::is_valid_utf8(token);
}

template <class Source>
class Parser {
 public:
  static constexpr int kEnd = -1;  // end of input or a read error

  explicit Parser(Source source) : source_(std::move(source)) {}

  // The next command; nullopt at the end of the commands. Texts inside the
  // command stay valid until the next call.
  Result<std::optional<Command>> next();

  // The command reader byte by byte: every command, every error. next() and
  // for_each_command take a faster road where they can and must always give
  // what this gives.
  Result<std::optional<Command>> next_slow();

  // Hands every command, up to the end of the commands, to `visitor`, a
  // callable taking each cmd:: record (const&) and returning false to stop
  // early. The same commands as calling next() in a loop, without building a
  // Command on the hot path.
  template <class Visitor>
  Result<void> for_each_command(Visitor&& visitor) {
    for (;;) {
      bool keep_going = true;
      if (try_fast_lines(visitor, keep_going) || try_fast(visitor, keep_going)) {
        if (!keep_going) return {};
        continue;
      }
      auto command = next_slow();
      if (!command) return std::unexpected(std::move(command.error()));
      if (!*command || !std::visit(visitor, **command)) return {};
    }
  }

  std::uint64_t line() const { return line_; }
  const Source& source() const { return source_; }
  // Where the next byte will be taken from (inside the current window).
  const unsigned char* cursor() const { return cur_; }

  // The only way bytes are taken from the source. Returns the byte or kEnd.
  int read_byte_or_eof() {
    if (cur_ == end_ && !source_.refill(cur_, end_)) {
      line_ += end_of_line_ ? 1 : 0;
      end_of_line_ = false;
      return kEnd;
    }
    const unsigned char byte = *cur_++;
    line_ += end_of_line_ ? 1 : 0;
    end_of_line_ = byte == '\n';
    return byte;
  }

  // A whitespace-delimited token of at most `capacity` bytes, read into
  // `buffer`; valid UTF-8 is required.
  Result<std::string_view> read_token_str(char* buffer, std::size_t capacity) {
    auto token = read_raw_token(buffer, capacity);
    if (token && !is_utf8_token(*token)) return fail(ParseErrorKind::InvalidUtf8);
    return token;
  }

  // A whitespace-delimited token of any length, valid UTF-8.
  Result<std::string_view> read_token_string() {
    std::string_view token;
    if (take_window_token(static_cast<std::size_t>(end_ - cur_), token)) {
      scratch_.assign(token);
      if (!is_utf8_token(scratch_)) return fail(ParseErrorKind::InvalidUtf8);
      return std::string_view(scratch_);
    }
    scratch_.clear();
    int byte = skip_whitespace();
    while (byte != kEnd && !is_whitespace(byte)) {
      scratch_.push_back(static_cast<char>(byte));
      byte = read_byte_or_eof();
    }
    if (byte == kEnd) return eof_error(kEofInCommand);
    if (!is_utf8_token(scratch_)) return fail(ParseErrorKind::InvalidUtf8);
    return std::string_view(scratch_);
  }

  // The next token must be exactly "$end".
  Result<void> read_command_end() {
    std::array<char, kShortTokenCapacity> buffer{};
    auto token = read_raw_token(buffer.data(), buffer.size());
    if (!token) return std::unexpected(std::move(token.error()));
    if (*token != "$end") return fail(ParseErrorKind::ExpectedEndCommand);
    return {};
  }

  // Free text up to "$end" (found anywhere), trimmed of Unicode whitespace.
  Result<std::string_view> read_string_command() {
    scratch_.clear();
    for (;;) {
      const int byte = read_byte_or_eof();
      if (byte == kEnd) return eof_error(kEofInCommand);
      scratch_.push_back(static_cast<char>(byte));
      if (byte == 'd' && std::string_view(scratch_).ends_with("$end")) break;
    }
    const std::string_view text(scratch_.data(), scratch_.size() - 4);
    if (!is_utf8_token(text)) return fail(ParseErrorKind::InvalidUtf8);
    return unicode::trim_white_space(text);
  }

  // An error of kind `kind` at the current line.
  std::unexpected<ReaderError> fail(ParseErrorKind kind) const {
    return std::unexpected(ReaderError::from_parse(ParseError{line_, kind}));
  }

  // End of input inside something: the source's read error if there was
  // one, else the end-of-input error with `message`.
  std::unexpected<ReaderError> eof_error(std::string_view message) {
    if (auto error = source_.take_error()) return std::unexpected(std::move(*error));
    return std::unexpected(ReaderError::eof(message));
  }

 private:
  // Skips whitespace; the first other byte, or kEnd.
  int skip_whitespace() {
    int byte = read_byte_or_eof();
    while (is_whitespace(byte)) byte = read_byte_or_eof();
    return byte;
  }

  Result<std::string_view> read_raw_token(char* buffer, std::size_t capacity) {
    // A token that lies whole in the window is copied in one go.
    std::string_view token;
    if (take_window_token(capacity, token)) {
      std::memcpy(buffer, token.data(), token.size());
      return std::string_view(buffer, token.size());
    }
    int byte = skip_whitespace();
    std::size_t size = 0;
    while (byte != kEnd && !is_whitespace(byte)) {
      if (size == capacity) return fail(ParseErrorKind::TokenTooLong);
      buffer[size++] = static_cast<char>(byte);
      byte = read_byte_or_eof();
    }
    if (byte == kEnd) return eof_error(kEofInCommand);
    return std::string_view(buffer, size);
  }

  // A token as read_raw_token reads it, but viewing the window when it lies
  // whole there, so nothing is copied: valid until the next read.
  Result<std::string_view> read_window_token(char* buffer, std::size_t capacity) {
    std::string_view token;
    if (take_window_token(capacity, token)) return token;
    return read_raw_token(buffer, capacity);
  }

  // A declaration token that does not parse: "invalid UTF-8" when it is not
  // UTF-8, else `kind`. Tokens that parse are ASCII, so the declaration
  // readers check UTF-8 only here.
  std::unexpected<ReaderError> fail_token(std::string_view token, ParseErrorKind kind) const {
    return fail(is_utf8_token(token) ? kind : ParseErrorKind::InvalidUtf8);
  }

  // Consumes a token of at most `capacity` bytes and its terminating byte
  // when they lie whole in the current window, accounting for lines as
  // read_byte_or_eof would; false, with nothing consumed, otherwise. The
  // token views the window.
  bool take_window_token(std::size_t capacity, std::string_view& token) {
    const unsigned char* p = cur_;
    std::uint64_t line_feeds = 0;
    if (!scan_token(p, line_feeds, capacity, token)) return false;
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

  template <class T>
  Result<T> parse_or_fail(std::expected<T, ParseErrorKind> value) const {
    if (!value) return fail(value.error());
    return *value;
  }

  Result<IdCode> read_id_code() {
    std::array<char, kTokenCapacity> buffer{};
    auto token = read_token_str(buffer.data(), buffer.size());
    if (!token) return std::unexpected(std::move(token.error()));
    return parse_id_code_token(*token);
  }

  Result<IdCode> parse_id_code_token(std::string_view token) const {
    const auto code = parse_id_code(token);
    if (code) return *code;
    switch (code.error()) {
      case InvalidIdCode::Empty: return fail(ParseErrorKind::IdCodeEmpty);
      case InvalidIdCode::InvalidChars: return fail(ParseErrorKind::IdCodeInvalidChars);
      case InvalidIdCode::TooLong: return fail(ParseErrorKind::IdCodeTooLong);
    }
    return fail(ParseErrorKind::IdCodeInvalidChars);
  }

  // Reads the next command straight from the current window when it lies
  // there whole and is a well-formed change or timestamp. Anything else (a
  // window edge, a keyword, any fault) is left to the byte-by-byte reader,
  // which then starts from the same state, so both give the same result.
  // Sets keep_going to what `handler` returned for the command.
  template <class Handler>
  [[gnu::always_inline]] inline bool try_fast(Handler& handler, bool& keep_going);
  // Reads a run of commands in the form simulators write them, each alone on
  // its line: "#<digits>", a scalar change with its code glued on, "b<bits>
  // <code>". Stops before anything else, which try_fast and the byte-by-byte
  // reader then take. False when not even one command was read.
  template <class Handler>
  [[gnu::always_inline]] inline bool try_fast_lines(Handler& handler, bool& keep_going);
  // Window-only token scans for try_fast: false where the slow path
  // must decide. The token's terminating byte is consumed.
  bool scan_token(const unsigned char*& p, std::uint64_t& line_feeds, std::size_t capacity,
                  std::string_view& token) const;
  [[gnu::always_inline]] inline bool scan_id_code(const unsigned char*& p,
                                                  std::uint64_t& line_feeds, IdCode& code) const;

  Result<std::optional<Command>> read_keyword_command();
  Result<std::optional<Command>> read_timestamp();
  Result<std::optional<Command>> read_vector_change();
  Result<std::optional<Command>> read_real_change();
  Result<std::optional<Command>> read_string_change();
  Result<std::optional<Command>> read_timescale();
  Result<std::optional<Command>> read_scope_decl();
  Result<std::optional<Command>> read_var_decl();

  Source source_;
  const unsigned char* cur_ = nullptr;
  const unsigned char* end_ = nullptr;
  std::uint64_t line_ = 1;
  bool end_of_line_ = false;
  std::optional<SimulationCommand> open_simulation_command_;
  // Storage of the texts of the command last returned.
  std::string scratch_;
};

template <class Source>
bool Parser<Source>::scan_token(const unsigned char*& p, std::uint64_t& line_feeds,
                                std::size_t capacity, std::string_view& token) const {
  while (p != end_ && detail::is_space_byte(*p)) line_feeds += *p++ == '\n' ? 1 : 0;
  const unsigned char* const start = p;
  const unsigned char* const limit =
      end_ - p > static_cast<std::ptrdiff_t>(capacity) ? p + capacity + 1 : end_;
  // Eight bytes at a time up to the first one below '!'; only a blank ends
  // the token, so other such bytes are stepped over.
  while (limit - p >= 8) {
    const std::uint64_t low = detail::low_bytes(detail::load_word(p));
    if (low == 0) {
      p += 8;
      continue;
    }
    p += __builtin_ctzll(low) / 8;
    if (detail::is_space_byte(*p)) break;
    ++p;
  }
  while (p != limit && !detail::is_space_byte(*p)) ++p;
  if (p == limit) return false;  // too long, or the window ends first
  token = {reinterpret_cast<const char*>(start), static_cast<std::size_t>(p - start)};
  line_feeds += *p++ == '\n' ? 1 : 0;
  return true;
}

template <class Source>
inline bool Parser<Source>::scan_id_code(const unsigned char*& p, std::uint64_t& line_feeds,
                                         IdCode& code) const {
  // Codes of up to nine characters, glued to what precedes them, cannot
  // overflow: read them in one pass, first character least significant.
  if (end_ - p > 10) {
    // One and two characters, the codes of most dumps, first.
    const unsigned first = p[0] - 33u;
    if (first < 94u) {
      if (detail::is_space_byte(p[1])) {
        code = IdCode{first};
        line_feeds += p[1] == '\n' ? 1 : 0;
        p += 2;
        return true;
      }
      const unsigned second = p[1] - 33u;
      if (second < 94u && detail::is_space_byte(p[2])) {
        code = IdCode{first + (second + 1) * std::uint64_t{94}};
        line_feeds += p[2] == '\n' ? 1 : 0;
        p += 3;
        return true;
      }
    }
    const unsigned char* q = p;
    const unsigned char* const longest = p + 9;
    std::uint64_t value = 0;
    std::uint64_t weight = 1;
    for (unsigned digit = *q - 32u; digit - 1u < 94u && q != longest; digit = *++q - 32u) {
      value += digit * weight;
      weight *= 94;
    }
    if (q != p && detail::is_space_byte(*q)) {
      code = IdCode{value - 1};
      line_feeds += *q == '\n' ? 1 : 0;
      p = q + 1;
      return true;
    }
  }
  std::string_view token;
  if (!scan_token(p, line_feeds, kTokenCapacity, token)) return false;
  const auto parsed = parse_id_code(token);
  if (!parsed) return false;
  code = *parsed;
  return true;
}

namespace detail {

// Reads an identifier code of one to seven characters followed by a line
// feed, from eight bytes that may be read at `p`. On success returns true
// with `p` past the line feed; else leaves everything to the slower roads.
[[gnu::always_inline]] inline bool take_code_line(const unsigned char*& p, IdCode& code) {
  const std::uint64_t word = load_word(p);
  const std::uint64_t low = low_bytes(word);
  if (low == 0) return false;  // eight or more code characters
  const unsigned length = static_cast<unsigned>(__builtin_ctzll(low)) / 8;
  // Code characters end at '~': no byte of 0x7f or above before the end.
  const std::uint64_t code_bytes = (std::uint64_t{1} << (8 * length)) - 1;
  if (length == 0 || p[length] != '\n' || (((word + kOnes) | word) & kHighBits & code_bytes) != 0) {
    return false;
  }
  // Bijective base 94, first character least significant, summed in pairs
  // of bytes, then of 16-bit and of 32-bit lanes, without a branch.
  const std::uint64_t digits = (word - kOnes * 32) & code_bytes;
  const std::uint64_t pairs =
      (digits & 0x00FF00FF00FF00FFULL) + ((digits >> 8) & 0x00FF00FF00FF00FFULL) * 94;
  const std::uint64_t quads = (pairs & 0x0000FFFF0000FFFFULL) +
                              ((pairs >> 16) & 0x0000FFFF0000FFFFULL) * (std::uint64_t{94} * 94);
  code = IdCode{(quads & 0xFFFFFFFFULL) + (quads >> 32) * (94ULL * 94 * 94 * 94) - 1};
  p += length + 1;
  return true;
}

}  // namespace detail

template <class Source>
template <class Handler>
inline bool Parser<Source>::try_fast_lines(Handler& handler, bool& keep_going) {
  // Room for the widest look-ahead of one step: an eight-byte load after a
  // value character (the bits of a vector are bounded separately).
  constexpr std::ptrdiff_t kMargin = 32;
  if (end_ - cur_ < kMargin) return false;
  const unsigned char* const stop = end_ - kMargin;
  const unsigned char* p = cur_;
  std::uint64_t lines = 0;
  while (p < stop) {
    const unsigned char first = *p;
    const unsigned char* q = p + 1;
    if (first == '#') {
      std::uint64_t time = 0;
      // Nineteen digits cannot overflow.
      const unsigned char* const longest = q + 19;
      while (q != longest && *q - static_cast<unsigned>('0') < 10u) time = time * 10 + (*q++ - '0');
      if (q == p + 1 || *q != '\n') break;
      keep_going = handler(cmd::Timestamp{time});
      p = q + 1;
    } else if (detail::kByteClass[first] >= detail::kLowerBit) {
      IdCode code{0};
      if (!detail::take_code_line(q, code)) break;
      keep_going = handler(cmd::ScalarChange{code, detail::kScalarValue[first]});
      p = q;
    } else if (first == 'b') {
      while (end_ - q >= 8 &&
             (detail::load_word(q) & 0xFEFEFEFEFEFEFEFEULL) == 0x3030303030303030ULL) {
        q += 8;
      }
      while (q != end_ && detail::kByteClass[*q] == detail::kLowerBit) ++q;
      if (q == p + 1 || end_ - q < 9 || *q != ' ') break;
      const std::string_view bits(reinterpret_cast<const char*>(p + 1),
                                  static_cast<std::size_t>(q - p - 1));
      ++q;
      IdCode code{0};
      if (!detail::take_code_line(q, code)) break;
      keep_going = handler(cmd::VectorChange{code, Vector{bits}});
      p = q;
    } else {
      break;
    }
    ++lines;
    if (!keep_going) break;
  }
  if (lines == 0) return false;
  line_ += (end_of_line_ ? 1 : 0) + lines - 1;
  end_of_line_ = true;
  cur_ = p;
  return true;
}

template <class Source>
template <class Handler>
inline bool Parser<Source>::try_fast(Handler& handler, bool& keep_going) {
  // The commonest command of all: a scalar change with a one- or two-character
  // code, alone on its line.
  if (end_ - cur_ >= 4) {
    const std::uint8_t cls = detail::kByteClass[cur_[0]];
    const unsigned first = cur_[1] - 33u;
    if (cls >= detail::kLowerBit && first < 94u) {
      std::size_t length = 0;
      std::uint64_t code = first;
      if (cur_[2] == '\n') {
        length = 3;
      } else if (cur_[3] == '\n' && cur_[2] - 33u < 94u) {
        length = 4;
        code += (cur_[2] - 32u) * std::uint64_t{94};
      }
      if (length != 0) {
        const Value value = detail::kScalarValue[cur_[0]];
        line_ += end_of_line_ ? 1 : 0;
        end_of_line_ = true;
        cur_ += length;
        keep_going = handler(cmd::ScalarChange{IdCode{code}, value});
        return true;
      }
    }
  }
  const unsigned char* p = cur_;
  std::uint64_t line_feeds = 0;
  while (p != end_ && detail::is_space_byte(*p)) line_feeds += *p++ == '\n' ? 1 : 0;
  if (p == end_) return false;
  IdCode code{0};
  // Takes the consumed bytes into account as read_byte_or_eof would have,
  // one by one, then hands the command over.
  const auto finish = [&](const auto& command) {
    commit(p, line_feeds);
    keep_going = handler(command);
    return true;
  };
  std::string_view token;
  switch (*p++) {
    case '#': {
      if (!scan_token(p, line_feeds, kTokenCapacity, token)) return false;
      const auto time = parse_u64(token);
      if (!time) return false;
      return finish(cmd::Timestamp{*time});
    }
    case '0':
    case '1':
    case 'x':
    case 'X':
    case 'z':
    case 'Z': {
      const Value value = detail::kScalarValue[p[-1]];
      if (!scan_id_code(p, line_feeds, code)) return false;
      return finish(cmd::ScalarChange{code, value});
    }
    case 'b':
    case 'B': {
      while (p != end_ && detail::is_space_byte(*p)) line_feeds += *p++ == '\n' ? 1 : 0;
      const unsigned char* const start = p;
      // Eight bits at a time while they are all 0 or 1, the usual case.
      while (end_ - p >= 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, p, sizeof word);
        if ((word & 0xFEFEFEFEFEFEFEFEULL) != 0x3030303030303030ULL) break;
        p += 8;
      }
      bool lower_case = true;
      std::uint8_t cls = detail::kOther;
      for (; p != end_; ++p) {
        cls = detail::kByteClass[*p];
        if (cls < detail::kLowerBit) break;
        lower_case &= cls == detail::kLowerBit;
      }
      if (p == end_ || cls != detail::kSpace || p == start) return false;
      std::string_view bits(reinterpret_cast<const char*>(start),
                            static_cast<std::size_t>(p - start));
      line_feeds += *p++ == '\n' ? 1 : 0;
      if (!scan_id_code(p, line_feeds, code)) return false;
      if (!lower_case) {
        scratch_.assign(bits);
        for (char& c : scratch_) c = to_char(*value_from_char(c));
        bits = scratch_;
      }
      return finish(cmd::VectorChange{code, Vector{bits}});
    }
    case 'r':
    case 'R': {
      if (!scan_token(p, line_feeds, static_cast<std::size_t>(end_ - p), token)) return false;
      const auto value = parse_real(token);
      if (!value || !scan_id_code(p, line_feeds, code)) return false;
      return finish(cmd::RealChange{code, *value});
    }
    case 's':
    case 'S': {
      if (!scan_token(p, line_feeds, static_cast<std::size_t>(end_ - p), token) ||
          !is_utf8_token(token)) {
        return false;
      }
      const std::string_view text = token;
      if (!scan_id_code(p, line_feeds, code)) return false;
      return finish(cmd::StringChange{code, text});
    }
    default: return false;
  }
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::next() {
  std::optional<Command> fast;
  bool keep_going = true;
  const auto keep = [&fast](const auto& command) {
    fast = command;
    return true;
  };
  if (try_fast(keep, keep_going)) return fast;
  return next_slow();
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::next_slow() {
  const int byte = skip_whitespace();
  switch (byte) {
    case kEnd:
      if (auto error = source_.take_error()) return std::unexpected(std::move(*error));
      return std::nullopt;
    case '$': return read_keyword_command();
    case '#': return read_timestamp();
    case '0':
    case '1':
    case 'x':
    case 'X':
    case 'z':
    case 'Z': {
      const Value value = *value_from_char(static_cast<char>(byte));
      auto code = read_id_code();
      if (!code) return std::unexpected(std::move(code.error()));
      return Command{cmd::ScalarChange{*code, value}};
    }
    case 'b':
    case 'B': return read_vector_change();
    case 'r':
    case 'R': return read_real_change();
    case 's':
    case 'S': return read_string_change();
    default: return fail(ParseErrorKind::UnexpectedCharacter);
  }
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_keyword_command() {
  std::array<char, kKeywordCapacity> buffer{};
  auto word = read_window_token(buffer.data(), buffer.size());
  if (!word) return std::unexpected(std::move(word.error()));
  const auto keyword = find_keyword(*word);
  if (!keyword) return fail(ParseErrorKind::UnknownCommand);

  const auto begin_section = [this](SimulationCommand command) -> std::optional<Command> {
    open_simulation_command_ = command;
    return Command{cmd::SimulationBegin{command}};
  };
  const auto string_command = [this](auto make) -> Result<std::optional<Command>> {
    auto text = read_string_command();
    if (!text) return std::unexpected(std::move(text.error()));
    return Command{make(*text)};
  };
  switch (*keyword) {
    case Keyword::Comment:
      return string_command([](std::string_view t) { return cmd::Comment{t}; });
    case Keyword::Date: return string_command([](std::string_view t) { return cmd::Date{t}; });
    case Keyword::Version:
      return string_command([](std::string_view t) { return cmd::Version{t}; });
    case Keyword::Timescale: return read_timescale();
    case Keyword::Scope: return read_scope_decl();
    case Keyword::Var: return read_var_decl();
    case Keyword::Upscope:
    case Keyword::EndDefinitions: {
      auto end = read_command_end();
      if (!end) return std::unexpected(std::move(end.error()));
      if (*keyword == Keyword::Upscope) return Command{cmd::Upscope{}};
      return Command{cmd::EndDefinitions{}};
    }
    case Keyword::Dumpall: return begin_section(SimulationCommand::Dumpall);
    case Keyword::Dumpoff: return begin_section(SimulationCommand::Dumpoff);
    case Keyword::Dumpon: return begin_section(SimulationCommand::Dumpon);
    case Keyword::Dumpvars: return begin_section(SimulationCommand::Dumpvars);
    case Keyword::End: {
      if (!open_simulation_command_) return fail(ParseErrorKind::UnmatchedEnd);
      const SimulationCommand command = *open_simulation_command_;
      open_simulation_command_.reset();
      return Command{cmd::SimulationEnd{command}};
    }
  }
  return fail(ParseErrorKind::UnknownCommand);
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_timestamp() {
  std::array<char, kTokenCapacity> buffer{};
  auto token = read_token_str(buffer.data(), buffer.size());
  if (!token) return std::unexpected(std::move(token.error()));
  auto time = parse_or_fail(parse_u64(*token));
  if (!time) return std::unexpected(std::move(time.error()));
  return Command{cmd::Timestamp{*time}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_vector_change() {
  scratch_.clear();
  int byte = skip_whitespace();
  while (byte != kEnd && !is_whitespace(byte)) {
    const auto value = value_from_char(static_cast<char>(byte));
    if (!value) return fail(ParseErrorKind::InvalidValueChar);
    scratch_.push_back(to_char(*value));
    byte = read_byte_or_eof();
  }
  if (byte == kEnd) return eof_error(kEofInCommand);
  auto code = read_id_code();
  if (!code) return std::unexpected(std::move(code.error()));
  return Command{cmd::VectorChange{*code, Vector{scratch_}}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_real_change() {
  // A literal of any length: exact decimal expansions run long.
  auto token = read_token_string();
  if (!token) return std::unexpected(std::move(token.error()));
  auto value = parse_or_fail(parse_real(*token));
  if (!value) return std::unexpected(std::move(value.error()));
  auto code = read_id_code();
  if (!code) return std::unexpected(std::move(code.error()));
  return Command{cmd::RealChange{*code, *value}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_string_change() {
  auto text = read_token_string();
  if (!text) return std::unexpected(std::move(text.error()));
  auto code = read_id_code();
  if (!code) return std::unexpected(std::move(code.error()));
  return Command{cmd::StringChange{*code, *text}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_timescale() {
  std::array<char, kShortTokenCapacity> first{};
  std::array<char, kShortTokenCapacity> second{};
  auto token = read_token_str(first.data(), first.size());
  if (!token) return std::unexpected(std::move(token.error()));
  // The magnitude runs up to the first character that is not numeric.
  std::size_t split = 0;
  while (split < token->size()) {
    std::size_t next = split;
    if (!unicode::is_numeric(unicode::decode_at(*token, next))) break;
    split = next;
  }
  const std::string_view magnitude_text = token->substr(0, split);
  std::string_view unit_text = token->substr(split);
  if (split == token->size()) {
    auto unit_token = read_token_str(second.data(), second.size());
    if (!unit_token) return std::unexpected(std::move(unit_token.error()));
    unit_text = *unit_token;
  }
  auto magnitude = parse_or_fail(parse_u32(magnitude_text));
  if (!magnitude) return std::unexpected(std::move(magnitude.error()));
  const auto unit = parse_timescale_unit(unit_text);
  if (!unit) return fail(ParseErrorKind::InvalidTimescaleUnit);
  auto end = read_command_end();
  if (!end) return std::unexpected(std::move(end.error()));
  return Command{cmd::Timescale{vcd::Timescale{*magnitude, *unit}}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_scope_decl() {
  std::array<char, kTokenCapacity> buffer{};
  auto type_token = read_window_token(buffer.data(), buffer.size());
  if (!type_token) return std::unexpected(std::move(type_token.error()));
  const auto scope_type = parse_scope_type(*type_token);
  if (!scope_type) return fail_token(*type_token, ParseErrorKind::InvalidScopeType);
  auto name = read_token_string();
  if (!name) return std::unexpected(std::move(name.error()));
  auto end = read_command_end();
  if (!end) return std::unexpected(std::move(end.error()));
  return Command{cmd::ScopeDecl{*scope_type, scratch_}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_var_decl() {
  // Each token is parsed before the next is read, so it may view the window.
  std::array<char, kTokenCapacity> buffer{};
  auto type_token = read_window_token(buffer.data(), buffer.size());
  if (!type_token) return std::unexpected(std::move(type_token.error()));
  const auto var_type = parse_var_type(*type_token);
  if (!var_type) return fail_token(*type_token, ParseErrorKind::InvalidVarType);

  auto width_token = read_window_token(buffer.data(), buffer.size());
  if (!width_token) return std::unexpected(std::move(width_token.error()));
  const auto width = parse_u32(*width_token);
  if (!width) return fail_token(*width_token, width.error());

  auto code_token = read_window_token(buffer.data(), buffer.size());
  if (!code_token) return std::unexpected(std::move(code_token.error()));
  auto code = parse_id_code_token(*code_token);
  if (!code) {
    if (!is_utf8_token(*code_token)) return fail(ParseErrorKind::InvalidUtf8);
    return std::unexpected(std::move(code.error()));
  }

  auto reference = read_token_string();
  if (!reference) return std::unexpected(std::move(reference.error()));

  std::optional<ReferenceIndex> index;
  auto last = read_window_token(buffer.data(), buffer.size());
  if (!last) return std::unexpected(std::move(last.error()));
  if (last->starts_with('[')) {
    if (!is_utf8_token(*last)) return fail(ParseErrorKind::InvalidUtf8);
    index = parse_reference_index(*last);
    if (!index) return fail(ParseErrorKind::InvalidReferenceIndex);
    last = read_window_token(buffer.data(), buffer.size());
    if (!last) return std::unexpected(std::move(last.error()));
  }
  if (*last != "$end") return fail_token(*last, ParseErrorKind::ExpectedEndCommand);
  return Command{cmd::VarDecl{*var_type, *width, *code, scratch_, index}};
}

}  // namespace vcd

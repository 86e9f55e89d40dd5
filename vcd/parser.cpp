// The byte-by-byte command reader: every command and every error, with its
// line. Compiled once for each byte source.
#include "vcd/parser.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "vcd/number.hpp"
#include "vcd/unicode.hpp"

namespace vcd {

namespace {

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

std::optional<Keyword> find_keyword(std::string_view text) {
  static constexpr std::pair<std::string_view, Keyword> kKeywords[] = {
      {"comment", Keyword::Comment}, {"date", Keyword::Date},
      {"version", Keyword::Version}, {"timescale", Keyword::Timescale},
      {"scope", Keyword::Scope},     {"upscope", Keyword::Upscope},
      {"var", Keyword::Var},         {"enddefinitions", Keyword::EndDefinitions},
      {"dumpall", Keyword::Dumpall}, {"dumpoff", Keyword::Dumpoff},
      {"dumpon", Keyword::Dumpon},   {"dumpvars", Keyword::Dumpvars},
      {"end", Keyword::End},
  };
  for (const auto& [word, keyword] : kKeywords) {
    if (word == text) return keyword;
  }
  return std::nullopt;
}

// Whether `byte` starts a command of the extended dialect.
bool starts_extended_command(int byte) {
  switch (byte) {
    case '$':
    case '#':
    case 'b':
    case 'B':
    case 'r':
    case 'R':
    case 's':
    case 'S': return true;
    default: return nine_state_value_from_char(static_cast<char>(byte)).has_value();
  }
}

}  // namespace

// End of input inside something: the source's read error if there was one,
// else the end-of-input error with `message`.
template <class Source>
std::unexpected<ReaderError> Parser<Source>::eof_error(std::string_view message) {
  if (auto error = source_.take_error()) return std::unexpected(std::move(*error));
  return std::unexpected(ReaderError::eof(message));
}

template <class Source>
void Parser<Source>::push_back(std::string_view bytes, std::uint64_t line) {
  std::string pending(bytes);
  if (saved_end_ != nullptr) {
    // Still inside bytes pushed back before: those not read yet follow.
    pending.append(reinterpret_cast<const char*>(cur_), static_cast<std::size_t>(end_ - cur_));
  } else {
    saved_cur_ = cur_;
    saved_end_ = end_;
  }
  pushed_back_ = std::move(pending);
  cur_ = reinterpret_cast<const unsigned char*>(pushed_back_.data());
  end_ = cur_ + pushed_back_.size();
  line_ = line;
  end_of_line_ = false;
}

// A whitespace-delimited token of at most `capacity` bytes, read into
// `buffer`.
template <class Source>
Result<std::string_view> Parser<Source>::read_raw_token(char* buffer, std::size_t capacity) {
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
template <class Source>
Result<std::string_view> Parser<Source>::read_window_token(char* buffer, std::size_t capacity) {
  std::string_view token;
  if (take_window_token(capacity, token)) return token;
  return read_raw_token(buffer, capacity);
}

// A token as read_raw_token reads it; valid UTF-8 is required.
template <class Source>
Result<std::string_view> Parser<Source>::read_token_str(char* buffer, std::size_t capacity) {
  auto token = read_raw_token(buffer, capacity);
  if (token && !is_utf8_token(*token)) return fail(ParseErrorKind::InvalidUtf8);
  return token;
}

// A whitespace-delimited token of any length, valid UTF-8.
template <class Source>
Result<std::string_view> Parser<Source>::read_token_string() {
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
template <class Source>
Result<void> Parser<Source>::read_command_end() {
  std::array<char, kShortTokenCapacity> buffer{};
  auto token = read_raw_token(buffer.data(), buffer.size());
  if (!token) return std::unexpected(std::move(token.error()));
  if (*token != "$end") return fail(ParseErrorKind::ExpectedEndCommand);
  return {};
}

// Free text up to "$end" (found anywhere), trimmed of Unicode whitespace;
// unless `keep`, checked a stretch at a time, not kept, and handed on empty.
template <class Source>
Result<std::string_view> Parser<Source>::read_string_command(bool keep) {
  constexpr std::size_t kStretch = 4096;
  const auto is_continuation = [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
  };
  bool utf8 = true;
  scratch_.clear();
  for (;;) {
    const std::string_view read(scratch_);
    if (cur_ != end_ && *cur_ != '$' &&
        !(read.ends_with('$') || read.ends_with("$e") || read.ends_with("$en"))) {
      // The bytes before the next "$" of the window in one go.
      const void* dollar = std::memchr(cur_, '$', static_cast<std::size_t>(end_ - cur_));
      const auto* stop = dollar != nullptr ? static_cast<const unsigned char*>(dollar) : end_;
      scratch_.append(reinterpret_cast<const char*>(cur_), static_cast<std::size_t>(stop - cur_));
      commit(stop, static_cast<std::uint64_t>(std::count(cur_, stop, '\n')));
    } else {
      const int byte = read_byte_or_eof();
      if (byte == kEnd) return eof_error(kEofInCommand);
      scratch_.push_back(static_cast<char>(byte));
      if (byte == 'd' && std::string_view(scratch_).ends_with("$end")) break;
    }
    if (!keep && scratch_.size() >= kStretch) {
      // Checked up to a character's first byte; the last three bytes stay,
      // where "$end" may begin.
      std::size_t cut = scratch_.size() - 3;
      for (int step = 0; step < 4 && is_continuation(scratch_[cut]); ++step) --cut;
      utf8 = utf8 && is_utf8_token(std::string_view(scratch_).substr(0, cut));
      scratch_.erase(0, cut);
    }
  }
  const std::string_view text(scratch_.data(), scratch_.size() - 4);
  if (!utf8 || !is_utf8_token(text)) return fail(ParseErrorKind::InvalidUtf8);
  return keep ? unicode::trim_white_space(text) : std::string_view();
}

// A declaration token that does not parse: "invalid UTF-8" when it is not
// UTF-8, else `kind`. Tokens that parse are ASCII, so the declaration
// readers check UTF-8 only here.
template <class Source>
std::unexpected<ReaderError> Parser<Source>::fail_token(std::string_view token,
                                                        ParseErrorKind kind) const {
  return fail(is_utf8_token(token) ? kind : ParseErrorKind::InvalidUtf8);
}

template <class Source>
Result<IdCode> Parser<Source>::read_id_code() {
  std::array<char, kTokenCapacity> buffer{};
  auto token = read_token_str(buffer.data(), buffer.size());
  if (!token) return std::unexpected(std::move(token.error()));
  return parse_id_code_token(*token);
}

template <class Source>
Result<IdCode> Parser<Source>::parse_id_code_token(std::string_view token) const {
  const auto code = parse_id_code(token);
  if (code) return *code;
  switch (code.error()) {
    case InvalidIdCode::Empty: return fail(ParseErrorKind::IdCodeEmpty);
    case InvalidIdCode::InvalidChars: return fail(ParseErrorKind::IdCodeInvalidChars);
    case InvalidIdCode::TooLong: return fail(ParseErrorKind::IdCodeTooLong);
  }
  return fail(ParseErrorKind::IdCodeInvalidChars);
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
      return Command{cmd::Change{*code, ChangeView::of_scalar(value)}};
    }
    case 'b':
    case 'B': return read_vector_change();
    case 'r':
    case 'R': return read_real_change();
    case 's':
    case 'S': return read_string_change();
    default: break;
  }
  if (dialect_ == Dialect::extended) {
    if (const auto value = nine_state_value_from_char(static_cast<char>(byte))) {
      auto code = read_id_code();
      if (!code) return std::unexpected(std::move(code.error()));
      return Command{cmd::Change{*code, ChangeView::of_scalar(*value)}};
    }
  }
  return fail(ParseErrorKind::UnexpectedCharacter);
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_keyword_command() {
  std::array<char, kKeywordCapacity> buffer{};
  const bool extended = dialect_ == Dialect::extended;
  bool long_word = false;
  auto word = extended ? read_keyword_of_any_length(buffer, long_word)
                       : read_window_token(buffer.data(), buffer.size());
  if (!word) return std::unexpected(std::move(word.error()));
  const auto keyword = long_word ? std::nullopt : find_keyword(*word);
  if (!keyword) {
    if (extended) return skip_unknown_command(word->ends_with("$end"));
    return fail(ParseErrorKind::UnknownCommand);
  }

  const auto begin_section = [this](SimulationCommand command) -> std::optional<Command> {
    open_simulation_command_ = command;
    return Command{cmd::SimulationBegin{command}};
  };
  const auto string_command = [this](auto make) -> Result<std::optional<Command>> {
    auto text = read_string_command(keep_texts_);
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

// A keyword as read_window_token reads it, but of any length: one longer than
// `buffer`, which no known keyword is, sets `long_word` and gives its last
// four bytes.
template <class Source>
Result<std::string_view> Parser<Source>::read_keyword_of_any_length(
    std::array<char, kKeywordCapacity>& buffer, bool& long_word) {
  std::string_view word;
  if (take_window_token(buffer.size(), word)) return word;
  int byte = skip_whitespace();
  std::size_t size = 0;
  std::uint32_t last = 0;  // the last four bytes, the latest lowest
  for (; byte != kEnd && !is_whitespace(byte); byte = read_byte_or_eof(), ++size) {
    if (size < buffer.size()) buffer[size] = static_cast<char>(byte);
    last = (last << 8) | static_cast<std::uint32_t>(byte);
  }
  if (byte == kEnd) return eof_error(kEofInCommand);
  long_word = size > buffer.size();
  if (!long_word) return std::string_view(buffer.data(), size);
  for (int i = 0; i < 4; ++i) buffer[i] = static_cast<char>(last >> (24 - 8 * i));
  return std::string_view(buffer.data(), 4);
}

// An unknown "$keyword ... $end" of the extended dialect ($attrbegin, vendor
// commands): its text up to "$end", checked as the text of a comment is but
// not kept, and handed on as an empty comment, which every consumer skips.
// `ended`: the keyword itself ends with "$end".
template <class Source>
Result<std::optional<Command>> Parser<Source>::skip_unknown_command(bool ended) {
  if (!ended) {
    auto text = read_string_command(false);
    if (!text) return std::unexpected(std::move(text.error()));
  }
  return Command{cmd::Comment{}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_timestamp() {
  std::array<char, kTokenCapacity> buffer{};
  auto token = read_token_str(buffer.data(), buffer.size());
  if (!token) return std::unexpected(std::move(token.error()));
  auto time = parse_or_fail(dialect_ == Dialect::extended ? parse_time_with_zero_fraction(*token)
                                                          : parse_u64(*token));
  if (!time) return std::unexpected(std::move(time.error()));
  return Command{cmd::Timestamp{*time}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_vector_change() {
  const bool extended = dialect_ == Dialect::extended;
  int byte = read_byte_or_eof();
  if (extended && is_blank(byte)) {
    byte = skip_blanks();
    if (byte != '\n' && byte != kEnd) return read_blank_vector_change(byte);
  }
  while (is_whitespace(byte)) byte = read_byte_or_eof();
  scratch_.clear();
  while (byte != kEnd && !is_whitespace(byte)) {
    const auto value = extended ? nine_state_value_from_char(static_cast<char>(byte))
                                : value_from_char(static_cast<char>(byte));
    if (!value) return fail(ParseErrorKind::InvalidValueChar);
    scratch_.push_back(to_char(*value));
    byte = read_byte_or_eof();
  }
  if (byte == kEnd) return eof_error(kEofInCommand);
  return read_vector_code();
}

// "b", a blank, and `byte` starting a token T on the same line, in the
// extended dialect. A change stays on its line: with a second token there, T
// holds the bits and that token is the code, as in the specified dialect;
// alone on its line, T is the code of an empty vector, the value of a
// zero-width variable. Except where the specified dialect reads the change
// too, bits alone on their line with the code on a later one: when T is made
// of 0, 1, x and z only and what follows starts no command, T holds the bits.
template <class Source>
Result<std::optional<Command>> Parser<Source>::read_blank_vector_change(int byte) {
  scratch_.clear();
  bool bits = true;
  bool four_state = true;
  for (; byte != kEnd && !is_whitespace(byte); byte = read_byte_or_eof()) {
    bits = bits && nine_state_value_from_char(static_cast<char>(byte));
    four_state = four_state && value_from_char(static_cast<char>(byte));
    scratch_.push_back(static_cast<char>(byte));
  }
  if (byte == kEnd) return eof_error(kEofInCommand);
  if (byte != '\n') byte = skip_blanks();
  const auto take_bits = [this](int next, std::uint64_t line) {
    const char first = static_cast<char>(next);
    push_back(std::string_view(&first, 1), line);
    for (char& c : scratch_) c = to_char(*nine_state_value_from_char(c));
    return read_vector_code();
  };
  if (byte != '\n' && byte != kEnd) {
    if (!bits) return fail(ParseErrorKind::InvalidValueChar);
    return take_bits(byte, line_);
  }
  // T as a code, with the errors of the line it stands on.
  Result<IdCode> code = parse_id_code_token(scratch_);
  if (scratch_.size() > kTokenCapacity) {
    code = fail(ParseErrorKind::TokenTooLong);
  } else if (!is_utf8_token(scratch_)) {
    code = fail(ParseErrorKind::InvalidUtf8);
  }
  if (four_state) {
    if (const int next = start_of_code_below(byte); next != kEnd) return take_bits(next, line_);
  }
  if (!code) return std::unexpected(std::move(code.error()));
  return Command{cmd::Change{*code, ChangeView::of_vector({})}};
}

// After a value alone on its line in the extended dialect (`byte` ended the
// line, or the input): the first byte of a later line when that starts no
// command, so that it starts the value's code; otherwise kEnd, with that
// byte left to be read again.
template <class Source>
int Parser<Source>::start_of_code_below(int byte) {
  if (byte != '\n') return kEnd;
  byte = skip_whitespace();
  if (byte == kEnd || !starts_extended_command(byte)) return byte;
  const char first = static_cast<char>(byte);
  push_back(std::string_view(&first, 1), line_);
  return kEnd;
}

// The code of a vector change whose bits are in scratch_.
template <class Source>
Result<std::optional<Command>> Parser<Source>::read_vector_code() {
  auto code = read_id_code();
  if (!code) return std::unexpected(std::move(code.error()));
  return Command{cmd::Change{*code, ChangeView::of_vector(scratch_)}};
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
  return Command{cmd::Change{*code, ChangeView::of_real(*value)}};
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_string_change() {
  if (dialect_ == Dialect::extended) {
    int byte = read_byte_or_eof();
    if (is_blank(byte)) {
      byte = skip_blanks();
      if (byte != '\n' && byte != kEnd) return read_blank_string_change(byte);
    }
    if (byte != kEnd) {
      const char first = static_cast<char>(byte);
      push_back(std::string_view(&first, 1), line_);
    }
  }
  auto text = read_token_string();
  if (!text) return std::unexpected(std::move(text.error()));
  auto code = read_id_code();
  if (!code) return std::unexpected(std::move(code.error()));
  return Command{cmd::Change{*code, ChangeView::of_string(*text)}};
}

// "s", a blank, and `byte` starting a token T on the same line, in the
// extended dialect. A change stays on its line: with a second token there, T
// is the text and that token the code; alone on its line, T is the code of an
// empty string. Except where the specified dialect reads the change too, the
// text alone on its line with the code on a later one: when what follows
// starts no command, T is the text.
template <class Source>
Result<std::optional<Command>> Parser<Source>::read_blank_string_change(int byte) {
  scratch_.clear();
  for (; byte != kEnd && !is_whitespace(byte); byte = read_byte_or_eof())
    scratch_.push_back(static_cast<char>(byte));
  if (byte == kEnd) return eof_error(kEofInCommand);
  if (!is_utf8_token(scratch_)) return fail(ParseErrorKind::InvalidUtf8);
  if (byte != '\n') byte = skip_blanks();
  const auto take_text = [this](int next, std::uint64_t line) -> Result<std::optional<Command>> {
    const char first = static_cast<char>(next);
    push_back(std::string_view(&first, 1), line);
    auto code = read_id_code();
    if (!code) return std::unexpected(std::move(code.error()));
    return Command{cmd::Change{*code, ChangeView::of_string(scratch_)}};
  };
  if (byte != '\n' && byte != kEnd) return take_text(byte, line_);
  // T as a code, with the errors of the line it stands on.
  Result<IdCode> code = parse_id_code_token(scratch_);
  if (scratch_.size() > kTokenCapacity) code = fail(ParseErrorKind::TokenTooLong);
  if (const int next = start_of_code_below(byte); next != kEnd) return take_text(next, line_);
  if (!code) return std::unexpected(std::move(code.error()));
  return Command{cmd::Change{*code, ChangeView::of_string({})}};
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
  auto scope_type = parse_scope_type(*type_token);
  if (!scope_type && dialect_ == Dialect::extended && is_utf8_token(*type_token)) {
    scope_type = ScopeType::Other;
  }
  if (!scope_type) return fail_token(*type_token, ParseErrorKind::InvalidScopeType);
  auto name = read_token_string();
  if (!name) return std::unexpected(std::move(name.error()));
  if (dialect_ == Dialect::extended && *name == "$end") {
    // "$scope module $end": an empty name, unless another "$end" follows,
    // which makes "$end" the name.
    auto named = next_token_is_end();
    if (!named) return std::unexpected(std::move(named.error()));
    if (!*named) return Command{cmd::ScopeDecl{*scope_type, {}}};
    return Command{cmd::ScopeDecl{*scope_type, "$end"}};
  }
  auto end = read_command_end();
  if (!end) return std::unexpected(std::move(end.error()));
  return Command{cmd::ScopeDecl{*scope_type, scratch_}};
}

// Whether the next token is "$end", which is then read as read_command_end
// reads it; when it is not, what was read of it is pushed back.
template <class Source>
Result<bool> Parser<Source>::next_token_is_end() {
  constexpr std::string_view kEndToken = "$end";
  int byte = skip_whitespace();
  if (byte == kEnd) return eof_error(kEofInCommand);
  const std::uint64_t line = line_;
  std::array<char, kEndToken.size() + 1> read{};
  std::size_t size = 0;
  for (;;) {
    if (size == kEndToken.size() && is_whitespace(byte)) return true;
    if (size == kEndToken.size() || byte == kEnd || byte != kEndToken[size]) break;
    read[size++] = static_cast<char>(byte);
    byte = read_byte_or_eof();
  }
  if (byte != kEnd) read[size++] = static_cast<char>(byte);
  push_back(std::string_view(read.data(), size), line);
  return false;
}

template <class Source>
Result<std::optional<Command>> Parser<Source>::read_var_decl() {
  // Each token is parsed before the next is read, so it may view the window.
  std::array<char, kTokenCapacity> buffer{};
  auto type_token = read_window_token(buffer.data(), buffer.size());
  if (!type_token) return std::unexpected(std::move(type_token.error()));
  auto var_type = parse_var_type(*type_token);
  if (!var_type && dialect_ == Dialect::extended && is_utf8_token(*type_token)) {
    var_type = VarType::Other;
  }
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

template class Parser<FileSource>;
template class Parser<MemorySource>;
template class Parser<ChunkSource>;
template class Parser<HeaderSource>;

}  // namespace vcd

#include "src/lib/header_pass.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <memory>

#include "vcd/byte_source.hpp"
#include "vcd/file.hpp"
#include "vcd/header.hpp"
#include "vcd/unicode.hpp"

namespace quarnel {

namespace {

constexpr std::string_view kMarker = "$enddefinitions";
constexpr std::size_t kReadBlock = std::size_t{1} << 16;

// The offset of the first `needle` in `text` at or after `from`, or
// text.size().
std::size_t find_bytes(std::string_view text, std::size_t from, std::string_view needle) {
  const void* found =
      ::memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return found == nullptr ? text.size()
                          : static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
}

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Scope names that the reader takes as they are; anything else gets escaped.
bool is_plain_scope_name(std::string_view name) {
  if (name.empty() || !(is_ascii_letter(name.front()) || name.front() == '_')) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return is_ascii_letter(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '(' ||
           c == ')' || c == '.';
  });
}

// Splits `text` at runs of Unicode whitespace; each token keeps its offset.
struct Token {
  std::string_view text;
  std::size_t end;  // offset just past the token
};

std::vector<Token> split_white_space(std::string_view text) {
  std::vector<Token> tokens;
  std::size_t pos = 0;
  std::size_t start = std::string_view::npos;
  while (pos < text.size()) {
    std::size_t next = pos;
    const char32_t c = static_cast<unsigned char>(text[pos]) < 0x80
                           ? static_cast<unsigned char>(text[next++])
                           : vcd::unicode::decode_at(text, next);
    const bool space = vcd::unicode::is_white_space(c);
    if (space && start != std::string_view::npos) {
      tokens.push_back({text.substr(start, pos - start), pos});
      start = std::string_view::npos;
    } else if (!space && start == std::string_view::npos) {
      start = pos;
    }
    pos = next;
  }
  if (start != std::string_view::npos) tokens.push_back({text.substr(start), text.size()});
  return tokens;
}

// Writes `line` (terminator included) rebuilt to `out` when it declares a
// scope on one line; false, writing nothing, when the line stays as it is.
bool rebuild_scope_line(std::string_view line, std::string& out) {
  // Most lines start with a printable ASCII character other than "$" or with
  // "$var": nothing to trim, and no scope.
  const auto first = static_cast<unsigned char>(line.empty() ? ' ' : line.front());
  if ((first > ' ' && first < 0x80 && first != '$') || line.starts_with("$var")) return false;
  const std::string_view stripped = vcd::unicode::trim_white_space(line);
  if (!stripped.starts_with("$scope ")) return false;
  // The stripped text starts where the leading whitespace ends.
  const std::size_t lead = static_cast<std::size_t>(stripped.data() - line.data());
  const std::string_view rest = line.substr(lead);
  const auto tokens = split_white_space(rest);
  if (tokens.size() < 4) return false;
  const std::string_view name = tokens[2].text;
  out += line.substr(0, lead);
  out += "$scope ";
  out += tokens[1].text;
  out += ' ';
  if (!name.starts_with('\\') && !is_plain_scope_name(name)) out += '\\';
  out += name;
  out += " $end";
  // Declarations written after the scope's own $end on the same line are
  // kept as written.
  const auto end = std::find_if(tokens.begin() + 3, tokens.end(),
                                [](const Token& t) { return t.text == "$end"; });
  if (end != tokens.end() && end + 1 != tokens.end()) {
    std::string_view after = rest.substr(end->end);
    if (after.ends_with('\n') || after.ends_with('\r')) after.remove_suffix(1);
    out += after;
  }
  // The line's own terminator is kept: dropping a bare CR would glue the next
  // line's first token onto this $end.
  if (line.ends_with('\n') || line.ends_with('\r')) out += line.back();
  return true;
}

// Appends "[{}]" or "[{}:{}]".
void append_index(std::string& out, const vcd::ReferenceIndex& index) {
  std::array<char, 12> digits{};  // any signed 32-bit number
  const auto append_number = [&](std::int32_t number) {
    out.append(digits.data(),
               std::to_chars(digits.data(), digits.data() + digits.size(), number).ptr);
  };
  out += '[';
  if (const auto* bit = std::get_if<vcd::BitSelect>(&index)) {
    append_number(bit->index);
  } else {
    const auto& range = std::get<vcd::Range>(index);
    append_number(range.msb);
    out += ':';
    append_number(range.lsb);
  }
  out += ']';
}

// Builds the full name of every variable while the declarations are read.
struct NameBuilder {
  ParsedHeader& parsed;
  std::string prefix;                     // the open scopes, each followed by "."
  std::vector<std::size_t> prefix_sizes;  // the prefix's size before each open scope

  void scope(const vcd::cmd::ScopeDecl& decl) {
    prefix_sizes.push_back(prefix.size());
    prefix += decl.name;
    prefix += '.';
  }
  void upscope() {
    prefix.resize(prefix_sizes.back());
    prefix_sizes.pop_back();
  }
  void var(const vcd::cmd::VarDecl& decl) {
    std::string& text = parsed.names.text;
    text += prefix;
    text += decl.reference;
    if (decl.reference_index) append_index(text, *decl.reference_index);
    parsed.names.ends.push_back(text.size());
    parsed.declarations.push_back(Declaration{decl.id_code, decl.width, decl.var_type});
  }
  void timescale(const vcd::Timescale& value) { parsed.timescale = value; }
  void comment(std::string_view /*text*/) {}
  void date(std::string_view /*text*/) {}
  void version(std::string_view /*text*/) {}
};

}  // namespace

Result<HeaderBytes> read_header_bytes(const std::string& path, const vcd::Interrupt* interrupt) {
  auto file = vcd::File::open_read(path, interrupt);
  if (!file) return std::unexpected(VcdError::io(file.error()));
  HeaderBytes header{{}, 0};
  std::string& bytes = header.bytes;
  // The marker line is the line of the marker's first occurrence; once that
  // is found, only its line feed is looked for.
  std::size_t search_from = 0;
  std::size_t marker = std::string::npos;
  for (;;) {
    if (vcd::interrupt_requested(interrupt)) {
      return std::unexpected(VcdError::io(vcd::ReaderError::interrupted()));
    }
    const std::size_t old_size = bytes.size();
    bytes.resize(old_size + kReadBlock);
    auto got = file->read(reinterpret_cast<unsigned char*>(bytes.data() + old_size), kReadBlock,
                          interrupt);
    if (!got) return std::unexpected(VcdError::io(got.error()));
    bytes.resize(old_size + *got);
    if (*got == 0) {
      // The marker line has no line feed, or there is no marker at all.
      if (marker != std::string::npos) break;
      return std::unexpected(VcdError{VcdError::Kind::MissingEndDefinitions, {}});
    }
    if (marker == std::string::npos) {
      marker = find_bytes(bytes, search_from, kMarker);
      if (marker == bytes.size()) marker = std::string::npos;
      // A marker may straddle this block and the next.
      search_from = bytes.size() - std::min(bytes.size(), kMarker.size() - 1);
    }
    if (marker != std::string::npos) {
      const std::size_t from = std::max(marker, old_size);
      const void* lf = std::memchr(bytes.data() + from, '\n', bytes.size() - from);
      if (lf != nullptr) {
        bytes.resize(static_cast<std::size_t>(static_cast<const char*>(lf) - bytes.data()) + 1);
        break;
      }
    }
  }
  header.body_offset = bytes.size();
  return header;
}

std::string_view normalize_scope_lines(std::string_view text, std::string& storage) {
  // Only a line that holds "$scope " can change: find those and skip the
  // others whole. A carriage return ends a line too.
  const auto ends_line = [](char c) { return c == '\n' || c == '\r'; };
  storage.clear();
  std::string rebuilt;
  std::size_t copied = 0;  // once `storage` is in use, text before this is in it
  bool rewritten = false;
  for (std::size_t from = 0;;) {
    const std::size_t found = find_bytes(text, from, "$scope ");
    if (found == text.size()) break;
    std::size_t start = found;
    while (start != 0 && !ends_line(text[start - 1])) --start;
    std::size_t end = found;
    while (end != text.size() && !ends_line(text[end])) ++end;
    if (end != text.size()) ++end;
    from = end;
    const std::string_view line = text.substr(start, end - start);
    rebuilt.clear();
    if (!rebuild_scope_line(line, rebuilt) || rebuilt == line) continue;
    if (!rewritten) storage.reserve(text.size() + text.size() / 8);
    rewritten = true;
    storage.append(text.substr(copied, start - copied));
    storage += rebuilt;
    copied = end;
  }
  if (!rewritten) return text;
  storage.append(text.substr(copied));
  return storage;
}

Result<ParsedHeader> parse_header_from_bytes(std::string_view bytes) {
  // Valid UTF-8, the usual case, is read where it lies.
  const bool valid = vcd::unicode::is_valid_utf8(bytes);
  const std::string decoded_storage = valid ? std::string() : vcd::unicode::to_utf8_lossy(bytes);
  const std::string_view decoded = valid ? bytes : std::string_view(decoded_storage);
  std::string normalized_storage;
  const std::string_view text = normalize_scope_lines(decoded, normalized_storage);

  vcd::Parser<vcd::MemorySource> parser{vcd::MemorySource(text)};
  ParsedHeader parsed{{}, {}, std::nullopt, 0};
  // The names take about as many bytes as their declarations.
  parsed.names.text.reserve(text.size());
  NameBuilder builder{parsed, {}, {}};
  if (auto read = vcd::read_declarations(parser, builder); !read) {
    return std::unexpected(VcdError::parse(read.error()));
  }

  // Locate in the file bytes what the parser left unread. That text was
  // copied unchanged by the normalisation, so it ends the decoded text too.
  const std::string_view unread = text.substr(parser.source().offset_of(parser.cursor()));
  const bool only_whitespace =
      std::all_of(unread.begin(), unread.end(), [](char c) { return vcd::is_whitespace(c); });
  if (!only_whitespace && decoded.ends_with(unread)) {
    parsed.unread_bytes = valid ? unread.size()
                                : bytes.size() - vcd::unicode::lossy_source_offset(
                                                     bytes, decoded.size() - unread.size());
  }
  return parsed;
}

}  // namespace quarnel

#include "src/lib/header_pass.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

#include "vcd/byte_source.hpp"
#include "vcd/file.hpp"
#include "vcd/unicode.hpp"

namespace quarnel {

namespace {

constexpr std::string_view kMarker = "$enddefinitions";
constexpr std::size_t kReadBlock = std::size_t{1} << 16;

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
    const bool space = vcd::unicode::is_white_space(vcd::unicode::decode_at(text, next));
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

// Appends `line` (terminator included) to `out`, rebuilt when it declares a
// scope on one line.
void normalize_line(std::string_view line, std::string& out) {
  // Most lines start with a printable ASCII character other than "$" or with
  // "$var": nothing to trim, and no scope.
  const auto first = static_cast<unsigned char>(line.empty() ? ' ' : line.front());
  if ((first > ' ' && first < 0x80 && first != '$') || line.starts_with("$var")) {
    out += line;
    return;
  }
  const std::string_view stripped = vcd::unicode::trim_white_space(line);
  if (!stripped.starts_with("$scope ")) {
    out += line;
    return;
  }
  // The stripped text starts where the leading whitespace ends.
  const std::size_t lead = static_cast<std::size_t>(stripped.data() - line.data());
  const std::string_view rest = line.substr(lead);
  const auto tokens = split_white_space(rest);
  if (tokens.size() < 4) {
    out += line;
    return;
  }
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
}

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
      marker = std::string_view(bytes).find(kMarker, search_from);
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

std::string normalize_scope_lines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    // A carriage return ends a line too.
    const void* cr = std::memchr(text.data() + start, '\r', end - start);
    if (cr != nullptr) end = static_cast<std::size_t>(static_cast<const char*>(cr) - text.data()) + 1;
    normalize_line(text.substr(start, end - start), out);
    start = end;
  }
  return out;
}

void collect_signals(const std::vector<vcd::ScopeItem>& items, std::vector<std::string>& scope_stack,
                     std::vector<Signal>& signals) {
  // Walks the tree with an explicit stack, so any nesting depth is fine.
  struct Frame {
    const std::vector<vcd::ScopeItem>* items;
    std::size_t next;
    std::size_t prefix_size;
  };
  std::string prefix;
  for (const auto& scope : scope_stack) {
    prefix += scope;
    prefix += '.';
  }
  std::vector<Frame> frames{{&items, 0, prefix.size()}};
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.items->size()) {
      frames.pop_back();
      if (!frames.empty()) {
        scope_stack.pop_back();
        prefix.resize(frames.back().prefix_size);
      }
      continue;
    }
    const vcd::ScopeItem& item = (*frame.items)[frame.next++];
    if (const auto* scope = std::get_if<vcd::Scope>(&item.item)) {
      scope_stack.push_back(scope->identifier);
      prefix += scope->identifier;
      prefix += '.';
      frames.push_back({&scope->children, 0, prefix.size()});
    } else if (const auto* var = std::get_if<vcd::Var>(&item.item)) {
      std::string name = prefix;
      name += var->reference;
      if (var->reference_index) name += vcd::to_text(*var->reference_index);
      signals.push_back(Signal{std::move(name), var->id_code, var->width, var->var_type});
    }
  }
}

Result<ParsedHeader> parse_header_from_bytes(std::string_view bytes) {
  const std::string decoded = vcd::unicode::to_utf8_lossy(bytes);
  const std::string text = normalize_scope_lines(decoded);
  vcd::Parser<vcd::MemorySource> parser{vcd::MemorySource(text)};
  auto header = vcd::parse_header(parser);
  if (!header) return std::unexpected(VcdError::parse(header.error()));
  ParsedHeader parsed{{}, header->timescale, 0};
  std::vector<std::string> scope_stack;
  collect_signals(header->items, scope_stack, parsed.signals);

  // Locate in the file bytes what the parser left unread. That text was
  // copied unchanged by the normalisation, so it ends the decoded text too.
  const std::string_view unread =
      std::string_view(text).substr(parser.source().offset_of(parser.cursor()));
  const bool only_whitespace =
      std::all_of(unread.begin(), unread.end(), [](char c) { return vcd::is_whitespace(c); });
  if (!only_whitespace && std::string_view(decoded).ends_with(unread)) {
    parsed.unread_bytes =
        bytes.size() - vcd::unicode::lossy_source_offset(bytes, decoded.size() - unread.size());
  }
  return parsed;
}

Result<vcd::File> open_body(const std::string& path, std::uint64_t body_offset,
                            const vcd::Interrupt* interrupt) {
  auto file = vcd::File::open_read(path, interrupt);
  if (!file) return std::unexpected(VcdError::io(file.error()));
  const auto size = file->regular_size();
  if (size && *size < body_offset) {
    return std::unexpected(VcdError::io(vcd::ReaderError::eof(vcd::kEofInCommand)));
  }
  if (auto seek = file->seek(body_offset); !seek) return std::unexpected(VcdError::io(seek.error()));
  return std::move(*file);
}

Result<HeaderInfo> read_signals_with_offset(const std::string& path,
                                            const vcd::Interrupt* interrupt) {
  auto header = read_header_bytes(path, interrupt);
  if (!header) return std::unexpected(std::move(header.error()));
  auto parsed = parse_header_from_bytes(header->bytes);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  auto index = SignalIndex::build(parsed->signals);
  if (!index) return std::unexpected(std::move(index.error()));

  // Value changes written on the marker line after "$enddefinitions $end"
  // are read from just after the whitespace byte that ends that $end.
  const std::uint64_t body_offset = header->body_offset - parsed->unread_bytes;
  return HeaderInfo{std::move(parsed->signals), parsed->timescale, std::move(*index), body_offset};
}

}  // namespace quarnel

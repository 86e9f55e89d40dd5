#include "vcd/scope_lines.hpp"

#include <algorithm>
#include <vector>

#include "vcd/unicode.hpp"
#include "vcd/word_scan.hpp"

namespace vcd {

namespace {

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
                           : unicode::decode_at(text, next);
    const bool space = unicode::is_white_space(c);
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
  const std::string_view stripped = unicode::trim_white_space(line);
  if (!stripped.starts_with("$scope ")) return false;
  // The stripped text starts where the leading whitespace ends.
  const std::size_t lead = static_cast<std::size_t>(stripped.data() - line.data());
  const std::string_view rest = line.substr(lead);
  const auto tokens = split_white_space(rest);
  if (tokens.size() < 4) return false;
  // The words between the name and the scope's own $end are dropped, unless
  // one of them begins a command, as in "$scope module $end $var ... $end"
  // (a scope without a name) or "$scope module top $var ... $end": then the
  // line stays as written, for the reader to take or refuse whole.
  const auto end = std::find_if(tokens.begin() + 3, tokens.end(),
                                [](const Token& t) { return t.text == "$end"; });
  if (std::any_of(tokens.begin() + 3, end, [](const Token& t) { return t.text.starts_with('$'); }))
    return false;
  const std::string_view name = tokens[2].text;
  out += line.substr(0, lead);
  out += "$scope ";
  out += tokens[1].text;
  out += ' ';
  if (scope_name_needs_backslash(name)) out += '\\';
  out += name;
  out += " $end";
  // Declarations written after the scope's own $end on the same line are
  // kept as written.
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

}  // namespace

bool scope_name_needs_backslash(std::string_view name) {
  return !name.starts_with('\\') && !is_plain_scope_name(name);
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
    const std::size_t found = detail::find_bytes(text, from, "$scope ");
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

}  // namespace vcd

// The declaration section of a VCD file as a tree of scopes and variables.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "vcd/parser.hpp"

namespace vcd {

struct ScopeItem;

struct Scope {
  ScopeType scope_type;
  std::string identifier;
  std::vector<ScopeItem> children;

  Scope(ScopeType type, std::string name);
  Scope(Scope&&) noexcept;
  Scope& operator=(Scope&&) noexcept;
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
  // Tears nested scopes down without recursion, however deep they go.
  ~Scope();
};

struct Var {
  VarType var_type = VarType::Wire;
  std::uint32_t width = 0;
  IdCode id_code{0};
  std::string reference;
  std::optional<ReferenceIndex> reference_index;
};

struct Comment {
  std::string text;
};

struct ScopeItem {
  std::variant<Scope, Var, Comment> item;
};

struct Header {
  std::vector<ScopeItem> items;
  std::optional<std::string> date;
  std::optional<std::string> version;
  std::optional<Timescale> timescale;
};

namespace detail {

inline Var to_var(const cmd::VarDecl& decl) {
  return Var{decl.var_type, decl.width, decl.id_code, std::string(decl.reference),
             decl.reference_index};
}

}  // namespace detail

// Reads the inside of a scope whose $scope command has just been read, up to
// its $upscope. Nested scopes are kept on an explicit stack, so any depth
// parses without deepening the call stack.
template <class Source>
Result<Scope> parse_scope(Parser<Source>& parser, ScopeType scope_type, std::string_view identifier) {
  std::vector<Scope> open;
  open.emplace_back(scope_type, std::string(identifier));
  for (;;) {
    auto command = parser.next();
    if (!command) return std::unexpected(std::move(command.error()));
    if (!*command) return std::unexpected(ReaderError::eof(kEofInScope));
    auto& children = open.back().children;
    if (const auto* comment = std::get_if<cmd::Comment>(&**command)) {
      children.push_back(ScopeItem{Comment{std::string(comment->text)}});
    } else if (const auto* scope = std::get_if<cmd::ScopeDecl>(&**command)) {
      open.emplace_back(scope->scope_type, std::string(scope->name));
    } else if (const auto* var = std::get_if<cmd::VarDecl>(&**command)) {
      children.push_back(ScopeItem{detail::to_var(*var)});
    } else if (std::holds_alternative<cmd::Upscope>(**command)) {
      Scope done = std::move(open.back());
      open.pop_back();
      if (open.empty()) return done;
      open.back().children.push_back(ScopeItem{std::move(done)});
    } else {
      return parser.fail(ParseErrorKind::UnexpectedHeaderCommand);
    }
  }
}

// Reads commands up to and including $enddefinitions. Nothing behind the
// $end of $enddefinitions and the whitespace byte after it is read.
template <class Source>
Result<Header> parse_header(Parser<Source>& parser) {
  Header header;
  for (;;) {
    auto command = parser.next();
    if (!command) return std::unexpected(std::move(command.error()));
    if (!*command) return std::unexpected(ReaderError::eof(kEofBeforeEndDefinitions));
    Command& c = **command;
    if (const auto* comment = std::get_if<cmd::Comment>(&c)) {
      header.items.push_back(ScopeItem{Comment{std::string(comment->text)}});
    } else if (const auto* date = std::get_if<cmd::Date>(&c)) {
      header.date = std::string(date->text);
    } else if (const auto* version = std::get_if<cmd::Version>(&c)) {
      header.version = std::string(version->text);
    } else if (const auto* timescale = std::get_if<cmd::Timescale>(&c)) {
      header.timescale = timescale->value;
    } else if (const auto* scope = std::get_if<cmd::ScopeDecl>(&c)) {
      // The name lives in the parser's storage: copy it before reading on.
      const std::string name(scope->name);
      auto parsed = parse_scope(parser, scope->scope_type, name);
      if (!parsed) return std::unexpected(std::move(parsed.error()));
      header.items.push_back(ScopeItem{std::move(*parsed)});
    } else if (const auto* var = std::get_if<cmd::VarDecl>(&c)) {
      header.items.push_back(ScopeItem{detail::to_var(*var)});
    } else if (std::holds_alternative<cmd::EndDefinitions>(c)) {
      return header;
    } else {
      return parser.fail(ParseErrorKind::UnexpectedHeaderCommand);
    }
  }
}

}  // namespace vcd

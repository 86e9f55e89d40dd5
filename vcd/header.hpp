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

// Reads commands up to and including $enddefinitions and hands the
// declarations to `visitor` in file order: comment(text), date(text),
// version(text), timescale(value), scope(const cmd::ScopeDecl&), upscope(),
// var(const cmd::VarDecl&). Texts live until the next read. $date, $version
// and $timescale are taken only outside every scope, $upscope only inside
// one, $enddefinitions only outside. Nesting is counted, not recursed into,
// so any depth is fine. Nothing behind the $end of $enddefinitions and the
// whitespace byte after it is read.
template <class Source, class Visitor>
Result<void> read_declarations(Parser<Source>& parser, Visitor& visitor) {
  std::size_t depth = 0;
  for (;;) {
    auto command = parser.next_slow();
    if (!command) return std::unexpected(std::move(command.error()));
    if (!*command)
      return std::unexpected(ReaderError::eof(depth == 0 ? kEofBeforeEndDefinitions : kEofInScope));
    const Command& c = **command;
    if (const auto* var = std::get_if<cmd::VarDecl>(&c)) {
      visitor.var(*var);
    } else if (const auto* scope = std::get_if<cmd::ScopeDecl>(&c)) {
      ++depth;
      visitor.scope(*scope);
    } else if (std::holds_alternative<cmd::Upscope>(c) && depth != 0) {
      --depth;
      visitor.upscope();
    } else if (const auto* comment = std::get_if<cmd::Comment>(&c)) {
      visitor.comment(comment->text);
    } else if (depth != 0) {
      return parser.fail(ParseErrorKind::UnexpectedHeaderCommand);
    } else if (const auto* date = std::get_if<cmd::Date>(&c)) {
      visitor.date(date->text);
    } else if (const auto* version = std::get_if<cmd::Version>(&c)) {
      visitor.version(version->text);
    } else if (const auto* timescale = std::get_if<cmd::Timescale>(&c)) {
      visitor.timescale(timescale->value);
    } else if (std::holds_alternative<cmd::EndDefinitions>(c)) {
      return {};
    } else {
      return parser.fail(ParseErrorKind::UnexpectedHeaderCommand);
    }
  }
}

// The declarations as a tree.
template <class Source>
Result<Header> parse_header(Parser<Source>& parser) {
  struct TreeBuilder {
    Header header;
    std::vector<Scope> open;  // the scopes entered and not yet left, outermost first

    std::vector<ScopeItem>& items() { return open.empty() ? header.items : open.back().children; }
    void comment(std::string_view text) {
      items().push_back(ScopeItem{Comment{std::string(text)}});
    }
    void date(std::string_view text) { header.date = std::string(text); }
    void version(std::string_view text) { header.version = std::string(text); }
    void timescale(const Timescale& value) { header.timescale = value; }
    void scope(const cmd::ScopeDecl& decl) {
      open.emplace_back(decl.scope_type, std::string(decl.name));
    }
    void upscope() {
      Scope done = std::move(open.back());
      open.pop_back();
      items().push_back(ScopeItem{std::move(done)});
    }
    void var(const cmd::VarDecl& decl) {
      items().push_back(ScopeItem{Var{decl.var_type, decl.width, decl.id_code,
                                      std::string(decl.reference), decl.reference_index}});
    }
  };
  TreeBuilder builder;
  auto done = read_declarations(parser, builder);
  if (!done) return std::unexpected(std::move(done.error()));
  return std::move(builder.header);
}

}  // namespace vcd

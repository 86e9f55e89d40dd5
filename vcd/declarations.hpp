// The declaration section: which commands it accepts where, handed to a
// visitor in file order.
#pragma once

#include <cstddef>
#include <variant>

#include "vcd/parser.hpp"

namespace vcd {

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

}  // namespace vcd

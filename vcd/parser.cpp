#include "vcd/parser.hpp"

#include <utility>

namespace vcd {

std::optional<Keyword> find_keyword(std::string_view text) {
  static constexpr std::pair<std::string_view, Keyword> kKeywords[] = {
      {"comment", Keyword::Comment},
      {"date", Keyword::Date},
      {"version", Keyword::Version},
      {"timescale", Keyword::Timescale},
      {"scope", Keyword::Scope},
      {"upscope", Keyword::Upscope},
      {"var", Keyword::Var},
      {"enddefinitions", Keyword::EndDefinitions},
      {"dumpall", Keyword::Dumpall},
      {"dumpoff", Keyword::Dumpoff},
      {"dumpon", Keyword::Dumpon},
      {"dumpvars", Keyword::Dumpvars},
      {"end", Keyword::End},
  };
  for (const auto& [word, keyword] : kKeywords) {
    if (word == text) return keyword;
  }
  return std::nullopt;
}

}  // namespace vcd

// The rewriting of "$scope" lines that gives unusual scope names a leading
// backslash before the declarations are read.
#pragma once

#include <string>
#include <string_view>

namespace vcd {

// Whether the reader gives the scope name `name` a leading backslash.
bool scope_name_needs_backslash(std::string_view name);

// Rewrites "$scope" lines so that unusual scope names get a leading
// backslash; every other line is copied unchanged. Returns `text` itself
// when no line changes, else the rewritten text, held in `storage`.
std::string_view normalize_scope_lines(std::string_view text, std::string& storage);

}  // namespace vcd

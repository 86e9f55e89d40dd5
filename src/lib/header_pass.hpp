// The header pass shared by every operation: read the declaration section,
// find where the value changes begin, and name every declared variable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/file.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

struct HeaderBytes {
  std::string bytes;          // every line up to and including the marker line
  std::uint64_t body_offset;  // equals bytes.size()
};

// Copies the file's lines up to the first one that holds "$enddefinitions".
// `interrupt` (may be null) is asked before every block read: a file without
// the marker that never ends (a device, a pipe) can be stopped.
Result<HeaderBytes> read_header_bytes(const std::string& path,
                                      const vcd::Interrupt* interrupt = nullptr);

// Rewrites "$scope" lines so that unusual scope names get a leading
// backslash; every other line is copied unchanged. Returns `text` itself
// when no line changes, else the rewritten text, held in `storage`.
std::string_view normalize_scope_lines(std::string_view text, std::string& storage);

// What the header pass keeps of one $var command besides its name.
struct Declaration {
  vcd::IdCode id_code;
  std::uint32_t width;
  vcd::VarType var_type;
};

struct ParsedHeader {
  SignalNames names;                      // one per $var, in file order
  std::vector<Declaration> declarations;  // alongside `names`
  std::optional<vcd::Timescale> timescale;
  // How many bytes at the end of the header bytes the parser did not read:
  // what follows the whitespace byte that ends the $end of $enddefinitions
  // on the marker line, when that holds more than whitespace; else 0.
  std::size_t unread_bytes;
};

Result<ParsedHeader> parse_header_from_bytes(std::string_view bytes);

}  // namespace quarnel

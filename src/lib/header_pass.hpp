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
#include "vcd/header_bytes.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

using vcd::HeaderBytes;

// The reader's marker scan (vcd::scan_header_bytes), its errors as the core's.
Result<HeaderBytes> read_header_bytes(const std::string& path,
                                      const vcd::Interrupt* interrupt = nullptr);

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

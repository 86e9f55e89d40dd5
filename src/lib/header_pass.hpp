// The header pass shared by every operation: read the declaration section,
// find where the value changes begin, and name every declared variable.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/signal_index.hpp"
#include "src/lib/vcd_error.hpp"
#include "vcd/header_source.hpp"

namespace quarnel {

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
  std::uint64_t body_offset;  // where the value-change section begins
  // The file, for reading the body on, when it cannot be opened again.
  std::unique_ptr<vcd::FileRest> rest;
  std::shared_ptr<const vcd::fst::Reader> fst;  // for an FST file
};

// Reads the file's lines up to the first one that holds "$enddefinitions",
// as a stream, and parses them in the context's dialect, asking its
// interrupt before every read. The extended dialect keeps one declaration of
// a name declared again with the same identifier code, and reads an FST file
// (told by its first bytes) through its hierarchy, each signal's handle
// standing for an identifier code.
Result<ParsedHeader> read_header(const std::string& path, const CallContext& context = {});

// The header pass of an analysis: read_header, then every declared variable
// named and indexed.
Result<Dump> open_dump(const std::string& path, const CallContext& context = {});

}  // namespace quarnel

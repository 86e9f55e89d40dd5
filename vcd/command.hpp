// The commands of a VCD file, as the command reader hands them out.
#pragma once

#include <cstdint>
#include <string_view>
#include <variant>

#include "vcd/idcode.hpp"
#include "vcd/scope.hpp"
#include "vcd/timescale.hpp"
#include "vcd/value.hpp"
#include "vcd/var.hpp"

namespace vcd {

enum class SimulationCommand : std::uint8_t { Dumpall, Dumpoff, Dumpon, Dumpvars };

// Texts in commands point into the parser's own storage and stay valid until
// the parser's next read; whoever keeps one copies it.
namespace cmd {
struct Comment { std::string_view text; };
struct Date { std::string_view text; };
struct Version { std::string_view text; };
struct Timescale { vcd::Timescale value; };
struct ScopeDecl { ScopeType scope_type; std::string_view name; };
struct Upscope {};
struct VarDecl {
  VarType var_type;
  std::uint32_t width;
  IdCode id_code;
  std::string_view reference;
  std::optional<ReferenceIndex> reference_index;
};
struct EndDefinitions {};
struct Timestamp { std::uint64_t time; };
// A value change of any kind: the kind is the value's, so visitors hand the
// value on whole and a new kind passes them by.
struct Change { IdCode id_code; ChangeView value; };
struct SimulationBegin { SimulationCommand command; };
struct SimulationEnd { SimulationCommand command; };
}  // namespace cmd

using Command = std::variant<cmd::Comment, cmd::Date, cmd::Version, cmd::Timescale, cmd::ScopeDecl,
                             cmd::Upscope, cmd::VarDecl, cmd::EndDefinitions, cmd::Timestamp,
                             cmd::Change, cmd::SimulationBegin, cmd::SimulationEnd>;

}  // namespace vcd

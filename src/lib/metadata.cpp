#include "src/lib/metadata.hpp"

#include <type_traits>

#include "src/lib/header_pass.hpp"
#include "vcd/byte_source.hpp"
#include "vcd/file.hpp"
#include "vcd/parser.hpp"

namespace quarnel {

Result<VcdMetadata> read_vcd_metadata(const std::string& path, const vcd::Interrupt* interrupt) {
  auto header = read_signals_with_offset(path, interrupt);
  if (!header) return std::unexpected(std::move(header.error()));
  auto file = open_body(path, header->body_offset, interrupt);
  if (!file) return std::unexpected(std::move(file.error()));
  vcd::Parser<vcd::FileSource> parser{vcd::FileSource(std::move(*file), interrupt)};
  std::uint64_t current_time = 0;
  std::optional<std::uint64_t> start_time;
  auto read = parser.for_each_command([&](const auto& command) {
    using C = std::decay_t<decltype(command)>;
    if constexpr (std::is_same_v<C, vcd::cmd::Timestamp>) {
      current_time = command.time;
      if (!start_time) start_time = current_time;
    } else if constexpr (std::is_same_v<C, vcd::cmd::ScalarChange> ||
                         std::is_same_v<C, vcd::cmd::VectorChange> ||
                         std::is_same_v<C, vcd::cmd::RealChange> ||
                         std::is_same_v<C, vcd::cmd::StringChange>) {
      if (!start_time) start_time = current_time;
    }
    return true;
  });
  if (!read) return std::unexpected(VcdError::io(read.error()));
  return VcdMetadata{header->signals.size(), start_time.value_or(0), current_time,
                     header->timescale};
}

}  // namespace quarnel

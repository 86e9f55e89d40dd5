#include "src/lib/metadata.hpp"

#include "src/lib/body_walker.hpp"
#include "src/lib/header_pass.hpp"

namespace quarnel {

namespace {

// The first timestamp or change, and the last timestamp.
struct TimeSpan {
  std::uint64_t current = 0;
  std::optional<std::uint64_t> start;

  void timestamp(std::uint64_t time) {
    current = time;
    if (!start) start = time;
  }
  static bool wanted(vcd::IdCode /*code*/) { return true; }
  template <class C>
  bool change(std::uint64_t time, const C& /*command*/, bool /*wanted*/) {
    if (!start) start = time;
    return true;
  }
};

}  // namespace

Result<VcdMetadata> read_vcd_metadata(const std::string& path, const vcd::Interrupt* interrupt,
                                      vcd::Dialect dialect) {
  auto dump = open_dump(path, interrupt, dialect);
  if (!dump) return std::unexpected(std::move(dump.error()));
  TimeSpan span;
  auto read = walk_body(*dump, Window{}, span, interrupt);
  if (!read) return std::unexpected(std::move(read.error()));
  return VcdMetadata{dump->signals.size(), span.start.value_or(0), span.current, dump->timescale};
}

}  // namespace quarnel

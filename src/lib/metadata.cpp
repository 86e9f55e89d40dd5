#include "src/lib/metadata.hpp"

#include <span>

#include "src/lib/body_index.hpp"
#include "src/lib/body_walker.hpp"
#include "src/lib/header_pass.hpp"

namespace quarnel {

namespace {

// Wants no change: the walker notes the times itself.
struct NoChanges {
  // Wanting none, it takes them in any order: an FST dump's blocks are
  // then not walked time by time.
  struct Signal {
    static bool change(std::uint64_t /*time*/, const vcd::ChangeView& /*value*/) { return true; }
    static bool packed_bits(std::uint64_t /*time*/, std::span<const unsigned char> /*packed*/,
                            std::uint32_t /*bits*/) {
      return true;
    }
  };
  static Signal signal(bool /*wanted*/) { return {}; }
  static bool wanted(vcd::IdCode /*code*/) { return false; }
  static bool change(std::uint64_t /*time*/, const vcd::cmd::Change& /*command*/, bool /*wanted*/) {
    return true;
  }
};

}  // namespace

Result<VcdMetadata> read_vcd_metadata(const std::string& path, const CallContext& context) {
  auto dump = open_dump(path, context);
  if (!dump) return std::unexpected(std::move(dump.error()));
  // An index of the whole dump has read it already.
  if (auto loaded = load_index(*dump, context, IndexPart::Summary); loaded && !loaded->grown) {
    const BodyIndex& index = loaded->index;
    if (index.error) return std::unexpected(*index.error);
    return VcdMetadata{dump->signals.size(), index.first_time, index.last_time, dump->timescale};
  }
  NoChanges none;
  auto read = walk_body(*dump, Window{}, none, context);
  if (!read) return std::unexpected(std::move(read.error()));
  return VcdMetadata{dump->signals.size(), read->times.first, read->times.last.value_or(0),
                     dump->timescale};
}

}  // namespace quarnel

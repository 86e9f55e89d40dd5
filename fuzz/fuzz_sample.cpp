// Sampling at clock edges behind a fixed header: each row must hold what
// values_at gives at the tick before the edge (or, with `after`, at the
// edge), for plain signals and for a bus dumped one bit per variable, and
// the rows must be the same when the body is read in pieces on threads.
//
// Input: one control byte (bit 0: after; bits 1-2: the edge kind), then the
// body.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_file.hpp"
#include "src/lib/body_walker.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/change_value.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/sample.hpp"
#include "src/lib/value_at.hpp"

namespace {

constexpr std::string_view kHeader =
    "$scope module t $end\n$var wire 1 ! clk $end\n$var wire 4 # v $end\n"
    "$var real 1 % r $end\n$var wire 1 & q [1] $end\n$var wire 1 ' q [0] $end\n"
    "$upscope $end\n$enddefinitions $end\n";

struct Row {
  std::uint64_t cycle;
  std::uint64_t time;
  std::vector<std::optional<std::string>> values;
  bool operator==(const Row&) const = default;
};

std::optional<std::vector<Row>> sampled(const std::string& path,
                                        const std::vector<std::string>& signals,
                                        const quarnel::SampleOptions& options,
                                        const quarnel::CallContext& context) {
  std::vector<Row> rows;
  const quarnel::SampleSink sink = [&](std::uint64_t cycle, std::uint64_t time,
                                       const std::vector<const quarnel::HeldChange*>& values) {
    Row& row = rows.emplace_back(Row{cycle, time, {}});
    for (const quarnel::HeldChange* value : values) {
      if (value->set)
        row.values.emplace_back(quarnel::display_text(quarnel::change_value(value->view())));
      else
        row.values.emplace_back();
    }
    return rows.size() < 40;
  };
  if (!quarnel::sample_at_edges(path, "t.clk", signals, options, sink, context)) return {};
  return rows;
}

// Notes whether the time of the body ever goes back: the value a signal
// holds at a time is then not what values_at reads.
struct TimeOrder {
  std::optional<std::uint64_t> last;
  bool goes_back = false;
  static bool wanted(vcd::IdCode /*code*/) { return false; }
  void timestamp(std::uint64_t time) {
    goes_back = goes_back || (last && time < *last);
    last = time;
  }
  static bool change(std::uint64_t /*time*/, const vcd::cmd::Change& /*command*/, bool /*w*/) {
    return true;
  }
};

bool time_goes_back(const std::string& path, const quarnel::CallContext& context) {
  auto dump = quarnel::open_dump(path, context);
  TimeOrder order;
  return !dump || !quarnel::walk_body(*dump, {}, order, context) || order.goes_back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  quarnel::SampleOptions options;
  options.after = (data[0] & 1) != 0;
  options.edge = static_cast<quarnel::ClockEdge>((data[0] >> 1) % 3);
  const quarnel::fuzz::MemoryFile file(
      std::string(kHeader) + std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  quarnel::CallContext context;
  context.dialect = vcd::Dialect::extended;
  context.buses = true;
  const std::vector<std::string> signals = {"t.v", "t.r", "t.q[1:0]", "t.q[0]"};
  const auto rows = sampled(file.path(), signals, options, context);
  if (!rows) return 0;
  quarnel::CallContext pieces = context;
  pieces.settings.threads = 4;
  pieces.settings.chunk_bytes = 16;
  FUZZ_CHECK(sampled(file.path(), signals, options, pieces) == rows);
  // Where time goes back, the value held at a time is not what value_at
  // reads.
  if (time_goes_back(file.path(), context)) return 0;
  for (const Row& row : *rows) {
    FUZZ_CHECK(options.after || row.time > 0);
    const auto held =
        quarnel::values_at(file.path(), signals, options.after ? row.time : row.time - 1, context);
    FUZZ_CHECK(held.has_value());
    for (std::size_t i = 0; i < signals.size(); ++i) {
      const auto& value = (*held)[i];
      FUZZ_CHECK(row.values[i] ==
                 (value ? std::optional(quarnel::display_text(*value)) : std::nullopt));
    }
  }
  return 0;
}

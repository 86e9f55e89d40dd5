// The FST reader on arbitrary bytes: the block scan, the hierarchy, the
// geometry, the position and time tables and the value-change data, through
// the header pass and the analyses that read every block and signal. A
// damaged file must fail with an I/O error; one that reads must agree with
// itself: its toggles, counted signal by signal, with those of its changes
// in time order. The FastLZ decoder also gets the input as a block of its own.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_file.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/change_value.hpp"
#include "src/lib/extract.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/metadata.hpp"
#include "src/lib/toggles.hpp"
#include "src/lib/value_equality.hpp"
#include "vcd/fastlz.hpp"

using quarnel::fuzz::MemoryFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  {
    std::vector<unsigned char> out(size * 3);
    vcd::fastlz_decode({data, size}, out);
  }
  const MemoryFile file(input);
  quarnel::CallContext context;
  context.dialect = vcd::Dialect::extended;
  context.settings.threads = 1 + static_cast<unsigned>(size % 3);  // the data unpacked on threads
  auto dump = quarnel::open_dump(file.path(), context);
  if (!dump) return 0;
  auto metadata = quarnel::read_vcd_metadata(file.path(), context);
  if (metadata) {
    FUZZ_CHECK(metadata->signal_count == dump->signals.size());
  } else {
    FUZZ_CHECK(metadata.error().kind == quarnel::VcdError::Kind::Io);
  }
  std::vector<std::string> names;
  for (const quarnel::Signal& signal : dump->signals) names.push_back(signal.name);
  // The whole dump, then a window that may cut its blocks.
  quarnel::Window window;
  for (int pass = 0; pass < 2; ++pass) {
    // Toggles recounted from the changes extracted, per request position.
    std::vector<std::optional<quarnel::ChangeValue>> last(names.size());
    std::vector<std::uint64_t> expected(names.size());
    const auto count = [&](const std::vector<std::uint32_t>& requests, std::uint64_t /*time*/,
                           const quarnel::ChangeView& view) {
      const quarnel::ChangeValue value = quarnel::change_value(view);
      for (const std::uint32_t request : requests) {
        if (last[request]) {
          const std::uint32_t width = dump->find(names[request])->width;
          expected[request] += !quarnel::same_toggle_value(*last[request], value, width);
        }
        last[request] = value;
      }
      return true;
    };
    auto read = quarnel::extract_changes(file.path(), names, window, count, context);
    auto toggles = quarnel::count_toggles(file.path(), names, window, context);
    FUZZ_CHECK(read.has_value() == toggles.has_value());
    if (!read) {
      FUZZ_CHECK(read.error().kind == quarnel::VcdError::Kind::Io);
      return 0;
    }
    FUZZ_CHECK(metadata.has_value());
    // A name given twice (a damaged hierarchy) is counted once.
    if (toggles->size() == names.size()) {
      for (std::size_t i = 0; i < names.size(); ++i)
        FUZZ_CHECK((*toggles)[i].second == expected[i]);
    }
    const std::uint64_t span = metadata->end_time - metadata->start_time;
    window = {metadata->start_time + span / 3 + size % 7, metadata->start_time + 2 * (span / 3)};
  }
  return 0;
}

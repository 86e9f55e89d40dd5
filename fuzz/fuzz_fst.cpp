// The FST reader on arbitrary bytes: the block scan, the hierarchy, the
// geometry, the position and time tables and the value-change data, through
// the header pass and the analyses that read every block and signal. A
// damaged file must fail with an I/O error; one that reads must agree with
// itself. The FastLZ decoder also gets the input as a block of its own.
#include <cstddef>
#include <cstdint>
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
  std::uint64_t changes = 0;
  const auto count = [&](const std::vector<std::uint32_t>& requests, std::uint64_t /*time*/,
                         const quarnel::ChangeView& view) {
    (void)quarnel::change_value(view);
    changes += requests.size();
    return true;
  };
  auto read = quarnel::extract_changes(file.path(), names, {}, count, context);
  auto toggles = quarnel::count_toggles(file.path(), names, {}, context);
  FUZZ_CHECK(read.has_value() == toggles.has_value());
  if (!read) {
    FUZZ_CHECK(read.error().kind == quarnel::VcdError::Kind::Io);
    return 0;
  }
  FUZZ_CHECK(metadata.has_value());
  std::uint64_t counted = 0;
  for (const auto& entry : *toggles) counted += entry.second;
  FUZZ_CHECK(counted <= changes);
  return 0;
}

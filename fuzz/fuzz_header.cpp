// The header pass on arbitrary bytes: the marker scan, the scope-line
// rewriting, the declaration parser and the signal index. What follows the
// header, if any, is streamed once; the extended dialect must agree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_file.hpp"
#include "src/lib/dump.hpp"
#include "src/lib/header_pass.hpp"
#include "src/lib/list_signals.hpp"
#include "src/lib/metadata.hpp"

using quarnel::fuzz::MemoryFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const MemoryFile file(input);

  auto header = quarnel::open_dump(file.path());
  auto names = quarnel::list_signals_from_file(file.path(), std::nullopt);
  FUZZ_CHECK(header.has_value() == names.has_value());
  if (!header) {
    FUZZ_CHECK(header.error().text() == names.error().text());
    return 0;
  }
  // The body begins at the latest after the line that holds the marker.
  const std::size_t marker = input.find("$enddefinitions");
  FUZZ_CHECK(marker != std::string_view::npos);
  const std::size_t line_feed = input.find('\n', marker);
  FUZZ_CHECK(header->body_offset <= (line_feed == std::string_view::npos ? size : line_feed + 1));
  FUZZ_CHECK(names->size() == header->signals.size());
  for (std::size_t i = 0; i < names->size(); ++i) {
    const quarnel::Signal& signal = header->signals[i];
    FUZZ_CHECK((*names)[i] == signal.name);
    FUZZ_CHECK(header->find(signal.name) == &signal);
  }
  auto metadata = quarnel::read_vcd_metadata(file.path());
  if (metadata) {
    FUZZ_CHECK(metadata->signal_count == header->signals.size());
  } else {
    FUZZ_CHECK(metadata.error().kind == quarnel::VcdError::Kind::Io);
  }
  auto extended = quarnel::open_dump(file.path(), {.dialect = vcd::Dialect::extended});
  FUZZ_CHECK(extended && extended->body_offset == header->body_offset &&
             extended->signals.size() == header->signals.size());
  for (std::size_t i = 0; i < header->signals.size(); ++i) {
    FUZZ_CHECK(extended->signals[i].name == header->signals[i].name &&
               extended->signals[i].id_code == header->signals[i].id_code);
  }
  return 0;
}

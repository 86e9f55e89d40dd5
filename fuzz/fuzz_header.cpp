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
#include "vcd/header_bytes.hpp"

using quarnel::fuzz::MemoryFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const MemoryFile file(input);

  auto bytes = vcd::scan_header_bytes(file.path(), nullptr);
  FUZZ_CHECK(bytes.has_value() ||
             bytes.error().kind == vcd::ReaderError::Kind::MissingEndDefinitions);
  if (bytes) {
    // A prefix of the file, ending with the line that holds the marker.
    FUZZ_CHECK(bytes->body_offset == bytes->bytes.size());
    FUZZ_CHECK(input.starts_with(bytes->bytes));
    const std::string_view text = bytes->bytes;
    const std::size_t last_line = text.substr(0, text.size() - 1).rfind('\n');
    const std::string_view line =
        text.substr(last_line == std::string_view::npos ? 0 : last_line + 1);
    FUZZ_CHECK(line.find("$enddefinitions") != std::string_view::npos);
    // The text the declarations are read from maps back into these bytes.
    const vcd::HeaderText header(text);
    FUZZ_CHECK(header.unread_bytes(0) <= text.size());
    FUZZ_CHECK(header.unread_bytes(header.text().size()) == 0);
  }

  auto header = quarnel::open_dump(file.path());
  auto names = quarnel::list_signals_from_file(file.path(), std::nullopt);
  FUZZ_CHECK(header.has_value() == names.has_value());
  if (!header) {
    FUZZ_CHECK(header.error().text() == names.error().text());
    return 0;
  }
  FUZZ_CHECK(bytes.has_value() && header->body_offset <= bytes->body_offset);
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
  auto extended = quarnel::open_dump(file.path(), nullptr, vcd::Dialect::extended);
  FUZZ_CHECK(extended && extended->body_offset == header->body_offset &&
             extended->signals.size() == header->signals.size());
  for (std::size_t i = 0; i < header->signals.size(); ++i) {
    FUZZ_CHECK(extended->signals[i].name == header->signals[i].name &&
               extended->signals[i].id_code == header->signals[i].id_code);
  }
  return 0;
}

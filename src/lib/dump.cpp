#include "src/lib/dump.hpp"

#include <utility>

#include "src/lib/header_pass.hpp"

namespace quarnel {

Result<Dump> open_dump(const std::string& path, const vcd::Interrupt* interrupt) {
  auto header = read_header_bytes(path, interrupt);
  if (!header) return std::unexpected(std::move(header.error()));
  auto parsed = parse_header_from_bytes(header->bytes);
  if (!parsed) return std::unexpected(std::move(parsed.error()));
  std::vector<Signal> signals;
  signals.reserve(parsed->declarations.size());
  for (std::size_t i = 0; i < parsed->declarations.size(); ++i) {
    const Declaration& d = parsed->declarations[i];
    signals.push_back(Signal{std::string(parsed->names[i]), d.id_code, d.width, d.var_type});
  }
  auto index = SignalIndex::build(signals);
  if (!index) return std::unexpected(std::move(index.error()));

  // Value changes written on the marker line after "$enddefinitions $end"
  // are read from just after the whitespace byte that ends that $end.
  const std::uint64_t body_offset = header->body_offset - parsed->unread_bytes;
  return Dump{path, std::move(signals), parsed->timescale, std::move(*index), body_offset};
}

}  // namespace quarnel

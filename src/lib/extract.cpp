#include "src/lib/extract.hpp"

namespace quarnel {

Result<RequestedStream> open_requested_stream(const std::string& path,
                                              const std::vector<std::string>& signals,
                                              std::optional<std::uint64_t> start,
                                              std::optional<std::uint64_t> end,
                                              VcdError::Kind missing_error,
                                              const vcd::Interrupt* interrupt) {
  auto header = read_signals_with_offset(path, interrupt);
  if (!header) return std::unexpected(std::move(header.error()));
  auto request = build_target_map(*header, signals);
  if (!request.missing.empty()) {
    return std::unexpected(VcdError{missing_error, join_names(request.missing)});
  }
  auto stream = open_value_stream(path, header->body_offset, signals, std::move(request.targets),
                                  start, end, interrupt);
  if (!stream) return std::unexpected(std::move(stream.error()));
  return RequestedStream{std::move(*header), std::move(*stream)};
}

Result<std::vector<TimeValue>> extract_time_values_from_file(
    const std::string& path, const std::vector<std::string>& signals,
    std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
    const vcd::Interrupt* interrupt) {
  std::vector<TimeValue> records;
  auto read = extract_time_values(
      path, signals, start, end,
      [&](TimeValue&& record) {
        records.push_back(std::move(record));
        return true;
      },
      interrupt);
  if (!read) return std::unexpected(std::move(read.error()));
  return records;
}

}  // namespace quarnel

#include "src/lib/change_batch_stream.hpp"

#include <functional>
#include <utility>

#include "src/lib/extract.hpp"

namespace quarnel {

std::unique_ptr<ChangeBatchStream> read_change_batches(std::string path,
                                                       std::vector<std::string> signals,
                                                       Window window, const CallContext& context,
                                                       BatchLimits limits) {
  std::vector<std::string> names = ChangeTableBuilder(signals, limits, nullptr).names();
  auto read = [path = std::move(path), signals = std::move(signals), window, limits](
                  const ChangeBatchStream::Deliver& deliver,
                  const CallContext& reading) -> Result<bool> {
    ChangeTableBuilder builder(signals, limits, deliver);
    auto read = extract_changes(path, signals, window, std::ref(builder), reading);
    if (!read) return read;
    if (builder.too_long()) return std::unexpected(value_too_long_error());
    return builder.finish();
  };
  return std::make_unique<ChangeBatchStream>(std::move(names), std::move(read), context);
}

}  // namespace quarnel

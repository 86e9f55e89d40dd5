// The batches of a table of changes, read while a consumer takes them
// (batch_stream.hpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "src/lib/batch_stream.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/change_table.hpp"
#include "src/lib/stretch_scan.hpp"

namespace quarnel {

using ChangeBatchStream = BatchStream<ChangeBatch>;

// Starts the read of the records of extract_changes(path, signals, window)
// into batches; the stream's names are those the signal column stands for,
// each once, in the order asked.
std::unique_ptr<ChangeBatchStream> read_change_batches(std::string path,
                                                       std::vector<std::string> signals,
                                                       Window window, const CallContext& context,
                                                       BatchLimits limits = {});

}  // namespace quarnel

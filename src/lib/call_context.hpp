// What the caller of an analysis decides besides its arguments: the dialect
// the files are read in, the hook that may stop the read, and how many
// threads read a body. The core takes them from here and nowhere else.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "src/lib/scan_settings.hpp"
#include "vcd/dialect.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

// Where the indexes of dumps are looked for (body_index.hpp), and where the
// reasons for ignoring one go.
struct IndexUse {
  std::string directory;                      // empty: beside each dump
  std::vector<std::string>* notes = nullptr;  // one line each; may be null
};

struct CallContext {
  vcd::Dialect dialect = vcd::Dialect::specified;
  // Asked before every read (may be null); must outlive the call.
  const vcd::Interrupt* interrupt = nullptr;
  ScanSettings settings;
  // None: every body is read from its start, and no index is looked for.
  std::optional<IndexUse> index = std::nullopt;
  // Whether buses dumped one bit per variable are also read whole (buses.hpp).
  bool buses = false;
};

using vcd::kInterruptPoll;

}  // namespace quarnel

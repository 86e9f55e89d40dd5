// What the caller of an analysis decides besides its arguments: the dialect
// the files are read in, the hook that may stop the read, and how many
// threads read a body. The core takes them from here and nowhere else.
#pragma once

#include "src/lib/scan_settings.hpp"
#include "vcd/dialect.hpp"
#include "vcd/interrupt.hpp"

namespace quarnel {

struct CallContext {
  vcd::Dialect dialect = vcd::Dialect::specified;
  // Asked before every read (may be null); must outlive the call.
  const vcd::Interrupt* interrupt = nullptr;
  ScanSettings settings;
};

using vcd::kInterruptPoll;

}  // namespace quarnel

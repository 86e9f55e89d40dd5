// Lets signal handlers stop a long call: Ctrl-C (KeyboardInterrupt) or any
// handler that raises ends the read at the next buffer refill, with the
// handler's exception set and every file closed.
#pragma once

#include "vcd/interrupt.hpp"

namespace quarnel::python {

// The hook to pass to the core: it runs the pending signal handlers of the
// interpreter and asks to stop when one of them raised. Call the core with
// the interpreter lock held.
const vcd::Interrupt* signal_interrupt() noexcept;

}  // namespace quarnel::python

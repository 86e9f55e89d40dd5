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

// A hook for code that a consumer may call on any thread, with or without
// the interpreter lock (the callbacks of an exported stream): on the main
// thread it takes the lock and asks to stop when Ctrl-C was pressed, leaving
// the signal pending, so that the interpreter raises KeyboardInterrupt once
// the consumer returns to it; on other threads, where the interpreter runs
// no handler, it never asks. Call main_thread_known() once first, with the
// lock held.
const vcd::Interrupt* ctrl_c_interrupt() noexcept;
// Learns which thread is the main one; false with an exception set when it
// cannot.
bool main_thread_known() noexcept;

}  // namespace quarnel::python

#include "src/python/interrupt.hpp"

#include <Python.h>

namespace quarnel::python {

namespace {

bool signal_handler_raised(void* /*context*/) { return PyErr_CheckSignals() != 0; }

constexpr vcd::Interrupt kSignalInterrupt{&signal_handler_raised, nullptr};

}  // namespace

const vcd::Interrupt* signal_interrupt() noexcept { return &kSignalInterrupt; }

}  // namespace quarnel::python

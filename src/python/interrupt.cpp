#include "src/python/interrupt.hpp"

#include <Python.h>
#include <pythread.h>

#include <atomic>

#include "src/python/pyref.hpp"

namespace quarnel::python {

namespace {

bool signal_handler_raised(void* /*context*/) { return PyErr_CheckSignals() != 0; }

constexpr vcd::Interrupt kSignalInterrupt{&signal_handler_raised, nullptr};

// The identity of the interpreter's main thread, once learnt (0 before).
std::atomic<unsigned long> main_thread{0};

bool ctrl_c_pressed(void* /*context*/) {
  if (main_thread.load() == 0 || PyThread_get_thread_ident() != main_thread.load()) return false;
  const PyGILState_STATE lock = PyGILState_Ensure();
  // Taken, and put back for the interpreter's own handler.
  const bool pressed = PyOS_InterruptOccurred() != 0;
  if (pressed) PyErr_SetInterrupt();
  PyGILState_Release(lock);
  return pressed;
}

constexpr vcd::Interrupt kCtrlCInterrupt{&ctrl_c_pressed, nullptr};

}  // namespace

const vcd::Interrupt* signal_interrupt() noexcept { return &kSignalInterrupt; }

const vcd::Interrupt* ctrl_c_interrupt() noexcept { return &kCtrlCInterrupt; }

bool main_thread_known() noexcept {
  if (main_thread.load() != 0) return true;
  const PyRef threading = PyRef::steal(PyImport_ImportModule("threading"));
  if (!threading) return false;
  const PyRef thread = PyRef::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr));
  if (!thread) return false;
  const PyRef ident = PyRef::steal(PyObject_GetAttrString(thread.get(), "ident"));
  if (!ident) return false;
  const unsigned long value = PyLong_AsUnsignedLong(ident.get());
  if (PyErr_Occurred() != nullptr) return false;
  main_thread.store(value);
  return true;
}

}  // namespace quarnel::python

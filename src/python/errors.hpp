// Python exceptions raised by the module: core errors, internal failures and
// the guard that every function body runs in.
#pragma once

#include <Python.h>

#include <expected>
#include <new>
#include <span>
#include <stdexcept>

#include "src/lib/vcd_error.hpp"

namespace quarnel::python {

// The error side of a binding step: a Python exception is set and the
// function returns nullptr to the interpreter.
struct Raised {};

template <class T>
using PyResult = std::expected<T, Raised>;

inline constexpr std::unexpected<Raised> kRaised{Raised{}};

// Raises `error` as RuntimeError(text) and returns nullptr. Its attribute
// `path` is the one of `inputs` (the path arguments as the caller gave them,
// in parameter order) that the error is about, or None. An interrupted read
// keeps the exception that the signal handler raised.
PyObject* raise_vcd_error(const VcdError& error, std::span<PyObject* const> inputs) noexcept;

// The class PanicException (a direct subclass of BaseException), created on
// first use and kept for the process. Borrowed; nullptr with an exception set
// if it cannot be created.
PyObject* panic_exception_type() noexcept;

// Raises PanicException(message) and returns nullptr. `message` is UTF-8;
// invalid bytes are shown as U+FFFD rather than losing the report.
PyObject* raise_panic(const char* message) noexcept;

// Runs `body` (which returns a new reference, or nullptr with an exception
// set) so that no C++ exception reaches the interpreter: running out of
// memory becomes MemoryError, any other exception PanicException.
template <class Body>
PyObject* run_guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::length_error&) {
    return PyErr_NoMemory();
  } catch (const std::exception& error) {
    return raise_panic(error.what());
  } catch (...) {
    return raise_panic("unknown C++ exception");
  }
}

}  // namespace quarnel::python

// Owner of one strong reference to a Python object.
#pragma once

#include <Python.h>

#include <utility>

namespace quarnel::python {

// Holds a strong reference (or nothing) and releases it when it goes out of
// scope, so no path through a function, early returns and C++ exceptions
// included, leaks a reference. Move-only.
class PyRef {
 public:
  PyRef() = default;

  // Takes over a new reference, for example the result of a C API call that
  // returns one. A null pointer makes an empty owner.
  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }

  // Takes a new reference to a borrowed object.
  static PyRef borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }

  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  // Hands the reference to the caller, for example as a function's result or
  // to a C API call that steals it.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace quarnel::python

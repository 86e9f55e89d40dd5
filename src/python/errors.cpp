#include "src/python/errors.hpp"

#include <cstring>
#include <string>

#include "src/python/pyref.hpp"

namespace quarnel::python {

namespace {

// Kept for the life of the process once created.
PyObject* panic_type = nullptr;

// Raises `type` with a message decoded from UTF-8. An undecodable byte is
// replaced rather than turning the report into a decoding error.
PyObject* raise_with_text(PyObject* type, const char* text, std::size_t size) noexcept {
  PyRef message =
      PyRef::steal(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), "replace"));
  if (!message) return nullptr;
  PyErr_SetObject(type, message.get());
  return nullptr;
}

}  // namespace

PyObject* raise_vcd_error(const VcdError& error) noexcept {
  if (error.kind == VcdError::Kind::Interrupted) {
    if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  }
  try {
    const std::string text = error.text();
    return raise_with_text(PyExc_RuntimeError, text.data(), text.size());
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

PyObject* panic_exception_type() noexcept {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewException("quarnel.PanicException", PyExc_BaseException, nullptr);
  }
  return panic_type;
}

PyObject* raise_panic(const char* message) noexcept {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return nullptr;
  return raise_with_text(type, message, std::strlen(message));
}

}  // namespace quarnel::python

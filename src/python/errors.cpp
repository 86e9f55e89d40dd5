#include "src/python/errors.hpp"

#include <cstring>
#include <string>

#include "src/python/pyref.hpp"

namespace quarnel::python {

namespace {

// Kept for the life of the process once created.
PyObject* panic_type = nullptr;

// A message decoded from UTF-8. An undecodable byte is replaced rather than
// turning the report into a decoding error.
PyRef message_of(const char* text, std::size_t size) noexcept {
  return PyRef::steal(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), "replace"));
}

PyObject* raise_with_text(PyObject* type, const char* text, std::size_t size) noexcept {
  PyRef message = message_of(text, size);
  if (message) PyErr_SetObject(type, message.get());
  return nullptr;
}

}  // namespace

PyObject* raise_vcd_error(const VcdError& error, std::span<PyObject* const> inputs) noexcept {
  if (error.kind == VcdError::Kind::Interrupted) {
    if (PyErr_Occurred() == nullptr) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  }
  PyRef message;
  try {
    const std::string text = error.text();
    message = message_of(text.data(), text.size());
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  if (!message) return nullptr;
  const auto input = static_cast<std::size_t>(error.input);
  PyObject* path =
      error.input != VcdError::Input::none && input < inputs.size() && inputs[input] != nullptr
          ? inputs[input]
          : Py_None;
  const PyRef exception =
      PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_RuntimeError, message.get(), nullptr));
  if (!exception || PyObject_SetAttrString(exception.get(), "path", path) < 0) return nullptr;
  PyErr_SetObject(PyExc_RuntimeError, exception.get());
  return nullptr;
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

#include "src/python/convert.hpp"

#include <algorithm>

namespace quarnel::python {

namespace {

// A sequence's reported length only sizes the first allocation; a bogus
// __len__ must not make the call fail or reserve a huge block.
constexpr Py_ssize_t kMaxReserveHint = 4096;

// The qualified name of the type of `value`, as str.
PyRef type_name(PyObject* value) {
  PyRef qualname = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(value)), "__qualname__"));
  if (!qualname) return {};
  return PyRef::steal(PyObject_Str(qualname.get()));
}

// TypeError("'<type>' object cannot be converted to '<target>'").
std::unexpected<Raised> raise_not_convertible(PyObject* value, const char* target) {
  PyRef name = type_name(value);
  if (name) {
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
  }
  return kRaised;
}

bool equals_ascii(PyObject* text, const char* ascii) {
  return PyUnicode_Check(text) && PyUnicode_CompareWithASCIIString(text, ascii) == 0;
}

// The boolean types of numpy, recognised by name so numpy need not be
// importable here.
bool is_numpy_bool_type(PyObject* type) {
  PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  if (!equals_ascii(module.get(), "numpy")) return false;
  PyRef name = PyRef::steal(PyObject_GetAttrString(type, "__name__"));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return equals_ascii(name.get(), "bool_") || equals_ascii(name.get(), "bool");
}

// Calls the type's own __bool__ on `value`, as truth testing would.
PyResult<bool> call_dunder_bool(PyObject* type, PyObject* value) {
  PyRef method = PyRef::steal(PyObject_GetAttrString(type, "__bool__"));
  if (!method) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return kRaised;
    PyErr_Clear();
    PyRef name = type_name(value);
    if (name) {
      PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
                   name.get());
    }
    return kRaised;
  }
  PyRef result = PyRef::steal(PyObject_CallFunctionObjArgs(method.get(), value, nullptr));
  if (!result) return kRaised;
  if (result.get() == Py_True) return true;
  if (result.get() == Py_False) return false;
  PyRef result_name = type_name(result.get());
  if (result_name) {
    PyErr_Format(PyExc_TypeError, "__bool__ should return bool, returned %U", result_name.get());
  }
  return kRaised;
}

}  // namespace

PyResult<std::string> as_text(PyObject* value) {
  if (!PyUnicode_Check(value)) return raise_not_convertible(value, "PyString");
  PyRef bytes = PyRef::steal(PyUnicode_AsUTF8String(value));
  if (!bytes) return kRaised;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return kRaised;
  return std::string(data, static_cast<std::size_t>(size));
}

namespace {

// The path named by the str `text`, which `given` stands for.
PyResult<PathArg> path_of_str(PyObject* given, PyObject* text) {
  PyRef bytes = PyRef::steal(PyUnicode_EncodeFSDefault(text));
  if (!bytes) return kRaised;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return kRaised;
  // The whole of a str is itself; that of a subclass, a plain copy.
  PyRef exact = PyRef::steal(PyUnicode_Substring(text, 0, PyUnicode_GetLength(text)));
  if (!exact) return kRaised;
  return PathArg{std::string(data, static_cast<std::size_t>(size)), PyRef::borrow(given),
                 std::move(exact)};
}

}  // namespace

PyResult<PathArg> as_path(PyObject* value) {
  if (!PyUnicode_Check(value)) return raise_not_convertible(value, "PyString");
  return path_of_str(value, value);
}

PyResult<PathArg> as_path_like(PyObject* value) {
  if (PyUnicode_Check(value)) return path_of_str(value, value);
  // Bytes name a file too, but are not taken: results show paths as str.
  PyRef path;
  if (!PyBytes_Check(value)) path = PyRef::steal(PyOS_FSPath(value));
  if (!path) {
    if (PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_TypeError)) return kRaised;
    PyErr_Clear();
    PyRef name = type_name(value);
    if (name) {
      PyErr_Format(PyExc_TypeError, "expected str or os.PathLike object, not %U", name.get());
    }
    return kRaised;
  }
  if (!PyUnicode_Check(path.get())) {
    PyRef name = type_name(value);
    PyRef result_name = type_name(path.get());
    if (name && result_name) {
      PyErr_Format(PyExc_TypeError, "expected %U.__fspath__() to return str, not %U", name.get(),
                   result_name.get());
    }
    return kRaised;
  }
  return path_of_str(value, path.get());
}

PyResult<std::vector<std::string>> as_text_list(PyObject* value) {
  if (PyUnicode_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return kRaised;
  }
  if (!PySequence_Check(value)) return raise_not_convertible(value, "Sequence");

  std::vector<std::string> texts;
  const Py_ssize_t hint = PySequence_Size(value);
  if (hint < 0) {
    PyErr_Clear();
  } else {
    texts.reserve(static_cast<std::size_t>(std::min(hint, kMaxReserveHint)));
  }
  PyRef iterator = PyRef::steal(PyObject_GetIter(value));
  if (!iterator) return kRaised;
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    auto text = as_text(item.get());
    if (!text) return kRaised;
    texts.push_back(std::move(*text));
  }
  if (PyErr_Occurred()) return kRaised;
  return texts;
}

PyResult<std::uint64_t> as_u64(PyObject* value) {
  PyRef index;
  if (!PyLong_Check(value)) {
    index = PyRef::steal(PyNumber_Index(value));
    if (!index) return kRaised;
    value = index.get();
  }
  const unsigned long long number = PyLong_AsUnsignedLongLong(value);
  if (number == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return kRaised;
  return std::uint64_t{number};
}

PyResult<std::size_t> as_size(PyObject* value) {
  static_assert(sizeof(std::size_t) == sizeof(std::uint64_t), "64-bit platforms only");
  return as_u64(value);
}

PyResult<bool> as_bool(PyObject* value) {
  if (value == Py_True) return true;
  if (value == Py_False) return false;
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
  if (is_numpy_bool_type(type)) return call_dunder_bool(type, value);
  return raise_not_convertible(value, "PyBool");
}

void prefix_argument_error(const char* name) noexcept {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  const PyRef owned_type = PyRef::steal(type);
  const PyRef owned_value = PyRef::steal(value);
  const PyRef owned_traceback = PyRef::steal(traceback);
  PyRef text = PyRef::steal(PyObject_Str(owned_value.get()));
  if (!text) return;
  PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, text.get());
}

PyRef to_py_str(std::string_view text) {
  return PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
}

PyRef to_py_path(std::string_view path) {
  return PyRef::steal(
      PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

PyRef to_py_int(std::uint64_t number) { return PyRef::steal(PyLong_FromUnsignedLongLong(number)); }

PyRef to_py_bool(bool value) { return PyRef::steal(PyBool_FromLong(value ? 1 : 0)); }

PyRef py_none() { return PyRef::borrow(Py_None); }

bool set_item(PyObject* dict, const char* key, const PyRef& value) {
  return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

}  // namespace quarnel::python

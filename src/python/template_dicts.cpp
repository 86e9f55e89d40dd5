#include "src/python/template_dicts.hpp"

#include <cstddef>
#include <vector>

namespace quarnel::python {

namespace {

// The interpreter reserves room for attributes yet to come in the key table
// of a class's instances, room that each instance's values and every copy of
// them then hold too, and gives it up as instances are made.
constexpr int kSettlingInstances = 64;

// The bytes of a copy of `dict`, as sys.getsizeof counts them; -1 with an
// exception set on failure.
Py_ssize_t copy_size(PyObject* dict) {
  const PyRef copy = PyRef::steal(PyDict_Copy(dict));
  if (!copy) return -1;
  const PyRef size = PyRef::steal(PyObject_CallMethod(copy.get(), "__sizeof__", nullptr));
  return size ? PyLong_AsSsize_t(size.get()) : -1;
}

PyRef make_plain(std::span<PyObject* const> keys, std::span<PyObject* const> values) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return {};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (PyDict_SetItem(dict.get(), keys[i], values[i]) < 0) return {};
  }
  return dict;
}

// The attribute dict of a new instance of `type`, `dict_name` the interned
// str "__dict__".
PyRef make_shared(PyObject* type, PyObject* dict_name, std::span<PyObject* const> keys,
                  std::span<PyObject* const> values) {
  const PyRef instance = PyRef::steal(PyObject_CallObject(type, nullptr));
  if (!instance) return {};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (PyObject_SetAttr(instance.get(), keys[i], values[i]) < 0) return {};
  }
  PyRef dict = PyRef::steal(PyObject_GetAttr(instance.get(), dict_name));
  if (dict && !PyDict_CheckExact(dict.get())) {
    PyErr_SetString(PyExc_SystemError, "an instance's attributes are not a dict");
    return {};
  }
  return dict;
}

}  // namespace

PyRef TemplateDicts::make(std::span<PyObject* const> keys,
                          std::span<PyObject* const> values) const {
  return class_ ? make_shared(class_.get(), dict_name_.get(), keys, values)
                : make_plain(keys, values);
}

bool TemplateDicts::share_keys(std::span<PyObject* const> keys) {
  if (class_) return true;
  const PyRef namespace_ = PyRef::steal(Py_BuildValue("{s:s}", "__module__", "quarnel"));
  if (!namespace_) return false;
  PyRef type = PyRef::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s()O",
                                                  "record", namespace_.get()));
  if (!type) return false;
  // The interpreter's own "__dict__", which its caches of attribute
  // lookups then keep, rather than a new str per template.
  PyRef dict_name = PyRef::steal(PyUnicode_InternFromString("__dict__"));
  if (!dict_name) return false;
  const std::vector<PyObject*> nones(keys.size(), Py_None);
  // The first instance enters the keys into the shared table, in order.
  const PyRef shared = make_shared(type.get(), dict_name.get(), keys, nones);
  if (!shared) return false;
  for (int i = 0; i < kSettlingInstances; ++i) {
    if (!PyRef::steal(PyObject_CallObject(type.get(), nullptr))) return false;
  }
  const PyRef plain = make_plain(keys, nones);
  if (!plain) return false;
  const Py_ssize_t shared_size = copy_size(shared.get());
  const Py_ssize_t plain_size = shared_size < 0 ? -1 : copy_size(plain.get());
  if (plain_size < 0) return false;
  if (shared_size < plain_size) {
    class_ = std::move(type);
    dict_name_ = std::move(dict_name);
  }
  return true;
}

}  // namespace quarnel::python

#include "src/python/template_dicts.hpp"

#include <cstddef>

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

}  // namespace

PyRef TemplateDicts::make(std::span<PyObject* const> values) const {
  return class_ ? make_shared(values) : make_plain(values);
}

PyRef TemplateDicts::make_plain(std::span<PyObject* const> values) const {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return {};
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (PyDict_SetItem(dict.get(), keys_[i], values[i]) < 0) return {};
  }
  return dict;
}

PyRef TemplateDicts::make_shared(std::span<PyObject* const> values) const {
  const PyRef instance = PyRef::steal(PyObject_CallObject(class_.get(), nullptr));
  if (!instance) return {};
  for (std::size_t i = 0; i < keys_.size(); ++i) {
    if (PyObject_SetAttr(instance.get(), keys_[i], values[i]) < 0) return {};
  }
  PyRef dict = PyRef::steal(PyObject_GetAttrString(instance.get(), "__dict__"));
  if (dict && !PyDict_CheckExact(dict.get())) {
    PyErr_SetString(PyExc_SystemError, "an instance's attributes are not a dict");
    return {};
  }
  return dict;
}

bool TemplateDicts::share_keys() {
  if (class_) return true;
  const PyRef namespace_ = PyRef::steal(Py_BuildValue("{s:s}", "__module__", "quarnel"));
  if (!namespace_) return false;
  PyRef made = PyRef::steal(PyObject_CallFunction(reinterpret_cast<PyObject*>(&PyType_Type), "s()O",
                                                  "record", namespace_.get()));
  if (!made) return false;
  const std::vector<PyObject*> nones(keys_.size(), Py_None);
  const PyRef plain = make_plain(nones);
  if (!plain) return false;
  class_ = std::move(made);
  // The first instance enters the keys into the shared table, in order.
  const PyRef shared = make_shared(nones);
  bool fine = static_cast<bool>(shared);
  for (int i = 0; fine && i < kSettlingInstances; ++i) {
    fine = static_cast<bool>(PyRef::steal(PyObject_CallObject(class_.get(), nullptr)));
  }
  const Py_ssize_t shared_size = fine ? copy_size(shared.get()) : -1;
  const Py_ssize_t plain_size = shared_size >= 0 ? copy_size(plain.get()) : -1;
  if (plain_size < 0) {
    class_ = PyRef{};
    return false;
  }
  if (shared_size >= plain_size) class_ = PyRef{};
  return true;
}

}  // namespace quarnel::python

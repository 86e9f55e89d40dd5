#include "src/python/arrow_table.hpp"

#include <sys/stat.h>

#include <utility>
#include <vector>

namespace quarnel::python {

namespace {

// The release of the structure in a capsule named `name`, with the capsule.
template <class Exported>
void capsule_free(PyObject* capsule, const char* name) {
  auto* exported = static_cast<Exported*>(PyCapsule_GetPointer(capsule, name));
  if (exported == nullptr) {
    PyErr_Clear();
    return;
  }
  if (exported->release != nullptr) exported->release(exported);
  delete exported;
}

void schema_free(PyObject* capsule) { capsule_free<ArrowSchema>(capsule, "arrow_schema"); }
void stream_free(PyObject* capsule) {
  capsule_free<ArrowArrayStream>(capsule, "arrow_array_stream");
}

template <class Exported>
PyObject* capsule_of(std::unique_ptr<Exported> exported, const char* name,
                     PyCapsule_Destructor destructor) {
  Exported* owned = exported.release();
  PyObject* capsule = PyCapsule_New(owned, name, destructor);
  if (capsule == nullptr) {
    owned->release(owned);
    delete owned;
  }
  return capsule;
}

}  // namespace

PyRef new_object(PyType_Spec& spec) {
  // The types made so far, kept for the process; the interpreter's lock
  // guards the list.
  static std::vector<std::pair<const PyType_Spec*, PyObject*>> types;
  PyObject* type = nullptr;
  for (const auto& [made_from, made] : types) {
    if (made_from == &spec) type = made;
  }
  if (type == nullptr) {
    type = PyType_FromSpec(&spec);
    if (type == nullptr) return PyRef{};
    types.emplace_back(&spec, type);
  }
  auto* alloc = reinterpret_cast<allocfunc>(
      PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  return PyRef::steal(alloc(reinterpret_cast<PyTypeObject*>(type), 0));
}

void free_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto* free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

bool is_regular_file(const std::string& path) {
  struct stat status{};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

PyObject* schema_capsule(std::unique_ptr<ArrowSchema> schema) {
  return capsule_of(std::move(schema), "arrow_schema", &schema_free);
}

PyObject* stream_capsule(std::unique_ptr<ArrowArrayStream> stream) {
  return capsule_of(std::move(stream), "arrow_array_stream", &stream_free);
}

PyObject* refuse_new(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) {
  PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__name__"));
  if (name) PyErr_Format(PyExc_TypeError, "cannot create '%U' instances", name.get());
  return nullptr;
}

PyObject* iterator_self(PyObject* self) {
  Py_INCREF(self);
  return self;
}

}  // namespace quarnel::python

// The module object and the registration of its functions.
#include <Python.h>

#include "src/python/errors.hpp"
#include "src/python/pyref.hpp"

// The distribution's version (pyproject.toml), passed by the build.
#ifndef QUARNEL_VERSION
#error "QUARNEL_VERSION must be defined by the build (CMakeLists.txt)"
#endif

namespace quarnel::python {

// Defined beside each function's code.
extern PyMethodDef list_signals_method;
extern PyMethodDef metadata_method;
extern PyMethodDef extract_method;
extern PyMethodDef toggles_method;
extern PyMethodDef find_method;
extern PyMethodDef compare_method;

namespace {

// Registration order, which is also the order of __all__.
PyMethodDef* const kFunctions[] = {
    &list_signals_method,
    &metadata_method,
    &extract_method,
    &toggles_method,
    &find_method,
    &compare_method,
};

// The API version of the stable ABI.
constexpr int kStableAbiVersion = 3;

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "quarnel",
    "",       // docstring
    0,        // per-module state
    nullptr,  // the functions are added after creation
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The initialised module, kept for the process; it also marks that the
// initialisation has run.
PyObject* initialised_module = nullptr;

// Creates the function bound to `module`, appends its name to __all__ and
// sets it as the module attribute of that name.
bool add_function(PyObject* module, PyObject* module_name, PyMethodDef* definition) {
  const PyRef function = PyRef::steal(PyCFunction_NewEx(definition, module, module_name));
  if (!function) return false;
  const PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  }
  if (PyList_Append(all.get(), name.get()) < 0) return false;
  return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

PyObject* initialise() {
  if (initialised_module != nullptr) {
    PyErr_SetString(PyExc_ImportError,
                    "quarnel can be initialised only once per process; it is already loaded");
    return nullptr;
  }
  PyRef module = PyRef::steal(PyModule_Create2(&module_def, kStableAbiVersion));
  if (!module) return nullptr;
  const PyRef module_name = PyRef::steal(PyModule_GetNameObject(module.get()));
  if (!module_name) return nullptr;
  for (PyMethodDef* definition : kFunctions) {
    if (!add_function(module.get(), module_name.get(), definition)) return nullptr;
  }
  // Attributes outside __all__: the class of internal failures, so that a
  // caller can catch it by name, and the distribution's version.
  PyObject* panic_type = panic_exception_type();
  if (panic_type == nullptr ||
      PyObject_SetAttrString(module.get(), "PanicException", panic_type) < 0 ||
      PyModule_AddStringConstant(module.get(), "__version__", QUARNEL_VERSION) < 0) {
    return nullptr;
  }
  initialised_module = PyRef::borrow(module.get()).release();
  return module.release();
}

}  // namespace

}  // namespace quarnel::python

PyMODINIT_FUNC PyInit_quarnel() {
  return quarnel::python::run_guarded(quarnel::python::initialise);
}

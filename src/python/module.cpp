// The module objects and the registration of their functions: quarnel, and
// quarnel.extended, whose functions read the extended dialect.
#include <Python.h>

#include <span>

#include "src/python/call_context.hpp"
#include "src/python/errors.hpp"
#include "src/python/function.hpp"
#include "src/python/pyref.hpp"

// The distribution's version (pyproject.toml), passed by the build.
#ifndef QUARNEL_VERSION
#error "QUARNEL_VERSION must be defined by the build (CMakeLists.txt)"
#endif

namespace quarnel::python {

// Defined beside each function's code: its entry in quarnel, and in
// quarnel.extended, where paths may also be os.PathLike objects.
extern PyMethodDef list_signals_method;
extern PyMethodDef metadata_method;
extern PyMethodDef extract_method;
extern PyMethodDef toggles_method;
extern PyMethodDef find_method;
extern PyMethodDef compare_method;
extern PyMethodDef list_signals_extended_method;
extern PyMethodDef metadata_extended_method;
extern PyMethodDef extract_extended_method;
extern PyMethodDef toggles_extended_method;
extern PyMethodDef find_extended_method;
extern PyMethodDef compare_extended_method;
extern PyMethodDef extract_table_extended_method;
extern PyMethodDef value_at_extended_method;
extern PyMethodDef timescale_extended_method;
extern PyMethodDef index_extended_method;
extern PyMethodDef buses_extended_method;
extern PyMethodDef sample_extended_method;

namespace {

// Registration order, which is also the order of __all__.
PyMethodDef* const kFunctions[] = {
    &list_signals_method, &metadata_method, &extract_method,
    &toggles_method,      &find_method,     &compare_method,
};
PyMethodDef* const kExtendedFunctions[] = {
    &list_signals_extended_method,  &metadata_extended_method, &extract_extended_method,
    &toggles_extended_method,       &find_extended_method,     &compare_extended_method,
    &extract_table_extended_method, &value_at_extended_method, &timescale_extended_method,
    &index_extended_method,         &buses_extended_method,    &sample_extended_method,
};

// The API version of the stable ABI.
constexpr int kStableAbiVersion = 3;

// quarnel: its functions read the specified dialect (module_dialect).
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

// quarnel.extended: its functions read the extended dialect (module_dialect
// tells the two modules by their definitions).
PyModuleDef extended_def = {
    PyModuleDef_HEAD_INIT,
    "quarnel.extended",
    "The functions of quarnel, reading the extended VCD dialect: what other simulators write\n"
    "besides IEEE 1364 (nine-state values, any scope and variable type, unknown commands).\n"
    "Paths may also be os.PathLike objects; compare has the option timescales.",
    0,
    nullptr,
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

// A module of `definition` holding the functions of `functions`.
PyRef create_module(PyModuleDef* definition, std::span<PyMethodDef* const> functions) {
  PyRef module = PyRef::steal(PyModule_Create2(definition, kStableAbiVersion));
  if (!module) return {};
  const PyRef module_name = PyRef::steal(PyModule_GetNameObject(module.get()));
  if (!module_name) return {};
  for (PyMethodDef* function : functions) {
    if (!add_function(module.get(), module_name.get(), function)) return {};
  }
  return module;
}

PyObject* initialise() {
  if (initialised_module != nullptr) {
    PyErr_SetString(PyExc_ImportError,
                    "quarnel can be initialised only once per process; it is already loaded");
    return nullptr;
  }
  PyRef module = create_module(&module_def, kFunctions);
  if (!module) return nullptr;
  // quarnel.extended is an attribute outside __all__, and in sys.modules so
  // that "import quarnel.extended" finds it.
  const PyRef extended = create_module(&extended_def, kExtendedFunctions);
  if (!extended || PyObject_SetAttrString(module.get(), "extended", extended.get()) < 0 ||
      PyDict_SetItemString(PyImport_GetModuleDict(), "quarnel.extended", extended.get()) < 0) {
    return nullptr;
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

// By the definition, not by a module state: the import machinery gives even a
// module without state a state pointer, to storage of no size.
vcd::Dialect module_dialect(PyObject* module) {
  return PyModule_GetDef(module) == &extended_def ? vcd::Dialect::extended
                                                  : vcd::Dialect::specified;
}

}  // namespace quarnel::python

PyMODINIT_FUNC PyInit_quarnel() {
  return quarnel::python::run_guarded(quarnel::python::initialise);
}

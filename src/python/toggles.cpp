// toggles(path, signals, start=None, end=None): value transitions per signal.
#include "src/lib/toggles.hpp"

#include <Python.h>

#include "src/python/convert.hpp"
#include "src/python/errors.hpp"
#include "src/python/interrupt.hpp"
#include "src/python/params.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signals", "start", "end"};

constexpr ParamTable kParams{
    .function = "toggles",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = {},
    .class_name = std::nullopt,
};

constexpr char kDoc[] =
    "toggles(path, signals, start=None, end=None)\n"
    "--\n"
    "\n"
    "Count value transitions (toggles) for a list of signals.\n"
    "\n"
    "Args:\n"
    "    path:    Path to the VCD file.\n"
    "    signals: List of fully-qualified signal names.\n"
    "    start:   Optional start time (inclusive).\n"
    "    end:     Optional end time (inclusive).\n"
    "\n"
    "Returns:\n"
    "    Dict mapping signal name \u2192 toggle count (int).";

PyObject* toggles(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    const auto arguments = convert_arguments<kParams>(args, kwargs, as_text, as_text_list,
                                                      or_none(as_u64), or_none(as_u64));
    if (!arguments) return nullptr;
    const auto& [path, signals, start, end] = *arguments;

    const auto counts = count_toggles(path, signals, start, end, signal_interrupt());
    if (!counts) return raise_vcd_error(counts.error());
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [name, count] : *counts) {
      const PyRef key = to_py_str(name);
      const PyRef value = to_py_int(count);
      if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return dict.release();
  });
}

}  // namespace

PyMethodDef toggles_method = {
    "toggles",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(toggles)),
    METH_VARARGS | METH_KEYWORDS,
    kDoc,
};

}  // namespace quarnel::python

// find(path, signal, value, occurrence=1, start=None, end=None): the Nth time
// a signal takes a value.
#include "src/lib/find.hpp"

#include <Python.h>

#include "src/lib/target.hpp"
#include "src/python/convert.hpp"
#include "src/python/errors.hpp"
#include "src/python/interrupt.hpp"
#include "src/python/params.hpp"
#include "src/python/value_text.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signal", "value", "occurrence", "start", "end"};

constexpr ParamTable kParams{
    .function = "find",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 3,
    .keyword_only = {},
    .class_name = std::nullopt,
};

constexpr char kDoc[] =
    "find(path, signal, value, occurrence=1, start=None, end=None)\n"
    "--\n"
    "\n"
    "Find the Nth occurrence of a signal reaching a target value.\n"
    "\n"
    "Args:\n"
    "    path:       Path to the VCD file.\n"
    "    signal:     Fully-qualified signal name.\n"
    "    value:      Target value string (decimal, \"0x\u2026\" hex, or \"x\"/\"z\").\n"
    "    occurrence: Which occurrence to find (default 1).\n"
    "    start:      Optional start time (inclusive).\n"
    "    end:        Optional end time (inclusive).\n"
    "\n"
    "Returns:\n"
    "    Dict with keys: found (bool), signal (str), time (int), value (str).\n"
    "    If not found, time and value are None.";

PyObject* find(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    const auto arguments = convert_arguments<kParams>(
        args, kwargs, as_text, as_text, as_text, with_default(as_size, std::size_t{1}),
        or_none(as_u64), or_none(as_u64));
    if (!arguments) return nullptr;
    const auto& [path, signal, value, occurrence, start, end] = *arguments;

    const auto found = find_nth_occurrence(path, signal, parse_target_value(value), occurrence,
                                           start, end, signal_interrupt());
    if (!found) return raise_vcd_error(found.error());
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    const std::optional<TimeValue>& record = *found;
    ValueTexts texts;
    if (!set_item(dict.get(), "found", to_py_bool(record.has_value())) ||
        !set_item(dict.get(), "signal", to_py_str(record ? record->signal : signal)) ||
        !set_item(dict.get(), "time", record ? to_py_int(record->time) : py_none()) ||
        !set_item(dict.get(), "value", record ? texts.text_of(record->value) : py_none())) {
      return nullptr;
    }
    return dict.release();
  });
}

}  // namespace

PyMethodDef find_method = {
    "find",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(find)),
    METH_VARARGS | METH_KEYWORDS,
    kDoc,
};

}  // namespace quarnel::python

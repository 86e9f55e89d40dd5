// list_signals(path, filter=None): the declared signal names of a VCD file.
#include "src/lib/list_signals.hpp"

#include <Python.h>

#include "src/python/convert.hpp"
#include "src/python/errors.hpp"
#include "src/python/interrupt.hpp"
#include "src/python/params.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "filter"};

constexpr ParamTable kParams{
    .function = "list_signals",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 1,
    .keyword_only = {},
    .class_name = std::nullopt,
};

constexpr char kDoc[] =
    "list_signals(path, filter=None)\n"
    "--\n"
    "\n"
    "List signal names declared in a VCD file.\n"
    "\n"
    "Args:\n"
    "    path: Path to the VCD file.\n"
    "    filter: Optional substring; only signals containing it are returned.\n"
    "\n"
    "Returns:\n"
    "    List of signal name strings.";

PyObject* list_signals(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    const auto arguments = convert_arguments<kParams>(args, kwargs, as_text, or_none(as_text));
    if (!arguments) return nullptr;
    const auto& [path, filter] = *arguments;

    const auto names = list_signals_from_file(path, filter, signal_interrupt());
    if (!names) return raise_vcd_error(names.error());
    return to_py_str_list(*names).release();
  });
}

}  // namespace

PyMethodDef list_signals_method = {
    "list_signals",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(list_signals)),
    METH_VARARGS | METH_KEYWORDS,
    kDoc,
};

}  // namespace quarnel::python

// metadata(path): signal count, time span and timescale of a VCD file.
#include "src/lib/metadata.hpp"

#include <Python.h>

#include <string>

#include "src/python/convert.hpp"
#include "src/python/errors.hpp"
#include "src/python/interrupt.hpp"
#include "src/python/params.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path"};

constexpr ParamTable kParams{
    .function = "metadata",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 1,
    .keyword_only = {},
    .class_name = std::nullopt,
};

constexpr char kDoc[] =
    "metadata(path)\n"
    "--\n"
    "\n"
    "Return metadata for a VCD file.\n"
    "\n"
    "Returns a dict with keys:\n"
    "    signal_count (int), start_time (int), end_time (int),\n"
    "    timescale (str | None)  e.g. \"1 ns\"";

PyObject* metadata(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    const auto arguments = convert_arguments<kParams>(args, kwargs, as_text);
    if (!arguments) return nullptr;
    const auto& [path] = *arguments;

    const auto metadata = read_vcd_metadata(path, signal_interrupt());
    if (!metadata) return raise_vcd_error(metadata.error());
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    const auto timescale_text = [](const vcd::Timescale& timescale) {
      return to_py_str(std::to_string(timescale.magnitude) + " " +
                       std::string(vcd::to_text(timescale.unit)));
    };
    if (!set_item(dict.get(), "signal_count", to_py_int(metadata->signal_count)) ||
        !set_item(dict.get(), "start_time", to_py_int(metadata->start_time)) ||
        !set_item(dict.get(), "end_time", to_py_int(metadata->end_time)) ||
        !set_item(dict.get(), "timescale", to_py_optional(metadata->timescale, timescale_text))) {
      return nullptr;
    }
    return dict.release();
  });
}

}  // namespace

PyMethodDef metadata_method = {
    "metadata",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(metadata)),
    METH_VARARGS | METH_KEYWORDS,
    kDoc,
};

}  // namespace quarnel::python

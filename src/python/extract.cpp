// extract(path, signals, start=None, end=None): the changes of chosen signals.
#include "src/lib/extract.hpp"

#include <Python.h>

#include <vector>

#include "src/python/convert.hpp"
#include "src/python/errors.hpp"
#include "src/python/interrupt.hpp"
#include "src/python/params.hpp"
#include "src/python/value_text.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signals", "start", "end"};

constexpr ParamTable kParams{
    .function = "extract",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = {},
    .class_name = std::nullopt,
};

constexpr char kDoc[] =
    "extract(path, signals, start=None, end=None)\n"
    "--\n"
    "\n"
    "Extract time/value pairs for a list of signals.\n"
    "\n"
    "Args:\n"
    "    path:    Path to the VCD file.\n"
    "    signals: List of fully-qualified signal names.\n"
    "    start:   Optional start time (inclusive).\n"
    "    end:     Optional end time (inclusive).\n"
    "\n"
    "Returns:\n"
    "    List of dicts with keys: signal (str), time (int), value (str).";

// Turns records into {"signal", "time", "value"} dicts appended to a list,
// sharing one str per requested name.
class RecordBuilder {
 public:
  explicit RecordBuilder(std::size_t request_count) : names_(request_count) {}

  bool ready() {
    list_ = PyRef::steal(PyList_New(0));
    key_signal_ = PyRef::steal(PyUnicode_InternFromString("signal"));
    key_time_ = PyRef::steal(PyUnicode_InternFromString("time"));
    key_value_ = PyRef::steal(PyUnicode_InternFromString("value"));
    return list_ && key_signal_ && key_time_ && key_value_;
  }

  // False with a Python exception set when an object cannot be built or a
  // signal handler raised.
  bool add(const TimeValue& record) {
    // Every new dict can start a garbage collection, and any Python code that
    // runs there (a gc callback, a finalizer) takes a pending signal and loses
    // the exception its handler raises. Looking first keeps Ctrl-C working
    // while records are built.
    if (PyErr_CheckSignals() != 0) return false;
    PyRef& name = names_[record.request];
    if (!name) name = to_py_str(record.signal);
    // The records of one timestamp share its int.
    if (!time_ || record.time != last_time_) {
      time_ = to_py_int(record.time);
      last_time_ = record.time;
    }
    const PyRef& time = time_;
    const PyRef value = texts_.text_of(record.value);
    const PyRef dict = PyRef::steal(PyDict_New());
    return name && time && value && dict &&
           PyDict_SetItem(dict.get(), key_signal_.get(), name.get()) == 0 &&
           PyDict_SetItem(dict.get(), key_time_.get(), time.get()) == 0 &&
           PyDict_SetItem(dict.get(), key_value_.get(), value.get()) == 0 &&
           PyList_Append(list_.get(), dict.get()) == 0;
  }

  PyObject* release() { return list_.release(); }

 private:
  PyRef list_;
  PyRef key_signal_;
  PyRef key_time_;
  PyRef key_value_;
  std::vector<PyRef> names_;
  PyRef time_;
  std::uint64_t last_time_ = 0;
  ValueTexts texts_;
};

PyObject* extract(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    const auto arguments = convert_arguments<kParams>(args, kwargs, as_text, as_text_list,
                                                      or_none(as_u64), or_none(as_u64));
    if (!arguments) return nullptr;
    const auto& [path, signals, start, end] = *arguments;

    RecordBuilder builder(signals.size());
    if (!builder.ready()) return nullptr;
    const auto read = extract_time_values(
        path, signals, start, end, [&](TimeValue&& record) { return builder.add(record); },
        signal_interrupt());
    if (!read) return raise_vcd_error(read.error());
    if (!*read) return nullptr;  // a Python object could not be built
    return builder.release();
  });
}

}  // namespace

PyMethodDef extract_method = {
    "extract",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(extract)),
    METH_VARARGS | METH_KEYWORDS,
    kDoc,
};

}  // namespace quarnel::python

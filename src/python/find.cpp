// find(path, signal, value, occurrence=1, start=None, end=None): the Nth time
// a signal takes a value.
#include "src/lib/find.hpp"

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "src/lib/target.hpp"
#include "src/python/convert.hpp"
#include "src/python/function.hpp"
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
};
constexpr auto kConverters =
    std::make_tuple(as_path, as_text, as_text, with_default(as_size, std::size_t{1}),
                    or_none(as_u64), or_none(as_u64));
constexpr auto kExtendedConverters =
    std::make_tuple(as_path_like, as_text, as_text, with_default(as_size, std::size_t{1}),
                    or_none(as_u64), or_none(as_u64));

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

Outcome find(const PathArg& path, const std::string& signal, const std::string& value,
             std::size_t occurrence, std::optional<std::uint64_t> start,
             std::optional<std::uint64_t> end, const CallContext& context) {
  const auto found = [&](const std::optional<TimeValue>& record) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return PyRef{};
    ValueTexts texts;
    if (!set_item(dict.get(), "found", to_py_bool(record.has_value())) ||
        !set_item(dict.get(), "signal", to_py_str(record ? record->signal : signal)) ||
        !set_item(dict.get(), "time", record ? to_py_int(record->time) : py_none()) ||
        !set_item(dict.get(), "value", record ? texts.text_of(record->value) : py_none())) {
      return PyRef{};
    }
    return dict;
  };
  return build_result(find_nth_occurrence(path.bytes, signal, parse_target_value(value), occurrence,
                                          Window{start, end}, context),
                      found);
}

}  // namespace

PyMethodDef find_method = define_function<kParams, kConverters, find>(kDoc);
PyMethodDef find_extended_method = define_bus_function<kParams, kExtendedConverters, find>(kDoc);

}  // namespace quarnel::python

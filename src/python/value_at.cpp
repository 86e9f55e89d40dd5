// value_at(path, signals, time): the value each signal holds at a time, for
// quarnel.extended.
#include "src/lib/value_at.hpp"

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "src/python/convert.hpp"
#include "src/python/function.hpp"
#include "src/python/value_text.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signals", "time"};

constexpr ParamTable kParams{
    .function = "value_at",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 3,
    .keyword_only = {},
};
constexpr auto kConverters = std::make_tuple(as_path_like, as_text_list, as_u64);

constexpr char kDoc[] =
    "value_at(path, signals, time)\n"
    "--\n"
    "\n"
    "The value each signal holds at a time.\n"
    "\n"
    "Args:\n"
    "    path:    Path to the VCD file.\n"
    "    signals: List of fully-qualified signal names.\n"
    "    time:    The time (int).\n"
    "\n"
    "Returns:\n"
    "    Dict mapping signal name -> the value of its last change at or before time\n"
    "    (the last in file order within a time stamp), as extract() writes it, or\n"
    "    None before its first change. Keys come in the order asked. The file is\n"
    "    read up to time; the errors are those of extract(path, signals, 0, time).";

Outcome value_at(const PathArg& path, const std::vector<std::string>& signals, std::uint64_t time,
                 const CallContext& context) {
  auto values = values_at(path.bytes, signals, time, context);
  if (!values) return std::unexpected(std::move(values.error()));
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return PyRef{};
  ValueTexts texts;
  for (std::size_t i = 0; i < signals.size(); ++i) {
    const PyRef key = to_py_str(signals[i]);
    const std::optional<ChangeValue>& value = (*values)[i];
    const PyRef text = value ? texts.text_of(*value) : py_none();
    if (!key || !text || PyDict_SetItem(dict.get(), key.get(), text.get()) < 0) return PyRef{};
  }
  return dict;
}

}  // namespace

PyMethodDef value_at_extended_method = define_bus_function<kParams, kConverters, value_at>(kDoc);

}  // namespace quarnel::python

// toggles(path, signals, start=None, end=None): value transitions per signal.
#include "src/lib/toggles.hpp"

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "src/python/convert.hpp"
#include "src/python/function.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signals", "start", "end"};

constexpr ParamTable kParams{
    .function = "toggles",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = {},
};
constexpr auto kConverters =
    std::make_tuple(as_path, as_text_list, or_none(as_u64), or_none(as_u64));
constexpr auto kExtendedConverters =
    std::make_tuple(as_path_like, as_text_list, or_none(as_u64), or_none(as_u64));

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

PyRef counts_dict(const std::vector<std::pair<std::string, std::uint64_t>>& counts) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return {};
  for (const auto& [name, count] : counts) {
    const PyRef key = to_py_str(name);
    const PyRef value = to_py_int(count);
    if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return {};
  }
  return dict;
}

Outcome toggles(const PathArg& path, const std::vector<std::string>& signals,
                std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                const CallContext& context) {
  return build_result(count_toggles(path.bytes, signals, Window{start, end}, context), counts_dict);
}

}  // namespace

PyMethodDef toggles_method = define_function<kParams, kConverters, toggles>(kDoc);
PyMethodDef toggles_extended_method =
    define_bus_function<kParams, kExtendedConverters, toggles>(kDoc);

}  // namespace quarnel::python

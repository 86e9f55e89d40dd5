// list_signals(path, filter=None): the declared signal names of a VCD file.
#include "src/lib/list_signals.hpp"

#include <Python.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "src/python/convert.hpp"
#include "src/python/function.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "filter"};

constexpr ParamTable kParams{
    .function = "list_signals",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 1,
    .keyword_only = {},
};
constexpr auto kConverters = std::make_tuple(as_path, or_none(as_text));
constexpr auto kExtendedConverters = std::make_tuple(as_path_like, or_none(as_text));

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

Outcome list_signals(const PathArg& path, const std::optional<std::string>& filter,
                     const CallContext& context) {
  return build_result(list_signals_from_file(path.bytes, filter, context),
                      to_py_str_list<SignalNames>);
}

constexpr const char* kBusesPositional[] = {"path"};
constexpr ParamTable kBusesParams{
    .function = "buses",
    .positional = kBusesPositional,
    .positional_only = 0,
    .required_positional = 1,
    .keyword_only = {},
};
constexpr auto kBusesConverters = std::make_tuple(as_path_like);

constexpr char kBusesDoc[] =
    "buses(path)\n"
    "--\n"
    "\n"
    "The buses that a VCD file declares one bit per variable, read whole.\n"
    "\n"
    "Variables of one scope whose names are one name and a bit index (count[2],\n"
    "count[1], count[0]), two or more, with every index from the lowest to the\n"
    "highest, are also the bus count[2:0] for the functions of this module called\n"
    "with buses=True; list_signals(path, buses=True) lists it in place of its bits.\n"
    "A name with a missing index gives no bus.\n"
    "\n"
    "Returns:\n"
    "    Dict mapping each bus name -> the names of its bits, most significant\n"
    "    first, in the order of their first declared bits. Only the declarations\n"
    "    are read.";

Outcome buses(const PathArg& path, const CallContext& context) {
  return build_result(list_buses(path.bytes, context), [](const std::vector<BusBits>& found) {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return PyRef{};
    for (const BusBits& bus : found) {
      const PyRef key = to_py_str(bus.name);
      const PyRef bits = to_py_str_list(bus.bits);
      if (!key || !bits || PyDict_SetItem(dict.get(), key.get(), bits.get()) < 0) return PyRef{};
    }
    return dict;
  });
}

}  // namespace

PyMethodDef buses_extended_method =
    define_function<kBusesParams, kBusesConverters, buses>(kBusesDoc);

PyMethodDef list_signals_method = define_function<kParams, kConverters, list_signals>(kDoc);
PyMethodDef list_signals_extended_method =
    define_bus_function<kParams, kExtendedConverters, list_signals>(kDoc);

}  // namespace quarnel::python

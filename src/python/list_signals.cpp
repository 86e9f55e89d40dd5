// list_signals(path, filter=None): the declared signal names of a VCD file.
#include "src/lib/list_signals.hpp"

#include <Python.h>

#include <optional>
#include <string>
#include <tuple>

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

}  // namespace

PyMethodDef list_signals_method = define_function<kParams, kConverters, list_signals>(kDoc);
PyMethodDef list_signals_extended_method =
    define_function<kParams, kExtendedConverters, list_signals>(kDoc);

}  // namespace quarnel::python

// metadata(path): signal count, time span and timescale of a VCD file; and
// timescale(path), the timescale alone, for quarnel.extended.
#include "src/lib/metadata.hpp"

#include <Python.h>

#include <string>
#include <tuple>

#include "src/lib/header_pass.hpp"
#include "src/python/convert.hpp"
#include "src/python/function.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path"};

constexpr ParamTable kParams{
    .function = "metadata",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 1,
    .keyword_only = {},
};
constexpr auto kConverters = std::make_tuple(as_path);
constexpr auto kExtendedConverters = std::make_tuple(as_path_like);

constexpr char kDoc[] =
    "metadata(path)\n"
    "--\n"
    "\n"
    "Return metadata for a VCD file.\n"
    "\n"
    "Returns a dict with keys:\n"
    "    signal_count (int), start_time (int), end_time (int),\n"
    "    timescale (str | None)  e.g. \"1 ns\"";

PyRef timescale_text(const vcd::Timescale& timescale) {
  return to_py_str(std::to_string(timescale.magnitude) + " " +
                   std::string(vcd::to_text(timescale.unit)));
}

PyRef metadata_dict(const VcdMetadata& metadata) {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict || !set_item(dict.get(), "signal_count", to_py_int(metadata.signal_count)) ||
      !set_item(dict.get(), "start_time", to_py_int(metadata.start_time)) ||
      !set_item(dict.get(), "end_time", to_py_int(metadata.end_time)) ||
      !set_item(dict.get(), "timescale", to_py_optional(metadata.timescale, timescale_text))) {
    return {};
  }
  return dict;
}

Outcome metadata(const PathArg& path, const CallContext& context) {
  return build_result(read_vcd_metadata(path.bytes, context), metadata_dict);
}

constexpr ParamTable kTimescaleParams{
    .function = "timescale",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 1,
    .keyword_only = {},
};

constexpr char kTimescaleDoc[] =
    "timescale(path)\n"
    "--\n"
    "\n"
    "The timescale of a VCD file, as metadata() gives it (\"1 ns\"), or None when the\n"
    "file has none. Only the declaration section is read.";

Outcome timescale(const PathArg& path, const CallContext& context) {
  return build_result(read_header(path.bytes, context), [](const ParsedHeader& header) {
    return to_py_optional(header.timescale, timescale_text);
  });
}

}  // namespace

PyMethodDef metadata_method = define_function<kParams, kConverters, metadata>(kDoc);
PyMethodDef metadata_extended_method =
    define_function<kParams, kExtendedConverters, metadata>(kDoc);
PyMethodDef timescale_extended_method =
    define_function<kTimescaleParams, kExtendedConverters, timescale>(kTimescaleDoc);

}  // namespace quarnel::python

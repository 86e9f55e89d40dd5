// index(path, directory=None): builds the index of a dump, for quarnel.extended.
#include <Python.h>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <tuple>

#include "src/lib/body_index.hpp"
#include "src/python/convert.hpp"
#include "src/python/function.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "directory"};

constexpr ParamTable kParams{
    .function = "index",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 1,
    .keyword_only = {},
};
constexpr auto kConverters = std::make_tuple(as_path_like, or_none(as_path_like));

constexpr char kDoc[] =
    "index(path, directory=None)\n"
    "--\n"
    "\n"
    "Reads the body of a VCD file once, on all cores, and writes its index.\n"
    "\n"
    "The index is written beside the dump (path + \".qidx\"), or into directory (by\n"
    "default the one the environment variable QUARNEL_INDEX_DIR names, if any), to a\n"
    "temporary file renamed when whole. The functions of quarnel.extended use it while\n"
    "it matches the dump, with the answers of a read from the start.\n"
    "\n"
    "Returns:\n"
    "    Dict with keys: index (str, the file written), bytes (int, its size),\n"
    "    checkpoints (int), snapshots (int), error (str | None, the error a read\n"
    "    of the whole dump ends in).";

Outcome index(const PathArg& path, const std::optional<PathArg>& directory,
              const CallContext& context) {
  std::string folder = directory ? directory->bytes : "";
  if (!directory && context.index) folder = context.index->directory;
  const std::string destination = index_path(path.bytes, folder);
  auto built = build_index(path.bytes, destination, context);
  if (!built) return std::unexpected(std::move(built.error()));
  std::error_code error;
  const auto bytes = std::filesystem::file_size(destination, error);
  PyRef dict = PyRef::steal(PyDict_New());
  std::optional<std::string> error_text;
  if (const auto& failure = built->error) error_text = failure->text();
  if (!dict || !set_item(dict.get(), "index", to_py_path(destination)) ||
      !set_item(dict.get(), "bytes", to_py_int(error ? 0 : bytes)) ||
      !set_item(dict.get(), "checkpoints", to_py_int(built->checkpoints.size())) ||
      !set_item(dict.get(), "snapshots", to_py_int(built->snapshots.size())) ||
      !set_item(dict.get(), "error", to_py_optional(error_text, to_py_str))) {
    return PyRef{};
  }
  return dict;
}

}  // namespace

PyMethodDef index_extended_method = define_function<kParams, kConverters, index>(kDoc);

}  // namespace quarnel::python

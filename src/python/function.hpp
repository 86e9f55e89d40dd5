// The frame of every module function: its method entry, argument binding and
// conversion, the guard, the call context and the raising of core errors.
#pragma once

#include <Python.h>

#include <expected>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "src/lib/call_context.hpp"
#include "src/lib/vcd_error.hpp"
#include "src/python/call_context.hpp"
#include "src/python/convert.hpp"
#include "src/python/errors.hpp"
#include "src/python/params.hpp"
#include "src/python/pyref.hpp"

namespace quarnel::python {

// What a function's body returns: the result object; an empty PyRef when a
// Python exception is set (a builder failed, a signal handler raised); or the
// core's error, which the frame raises.
using Outcome = Result<PyRef>;

// The core's result made into the function's: its error as it is, its value
// through `build` (a result builder of convert.hpp, or a lambda). The
// std::expected::transform of C++23, which libstdc++ 12 does not have yet.
template <class T, class Build>
Outcome build_result(Result<T> core_result, Build&& build) {
  if (!core_result) return std::unexpected(std::move(core_result.error()));
  return std::forward<Build>(build)(std::move(*core_result));
}

// Writes "quarnel: {text}" and a newline to sys.stderr, keeping any
// exception that is set.
void write_note(const std::string& text);

namespace detail {

// The objects the caller gave for the path parameters among `values` (the
// converted arguments), in order: the inputs that a core error names.
template <class... T>
std::vector<PyObject*> given_paths(const std::tuple<T...>& values) {
  std::vector<PyObject*> paths;
  const auto add = [&](const auto& value) {
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(value)>, PathArg>) {
      paths.push_back(value.given.get());
    }
  };
  std::apply([&](const auto&... value) { (add(value), ...); }, values);
  return paths;
}

// The keyword-only `buses` of the functions of quarnel.extended that take
// names, taken out of `kwargs` into `buses`: a new dict without it, or no
// dict when the call gave no other keyword.
PyResult<PyRef> take_buses_keyword(PyObject* kwargs, bool& buses);
// `doc` with "*, buses=False" added to the signature on its first line.
const char* with_buses_signature(const char* doc);

template <const ParamTable& table, const auto& converters, auto body, bool takes_buses>
PyObject* function_entry(PyObject* module, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    bool buses = false;
    PyRef other_keywords;
    if constexpr (takes_buses) {
      auto taken = take_buses_keyword(kwargs, buses);
      if (!taken) return nullptr;
      other_keywords = std::move(*taken);
      kwargs = other_keywords.get();
    }
    auto arguments = std::apply(
        [&](const auto&... convert) { return convert_arguments<table>(args, kwargs, convert...); },
        converters);
    if (!arguments) return nullptr;
    CallContext context = call_context(module);
    context.buses = buses;
    // Why an index was ignored: a line each on stderr, whatever the outcome.
    std::vector<std::string> notes;
    if (context.index) context.index->notes = &notes;
    Outcome outcome = std::apply(
        [&](auto&... value) -> Outcome {
          return body(std::move(value)..., std::as_const(context));
        },
        *arguments);
    for (const std::string& note : notes) write_note(note);
    if (!outcome) return raise_vcd_error(outcome.error(), given_paths(*arguments));
    return outcome->release();
  });
}

}  // namespace detail

// The method entry of function `table.function`, documented by `doc`. A call
// binds its arguments to `table` and converts them with `converters` (a
// tuple, one converter per parameter; convert_arguments), then runs
// `body(converted values..., context)`, all inside run_guarded, with the
// context of the call (call_context): the dialect of the module the function
// belongs to, the signal hook and the scan settings.
// The body calls the core and builds the result (build_result); it takes
// its paths (PathArg) by const reference, since a core error names them
// after it returns.
template <const ParamTable& table, const auto& converters, auto body, bool takes_buses = false>
PyMethodDef define_function(const char* doc) {
  return {
      table.function,
      reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
          &detail::function_entry<table, converters, body, takes_buses>)),
      METH_VARARGS | METH_KEYWORDS,
      doc,
  };
}

// define_function for a function of quarnel.extended that takes names: it
// also takes the keyword-only `buses=False` (a bool), which asks that buses
// dumped one bit per variable be read whole (src/lib/buses.hpp).
template <const ParamTable& table, const auto& converters, auto body>
PyMethodDef define_bus_function(const char* doc) {
  return define_function<table, converters, body, true>(detail::with_buses_signature(doc));
}

}  // namespace quarnel::python

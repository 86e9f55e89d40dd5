// Conversions between Python objects and core values: the argument
// converters that a function lists next to its parameter table, and the
// builders of result objects.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "src/python/errors.hpp"
#include "src/python/params.hpp"
#include "src/python/pyref.hpp"

namespace quarnel::python {

// ---- Argument converters ----------------------------------------------------
//
// A converter takes the (non-null) object given for a parameter and returns
// the core value, or raises. The plain converters have no default, so their
// parameters must be required; `or_none` and `with_default` supply the value
// of a parameter the call left out.

// str or a subclass, as UTF-8. A str with lone surrogates raises the
// interpreter's UnicodeEncodeError.
PyResult<std::string> as_text(PyObject* value);

// A path to read: the bytes that name the file, encoded as os.fsencode
// encodes (so the undecodable bytes of a name, held as lone surrogates, are
// given back), and the objects that results and errors show it by.
struct PathArg {
  std::string bytes;
  PyRef given;  // the object the caller gave
  PyRef text;   // the path as a str
};
// str or a subclass.
PyResult<PathArg> as_path(PyObject* value);
// str, or an os.PathLike whose __fspath__ gives one.
PyResult<PathArg> as_path_like(PyObject* value);
// Any sequence other than a str, iterated; each item as text.
PyResult<std::vector<std::string>> as_text_list(PyObject* value);
// int or a subclass, or an object with __index__; 0 to 2**64-1, otherwise
// the interpreter's OverflowError.
PyResult<std::uint64_t> as_u64(PyObject* value);
PyResult<std::size_t> as_size(PyObject* value);
// True or False, or a numpy boolean through its __bool__.
PyResult<bool> as_bool(PyObject* value);

template <class Converter>
using converted_t = typename std::invoke_result_t<const Converter&, PyObject*>::value_type;

// None, or a left-out argument, is absent.
template <class Converter>
struct OrNone {
  using value_type = std::optional<converted_t<Converter>>;
  Converter convert;

  PyResult<value_type> operator()(PyObject* value) const {
    if (value == Py_None) return value_type{};
    auto converted = convert(value);
    if (!converted) return kRaised;
    return value_type{std::move(*converted)};
  }
  value_type absent() const { return value_type{}; }
};

template <class Converter>
constexpr OrNone<Converter> or_none(Converter convert) {
  return {convert};
}

// A left-out argument takes `fallback`; an explicit None is converted (and
// refused) like any other value.
template <class Converter>
struct WithDefault {
  using value_type = converted_t<Converter>;
  Converter convert;
  value_type fallback;

  PyResult<value_type> operator()(PyObject* value) const { return convert(value); }
  value_type absent() const { return fallback; }
};

template <class Converter>
constexpr WithDefault<Converter> with_default(Converter convert, converted_t<Converter> fallback) {
  return {convert, std::move(fallback)};
}

// Turns a conversion failure of exactly TypeError into
// TypeError("argument '<name>': <message>"); other errors stay as they are.
void prefix_argument_error(const char* name) noexcept;

namespace detail {

template <class Converter, class T>
bool convert_slot(const char* name, PyObject* value, const Converter& convert,
                  std::optional<T>& out) {
  if (value == nullptr) {
    if constexpr (requires { convert.absent(); }) {
      out.emplace(convert.absent());
      return true;
    } else {
      raise_panic("a parameter without default was left unbound");
      return false;
    }
  }
  auto converted = convert(value);
  if (!converted) {
    prefix_argument_error(name);
    return false;
  }
  out.emplace(std::move(*converted));
  return true;
}

}  // namespace detail

// Binds a call to `table` and converts each parameter with the converter at
// its position, in parameter order; the first failure is raised. Returns the
// converted values as a tuple, ready for a structured binding.
template <const ParamTable& table, class... Converters>
PyResult<std::tuple<converted_t<Converters>...>> convert_arguments(
    PyObject* args, PyObject* kwargs, const Converters&... converters) {
  static_assert(sizeof...(Converters) == table.size(), "one converter per parameter");
  static_assert(table.size() <= kMaxParams);
  static_assert(table.required_positional <= table.positional.size());

  const auto slots = bind_arguments(table, args, kwargs);
  if (!slots) return kRaised;
  std::tuple<std::optional<converted_t<Converters>>...> values;
  // && stops at the first failure, so parameters convert in order.
  const auto convert_all = [&]<std::size_t... I>(std::index_sequence<I...>) {
    return (detail::convert_slot(table.name_of(I), (*slots)[I], converters, std::get<I>(values)) &&
            ...);
  };
  if (!convert_all(std::index_sequence_for<Converters...>{})) return kRaised;
  return std::apply(
      [](auto&... value) { return std::tuple<converted_t<Converters>...>(std::move(*value)...); },
      values);
}

// ---- Result builders ----------------------------------------------------------
//
// Each returns a new reference, or an empty PyRef with an exception set.

// str from UTF-8 text.
PyRef to_py_str(std::string_view text);
// str from the bytes of a file's path, as os.fsdecode gives it.
PyRef to_py_path(std::string_view path);
// list of str, order kept, from any list whose items convert to
// std::string_view (a vector of strings, SignalNames).
template <class Texts>
PyRef to_py_str_list(const Texts& texts) {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(texts.size())));
  if (!list) return {};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    PyRef item = to_py_str(texts[i]);
    if (!item) return {};
    // PyList_SetItem takes over the reference, also when it fails.
    if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release()) < 0) return {};
  }
  return list;
}
PyRef to_py_int(std::uint64_t number);
PyRef to_py_bool(bool value);
PyRef py_none();

// None when absent, otherwise build(*value), for example
// to_py_optional(time, to_py_int).
template <class T, class Build>
PyRef to_py_optional(const std::optional<T>& value, Build build) {
  return value ? build(*value) : py_none();
}

// dict[key] = value; false with an exception set if `value` is empty (its
// builder failed) or the insertion fails.
bool set_item(PyObject* dict, const char* key, const PyRef& value);

}  // namespace quarnel::python

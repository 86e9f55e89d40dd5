#include "src/python/params.hpp"

#include <optional>
#include <string>
#include <vector>

#include "src/python/pyref.hpp"

namespace quarnel::python {

namespace {

// The name used in messages, for example "list_signals()".
std::string full_name(const ParamTable& table) { return std::string(table.function) + "()"; }

PyResult<Slots> raise_type_error(const std::string& text) {
  PyErr_SetString(PyExc_TypeError, text.c_str());
  return kRaised;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_list(std::span<const char* const> names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) text += ',';
      text += i + 1 == names.size() ? " and " : " ";
    }
    text += '\'';
    text += names[i];
    text += '\'';
  }
  return text;
}

PyResult<Slots> raise_missing(const ParamTable& table, std::span<const char* const> names,
                              const char* kind) {
  return raise_type_error(full_name(table) + " missing " + std::to_string(names.size()) +
                          " required " + kind + (names.size() == 1 ? " argument" : " arguments") +
                          ": " + quoted_list(names));
}

// The slot of the parameter that keyword `key` names, or nullopt. Positional-only
// parameters cannot be named.
std::optional<std::size_t> keyword_slot(const ParamTable& table, PyObject* key) {
  if (!PyUnicode_Check(key)) return std::nullopt;
  for (std::size_t k = 0; k < table.keyword_only.size(); ++k) {
    if (PyUnicode_CompareWithASCIIString(key, table.keyword_only[k].name) == 0) {
      return table.positional.size() + k;
    }
  }
  for (std::size_t i = table.positional_only; i < table.positional.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(key, table.positional[i]) == 0) return i;
  }
  return std::nullopt;
}

}  // namespace

PyResult<Slots> bind_arguments(const ParamTable& table, PyObject* args, PyObject* kwargs) {
  if (table.size() > kMaxParams) {
    raise_panic("parameter table longer than the binding slots");
    return kRaised;
  }
  Slots slots{};
  const std::size_t positional = table.positional.size();

  const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
  if (given < 0) return kRaised;
  const auto count = static_cast<std::size_t>(given);
  if (count > positional) {
    const std::string verb = count == 1 ? "was" : "were";
    if (table.required_positional != positional) {
      return raise_type_error(full_name(table) + " takes from " +
                              std::to_string(table.required_positional) + " to " +
                              std::to_string(positional) + " positional arguments but " +
                              std::to_string(count) + " " + verb + " given");
    }
    return raise_type_error(full_name(table) + " takes " + std::to_string(positional) +
                            " positional arguments but " + std::to_string(count) + " " + verb +
                            " given");
  }
  for (std::size_t i = 0; i < count; ++i) {
    slots[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
    if (slots[i] == nullptr) return kRaised;
  }

  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      const auto slot = keyword_slot(table, key);
      if (!slot) {
        PyRef key_text = PyRef::steal(PyObject_Str(key));
        if (!key_text) return kRaised;
        const std::string name = full_name(table);
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", name.c_str(),
                     key_text.get());
        return kRaised;
      }
      if (slots[*slot] != nullptr) {
        return raise_type_error(full_name(table) + " got multiple values for argument '" +
                                table.name_of(*slot) + "'");
      }
      slots[*slot] = value;
    }
  }

  std::vector<const char*> missing;
  for (std::size_t i = 0; i < table.required_positional; ++i) {
    if (slots[i] == nullptr) missing.push_back(table.positional[i]);
  }
  if (!missing.empty()) return raise_missing(table, missing, "positional");
  for (std::size_t k = 0; k < table.keyword_only.size(); ++k) {
    if (table.keyword_only[k].required && slots[positional + k] == nullptr) {
      missing.push_back(table.keyword_only[k].name);
    }
  }
  if (!missing.empty()) return raise_missing(table, missing, "keyword");
  return slots;
}

}  // namespace quarnel::python

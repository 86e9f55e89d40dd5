// The dicts that result records are copied from: all with one list of str
// keys, in one order.
#pragma once

#include <Python.h>

#include <span>

#include "src/python/pyref.hpp"

namespace quarnel::python {

// Makes dicts of a fixed list of keys, for copying with PyDict_Copy. A plain
// dict keeps a table of its keys of its own, and so does each of its copies.
// The attribute dicts of a class's instances instead share one table of keys,
// and so do their copies, which hold their values only: about half the
// memory of a plain copy, and quicker to make. share_keys() switches to such
// dicts when the interpreter makes them and their copies are the smaller.
// Either way the copies are plain dicts, with the keys in the order given.
// One object serves one list of keys.
class TemplateDicts {
 public:
  // A new dict of `keys` (str) with `values`, one per key, in order, or an
  // empty PyRef with an exception set.
  PyRef make(std::span<PyObject* const> keys, std::span<PyObject* const> values) const;

  // Makes later templates of `keys` share one table of keys, if that makes
  // their copies smaller. Costs a class and a few dozen instances: worth it
  // for many copies only. False with an exception set on failure.
  bool share_keys(std::span<PyObject* const> keys);

 private:
  PyRef class_;      // set when templates are the attribute dicts of its instances
  PyRef dict_name_;  // "__dict__", with class_
};

}  // namespace quarnel::python

// The dicts that result records are copied from: all with one list of str
// keys, in one order.
#pragma once

#include <Python.h>

#include <span>
#include <vector>

#include "src/python/pyref.hpp"

namespace quarnel::python {

// Makes dicts of a fixed list of keys, for copying with PyDict_Copy. A plain
// dict keeps a table of its keys of its own, and so does each of its copies.
// The attribute dicts of a class's instances instead share one table of keys,
// and so do their copies, which hold their values only: about half the
// memory of a plain copy, and quicker to make. share_keys() switches to such
// dicts when the interpreter makes them and their copies are the smaller.
// Either way the copies are plain dicts, with the keys in the order given.
class TemplateDicts {
 public:
  // `keys` are str, kept alive by the caller.
  explicit TemplateDicts(std::span<PyObject* const> keys) : keys_(keys.begin(), keys.end()) {}

  // A new dict of the keys with `values` (one per key, in order), or an
  // empty PyRef with an exception set.
  PyRef make(std::span<PyObject* const> values) const;

  // Makes later templates share one table of keys, if that makes their
  // copies smaller. Costs a class and a few dozen instances: worth it for
  // many copies only. False with an exception set on failure.
  bool share_keys();

 private:
  PyRef make_plain(std::span<PyObject* const> values) const;
  PyRef make_shared(std::span<PyObject* const> values) const;

  std::vector<PyObject*> keys_;
  PyRef class_;  // set when templates are instances' attribute dicts
};

}  // namespace quarnel::python

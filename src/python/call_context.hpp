// The call context of a module function: the dialect of its module, the
// signal hook, and the scan settings from the environment at the time of the
// call.
#pragma once

#include <Python.h>

#include "src/lib/call_context.hpp"
#include "vcd/dialect.hpp"

namespace quarnel::python {

// The dialect the functions of `module` read: quarnel reads the specified
// one, quarnel.extended the extended one (module.cpp).
vcd::Dialect module_dialect(PyObject* module);

// The context of one call of a function of `module`. The environment is read
// once, here: QUARNEL_THREADS, the threads that read one body (default: the
// cores this process may run on), and QUARNEL_CHUNK_BYTES, the size of the
// pieces (default 4 MiB); values that are not positive integers are ignored.
// The functions of quarnel.extended use the indexes of dumps, kept beside
// them or in the directory QUARNEL_INDEX_DIR names.
CallContext call_context(PyObject* module);

}  // namespace quarnel::python

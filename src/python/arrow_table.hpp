// The Python object of a table that a read fills while a consumer takes its
// batches: __arrow_c_schema__, __arrow_c_stream__, and iterators over its
// batches for methods such as rows(). extract_table.cpp and sample.cpp make
// their tables of it, each with a type of its own.
#pragma once

#include <Python.h>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "src/lib/batch_stream.hpp"
#include "src/lib/call_context.hpp"
#include "src/lib/vcd_error.hpp"
#include "src/python/arrow_export.hpp"
#include "src/python/convert.hpp"
#include "src/python/errors.hpp"
#include "src/python/function.hpp"
#include "src/python/interrupt.hpp"
#include "src/python/pyref.hpp"

namespace quarnel::python {

// A new object of the type `spec` makes (once for the process), its fields
// zeroed; and the deallocation of one.
PyRef new_object(PyType_Spec& spec);
void free_object(PyObject* self);

// Whether `path` names a regular file, which a table can open again.
bool is_regular_file(const std::string& path);

// A capsule that owns the exported structure from here on; null, with the
// structure released, when no capsule can be made.
PyObject* schema_capsule(std::unique_ptr<ArrowSchema> schema);
PyObject* stream_capsule(std::unique_ptr<ArrowArrayStream> stream);

// What a table is made from, and the read that the call started.
template <class Batch>
struct TableSource {
  PyRef path_object;               // the path as the caller gave it, for errors
  bool opens_again = false;        // a regular file, not a pipe
  std::vector<std::string> names;  // what the columns stand for, as the reads say
  std::function<std::unique_ptr<BatchStream<Batch>>()> new_read;
  std::shared_ptr<PendingRead<Batch>> pending;

  // The read the call started, while no consumer has used it; a new one
  // afterwards. Empty with an exception set when the file cannot be read
  // again.
  std::optional<TakenRead<Batch>> take() {
    if (auto started = pending->take()) return TakenRead<Batch>(std::move(started), pending);
    if (!opens_again) {
      PyObject* const inputs[] = {path_object.get()};
      raise_vcd_error({VcdError::Kind::Io, "a pipe is read once: this table has been read"},
                      inputs);
      return std::nullopt;
    }
    return TakenRead<Batch>(new_read(), pending);
  }
};

template <class Batch>
struct TableObject {
  PyObject ob_base;
  TableSource<Batch>* source;
};

// The tp_new of the types of tables and their iterators: only the module
// makes them, with their state.
PyObject* refuse_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);

template <class Batch>
TableSource<Batch>* source_of(PyObject* self) {
  return reinterpret_cast<TableObject<Batch>*>(self)->source;
}

template <class Batch>
void table_dealloc(PyObject* self) {
  delete reinterpret_cast<TableObject<Batch>*>(self)->source;
  free_object(self);
}

template <class Batch>
PyObject* table_schema(PyObject* self, PyObject* /*unused*/) {
  return run_guarded([&]() -> PyObject* {
    TableSource<Batch>* source = source_of<Batch>(self);
    auto schema = std::make_unique<ArrowSchema>();
    if (export_schema<Batch>(source->names, schema.get()) != 0) return PyErr_NoMemory();
    return schema_capsule(std::move(schema));
  });
}

template <class Batch>
PyObject* table_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    // The requested schema, if any, is not followed: the columns have one
    // form only, which the consumer may cast.
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* requested = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__",
                                     const_cast<char**>(keywords), &requested)) {
      return nullptr;
    }
    TableSource<Batch>* source = source_of<Batch>(self);
    if (!main_thread_known()) return nullptr;
    auto batches = source->take();
    if (!batches) return nullptr;
    auto stream = std::make_unique<ArrowArrayStream>();
    if (export_stream<Batch>(std::move(*batches), ctrl_c_interrupt(), stream.get()) != 0) {
      return PyErr_NoMemory();
    }
    return stream_capsule(std::move(stream));
  });
}

// The type of a table of `Batch`es, with its name, methods and doc.
template <class Batch>
struct TableType {
  TableType(const char* name, PyMethodDef* methods, const char* doc)
      : slots{{{Py_tp_new, reinterpret_cast<void*>(&refuse_new)},
               {Py_tp_dealloc, reinterpret_cast<void*>(&table_dealloc<Batch>)},
               {Py_tp_methods, methods},
               {Py_tp_doc, const_cast<char*>(doc)},
               {0, nullptr}}},
        spec{name, sizeof(TableObject<Batch>), 0, Py_TPFLAGS_DEFAULT, slots.data()} {}
  TableType(const TableType&) = delete;
  TableType& operator=(const TableType&) = delete;

  std::array<PyType_Slot, 5> slots;
  PyType_Spec spec;
};

// The methods every table has, in a type's method table.
template <class Batch>
constexpr PyMethodDef schema_method() {
  return {"__arrow_c_schema__", reinterpret_cast<PyCFunction>(&table_schema<Batch>), METH_NOARGS,
          "__arrow_c_schema__()\n--\n\nThe schema of the table, as a PyCapsule "
          "\"arrow_schema\"."};
}
template <class Batch>
constexpr PyMethodDef stream_method() {
  return {"__arrow_c_stream__",
          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&table_stream<Batch>)),
          METH_VARARGS | METH_KEYWORDS,
          "__arrow_c_stream__(requested_schema=None)\n--\n\nA new stream of the table's "
          "record batches, as a PyCapsule \"arrow_array_stream\"."};
}

// A table object of the type `spec` makes, on `source` whose read `started`
// is the call's: read up to its first batch here, so that the errors of a
// short table, and those of the header, are raised by the call, as the
// functions that give lists raise them.
template <class Batch>
Outcome new_table(PyType_Spec& spec, std::unique_ptr<TableSource<Batch>> source,
                  std::unique_ptr<BatchStream<Batch>> started, const CallContext& context) {
  if (auto error = started->first_error(context.interrupt)) {
    return std::unexpected(std::move(*error));
  }
  source->names = started->names();
  source->pending = std::make_shared<PendingRead<Batch>>(std::move(started));
  PyRef object = new_object(spec);
  if (!object) return PyRef{};
  reinterpret_cast<TableObject<Batch>*>(object.get())->source = source.release();
  return object;
}

// ---- iterators over the batches of one read of a table ---------------------

template <class Batch>
struct BatchCursor {
  std::optional<TakenRead<Batch>> batches;
  PyRef path;
  bool ended = false;

  // The next batch; null at the end, and with an exception set when the
  // read failed.
  std::shared_ptr<const Batch> next() {
    if (ended) return nullptr;
    // list(rows) runs no handler between rows: ask once a batch.
    if (PyErr_CheckSignals() != 0) return nullptr;
    auto item = batches->next(signal_interrupt());
    if (auto* batch = std::get_if<std::shared_ptr<const Batch>>(&item)) return std::move(*batch);
    ended = true;
    if (const auto* error = std::get_if<VcdError>(&item)) {
      PyObject* const inputs[] = {path.get()};
      raise_vcd_error(*error, inputs);
    }
    return nullptr;
  }

  // The next row: its batch, and its index in `row`; null at the end, and
  // with an exception set when the read failed.
  const Batch* next_row(std::size_t& row) {
    while (!batch_ || row_ == batch_->rows()) {
      batch_.reset();  // before the next is read
      batch_ = next();
      row_ = 0;
      if (!batch_) return nullptr;
    }
    row = row_++;
    return batch_.get();
  }

 private:
  std::shared_ptr<const Batch> batch_;  // of the rows of next_row()
  std::size_t row_ = 0;
};

// An iterator over a table's batches; State holds a cursor and what the
// iterator makes of the batches, and ready() prepares it once the read is
// taken.
template <class State>
struct IteratorObject {
  PyObject ob_base;
  State* state;
};

template <class State>
State& state_of(PyObject* self) {
  return *reinterpret_cast<IteratorObject<State>*>(self)->state;
}

template <class State>
void iterator_dealloc(PyObject* self) {
  delete reinterpret_cast<IteratorObject<State>*>(self)->state;
  free_object(self);
}

PyObject* iterator_self(PyObject* self);

// The type of an iterator whose state is a `State`, with its name and
// __next__.
template <class State>
struct IteratorType {
  IteratorType(const char* name, iternextfunc next)
      : slots{{{Py_tp_new, reinterpret_cast<void*>(&refuse_new)},
               {Py_tp_dealloc, reinterpret_cast<void*>(&iterator_dealloc<State>)},
               {Py_tp_iter, reinterpret_cast<void*>(&iterator_self)},
               {Py_tp_iternext, reinterpret_cast<void*>(next)},
               {0, nullptr}}},
        spec{name, sizeof(IteratorObject<State>), 0, Py_TPFLAGS_DEFAULT, slots.data()} {}
  IteratorType(const IteratorType&) = delete;
  IteratorType& operator=(const IteratorType&) = delete;

  std::array<PyType_Slot, 5> slots;
  PyType_Spec spec;
};

// A new iterator of the type `spec` makes, owning `state`, on a read of the
// table `self`.
template <class Batch, class State>
PyObject* new_iterator(PyObject* self, PyType_Spec& spec, std::unique_ptr<State> state) {
  TableSource<Batch>* source = source_of<Batch>(self);
  state->cursor.path = PyRef::borrow(source->path_object.get());
  auto batches = source->take();
  if (!batches) return nullptr;
  state->cursor.batches.emplace(std::move(*batches));
  if (!state->ready()) return nullptr;
  PyRef iterator = new_object(spec);
  if (!iterator) return nullptr;
  reinterpret_cast<IteratorObject<State>*>(iterator.get())->state = state.release();
  return iterator.release();
}

}  // namespace quarnel::python

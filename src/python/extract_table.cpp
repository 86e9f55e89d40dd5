// extract_table(path, signals, start=None, end=None): the changes of chosen
// signals as an Arrow table, for quarnel.extended.
#include <Python.h>
#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "src/lib/change_batch_stream.hpp"
#include "src/lib/change_text.hpp"
#include "src/python/arrow_export.hpp"
#include "src/python/convert.hpp"
#include "src/python/function.hpp"
#include "src/python/interrupt.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signals", "start", "end"};
constexpr KeywordOnlyParam kKeywordOnly[] = {{"strict", false}};

constexpr ParamTable kParams{
    .function = "extract_table",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = kKeywordOnly,
};
constexpr auto kConverters = std::make_tuple(as_path_like, as_text_list, or_none(as_u64),
                                             or_none(as_u64), with_default(as_bool, false));

constexpr char kDoc[] =
    "extract_table(path, signals, start=None, end=None, *, strict=False)\n"
    "--\n"
    "\n"
    "The records of extract() as an Arrow table of changes.\n"
    "\n"
    "Same arguments, rows (in the same order) and errors as extract(). The result\n"
    "implements the Arrow PyCapsule interface (__arrow_c_stream__,\n"
    "__arrow_c_schema__), so pyarrow.table(t), polars.DataFrame(t) and DuckDB read it\n"
    "without a copy, in record batches of at most 65536 rows. Columns:\n"
    "    time:    uint64, the time of the change.\n"
    "    signal:  dictionary<int32, utf8>, the name asked for.\n"
    "    value:   utf8, the value text that extract() gives.\n"
    "    integer: uint64, the value of bits of 0 and 1 when it fits in 64 bits;\n"
    "             null for x, z and other letters, larger values, reals and strings.\n"
    "    real:    float64, the value of a real change; null otherwise.\n"
    "\n"
    "The body is read while the consumer takes the batches, a few batches ahead, so\n"
    "a table of any length is streamed in bounded memory. The call itself reads up\n"
    "to the first batch: errors found before it are raised here, as extract()\n"
    "raises them; an error found later ends the stream with the same message.\n"
    "A stream released before it gave a batch leaves the read to the next one; any\n"
    "other stream reads the file anew, which a pipe refuses. With strict=True the\n"
    "file is read as quarnel.extract reads it (IEEE 1364 alone).";

constexpr char kTypeDoc[] =
    "The changes of chosen signals, as extract_table() returns them: an Arrow table\n"
    "read through __arrow_c_stream__ or described by __arrow_c_schema__; rows()\n"
    "iterates over its rows. A table of a regular file can be read any number of\n"
    "times, each a new read of the file; one of a pipe once.";

// What a table is made from, and the read that the call started.
struct TableSource {
  std::string path;
  PyRef path_object;  // the path as the caller gave it, for errors
  std::vector<std::string> signals;
  Window window;
  CallContext context;
  std::shared_ptr<PendingRead> pending;
  // A regular file, which a new read opens again; not a pipe.
  bool opens_again = false;

  std::unique_ptr<ChangeBatchStream> new_read() const {
    return std::make_unique<ChangeBatchStream>(path, signals, window, context);
  }

  // The read the call started, while no consumer has used it; a new one
  // afterwards. Empty with an exception set when the file cannot be read
  // again.
  std::optional<TakenRead> take() {
    if (auto started = pending->take()) return TakenRead(std::move(started), pending);
    if (!opens_again) {
      PyObject* const inputs[] = {path_object.get()};
      raise_vcd_error({VcdError::Kind::Io, "a pipe is read once: this table has been read"},
                      inputs);
      return std::nullopt;
    }
    return TakenRead(new_read(), pending);
  }
};

struct TableObject {
  PyObject ob_base;
  TableSource* source;
};

TableSource* source_of(PyObject* self) {
  auto* source = reinterpret_cast<TableObject*>(self)->source;
  if (source == nullptr) PyErr_SetString(PyExc_TypeError, "not a table made by extract_table");
  return source;
}

// A new object of a type made by PyType_FromSpec, its fields zeroed.
PyRef new_object(PyObject* type) {
  if (type == nullptr) return PyRef{};
  auto* alloc = reinterpret_cast<allocfunc>(
      PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  return PyRef::steal(alloc(reinterpret_cast<PyTypeObject*>(type), 0));
}

void free_object(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  auto* free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

void table_dealloc(PyObject* self) {
  delete reinterpret_cast<TableObject*>(self)->source;
  free_object(self);
}

void schema_capsule_free(PyObject* capsule) {
  auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(capsule, "arrow_schema"));
  if (schema == nullptr) {
    PyErr_Clear();
    return;
  }
  if (schema->release != nullptr) schema->release(schema);
  delete schema;
}

void stream_capsule_free(PyObject* capsule) {
  auto* stream =
      static_cast<ArrowArrayStream*>(PyCapsule_GetPointer(capsule, "arrow_array_stream"));
  if (stream == nullptr) {
    PyErr_Clear();
    return;
  }
  if (stream->release != nullptr) stream->release(stream);
  delete stream;
}

// A capsule that owns `exported` (an exported Arrow structure) from here on;
// without one, the structure is released here.
template <class Exported>
PyObject* capsule_of(std::unique_ptr<Exported> exported, const char* name,
                     PyCapsule_Destructor destructor) {
  Exported* owned = exported.release();
  PyObject* capsule = PyCapsule_New(owned, name, destructor);
  if (capsule == nullptr) {
    owned->release(owned);
    delete owned;
  }
  return capsule;
}

PyObject* table_schema(PyObject* self, PyObject* /*unused*/) {
  return run_guarded([&]() -> PyObject* {
    if (source_of(self) == nullptr) return nullptr;
    auto schema = std::make_unique<ArrowSchema>();
    if (export_change_schema(schema.get()) != 0) return PyErr_NoMemory();
    return capsule_of(std::move(schema), "arrow_schema", &schema_capsule_free);
  });
}

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
    TableSource* source = source_of(self);
    if (source == nullptr || !main_thread_known()) return nullptr;
    auto batches = source->take();
    if (!batches) return nullptr;
    auto stream = std::make_unique<ArrowArrayStream>();
    if (export_change_stream(std::move(*batches), ctrl_c_interrupt(), stream.get()) != 0) {
      return PyErr_NoMemory();
    }
    return capsule_of(std::move(stream), "arrow_array_stream", &stream_capsule_free);
  });
}

// ---- rows() and text(): iterators over the rows ------------------------------

// The batches of one read of a table, as its iterators take them.
struct BatchCursor {
  std::optional<TakenRead> batches;
  PyRef path;
  bool ended = false;

  // The next batch; null at the end, and with an exception set when the
  // read failed.
  std::shared_ptr<const ChangeBatch> next() {
    if (ended) return nullptr;
    // list(rows) runs no handler between rows: ask once a batch.
    if (PyErr_CheckSignals() != 0) return nullptr;
    ChangeBatchStream::Item item = batches->next(signal_interrupt());
    if (auto* batch = std::get_if<std::shared_ptr<const ChangeBatch>>(&item)) {
      return std::move(*batch);
    }
    ended = true;
    if (const auto* error = std::get_if<VcdError>(&item)) {
      PyObject* const inputs[] = {path.get()};
      raise_vcd_error(*error, inputs);
    }
    return nullptr;
  }
};

// An iterator over a table's rows; State holds a cursor and what the
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

PyObject* iterator_self(PyObject* self) {
  Py_INCREF(self);
  return self;
}

// A new iterator of type `type` that owns `state`, on a read of the table
// `self`.
template <class State>
PyObject* new_iterator(PyObject* self, PyObject* type, std::unique_ptr<State> state) {
  TableSource* source = source_of(self);
  if (source == nullptr) return nullptr;
  state->cursor.path = PyRef::borrow(source->path_object.get());
  auto batches = source->take();
  if (!batches) return nullptr;
  state->cursor.batches.emplace(std::move(*batches));
  if (!state->ready()) return nullptr;
  PyRef iterator = new_object(type);
  if (!iterator) return nullptr;
  reinterpret_cast<IteratorObject<State>*>(iterator.get())->state = state.release();
  return iterator.release();
}

struct RowsState {
  BatchCursor cursor;
  PyRef names;  // a tuple of str, the dictionary of the signal column
  std::shared_ptr<const ChangeBatch> batch;
  std::size_t row = 0;

  bool ready() {
    const auto& texts = cursor.batches->names();
    names = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(texts.size())));
    if (!names) return false;
    for (std::size_t i = 0; i < texts.size(); ++i) {
      PyRef name = to_py_str(texts[i]);
      if (!name) return false;
      PyTuple_SetItem(names.get(), static_cast<Py_ssize_t>(i), name.release());
    }
    return true;
  }
};

PyObject* rows_next(PyObject* self) {
  return run_guarded([&]() -> PyObject* {
    auto& state = state_of<RowsState>(self);
    while (!state.batch || state.row == state.batch->rows()) {
      state.batch.reset();  // before the next is read
      state.batch = state.cursor.next();
      state.row = 0;
      if (!state.batch) return nullptr;  // StopIteration, or the error raised
    }
    const ChangeBatch& batch = *state.batch;
    const std::size_t row = state.row++;
    const auto begin = static_cast<std::size_t>(batch.value_offsets[row]);
    const auto end = static_cast<std::size_t>(batch.value_offsets[row + 1]);
    PyRef time = to_py_int(batch.time[row]);
    PyRef value = to_py_str(std::string_view(batch.value_data).substr(begin, end - begin));
    if (!time || !value) return nullptr;
    PyObject* name = PyTuple_GetItem(state.names.get(), batch.signal[row]);
    return PyTuple_Pack(3, name, time.get(), value.get());
  });
}

PyType_Slot kRowsSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&iterator_dealloc<RowsState>)},
    {Py_tp_iter, reinterpret_cast<void*>(&iterator_self)},
    {Py_tp_iternext, reinterpret_cast<void*>(&rows_next)},
    {0, nullptr},
};

PyType_Spec kRowsSpec = {
    "quarnel.extended.ChangeRows",
    sizeof(IteratorObject<RowsState>),
    0,
    Py_TPFLAGS_DEFAULT,
    kRowsSlots,
};

PyObject* table_rows(PyObject* self, PyObject* /*unused*/) {
  return run_guarded([&]() -> PyObject* {
    static PyObject* type = PyType_FromSpec(&kRowsSpec);  // kept for the process
    if (type == nullptr) return nullptr;
    return new_iterator(self, type, std::make_unique<RowsState>());
  });
}

struct TextState {
  BatchCursor cursor;
  TextForm form{};
  std::optional<ChangeTextWriter> writer;
  bool finished = false;

  bool ready() {
    writer.emplace(form, cursor.batches->names());
    return true;
  }
};

PyObject* text_next(PyObject* self) {
  return run_guarded([&]() -> PyObject* {
    auto& state = state_of<TextState>(self);
    if (state.finished) return nullptr;
    std::string text;
    if (auto batch = state.cursor.next()) {
      state.writer->write(*batch, text);
    } else {
      if (PyErr_Occurred() != nullptr) return nullptr;
      state.finished = true;
      state.writer->finish(text);
      if (text.empty()) return nullptr;
    }
    return to_py_str(text).release();
  });
}

PyType_Slot kTextSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&iterator_dealloc<TextState>)},
    {Py_tp_iter, reinterpret_cast<void*>(&iterator_self)},
    {Py_tp_iternext, reinterpret_cast<void*>(&text_next)},
    {0, nullptr},
};

PyType_Spec kTextSpec = {
    "quarnel.extended.ChangeText",
    sizeof(IteratorObject<TextState>),
    0,
    Py_TPFLAGS_DEFAULT,
    kTextSlots,
};

PyObject* table_text(PyObject* self, PyObject* form) {
  return run_guarded([&]() -> PyObject* {
    static PyObject* type = PyType_FromSpec(&kTextSpec);  // kept for the process
    if (type == nullptr) return nullptr;
    auto state = std::make_unique<TextState>();
    auto name = as_text(form);
    if (!name) return nullptr;
    if (!text_form_named(*name, state->form)) {
      PyErr_SetString(PyExc_ValueError, "form must be 'csv', 'jsonl', 'json' or 'aligned'");
      return nullptr;
    }
    return new_iterator(self, type, std::move(state));
  });
}

PyMethodDef kTableMethods[] = {
    {"__arrow_c_schema__", reinterpret_cast<PyCFunction>(table_schema), METH_NOARGS,
     "__arrow_c_schema__()\n--\n\nThe schema of the table, as a PyCapsule \"arrow_schema\"."},
    {"__arrow_c_stream__",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&table_stream)),
     METH_VARARGS | METH_KEYWORDS,
     "__arrow_c_stream__(requested_schema=None)\n--\n\nA new stream of the table's record "
     "batches, as a PyCapsule \"arrow_array_stream\"."},
    {"rows", reinterpret_cast<PyCFunction>(table_rows), METH_NOARGS,
     "rows()\n--\n\nAn iterator over the rows as (signal, time, value) tuples, the records of\n"
     "extract() in order, read as it goes. Needs no Arrow library."},
    {"text", reinterpret_cast<PyCFunction>(table_text), METH_O,
     "text(form)\n--\n\nAn iterator over the rows as text, one str a record batch, read as it\n"
     "goes: form 'csv' (a header line, then signal,time,value lines quoted as the\n"
     "csv module quotes), 'jsonl' (one JSON object a line, as json.dumps writes\n"
     "it), 'json' (one JSON list of those objects, indented) or 'aligned' (a\n"
     "header and columns as wide as the first 4096 rows need)."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kTableSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&table_dealloc)},
    {Py_tp_methods, kTableMethods},
    {Py_tp_doc, const_cast<char*>(kTypeDoc)},
    {0, nullptr},
};

PyType_Spec kTableSpec = {
    "quarnel.extended.ChangeTable", sizeof(TableObject), 0, Py_TPFLAGS_DEFAULT, kTableSlots,
};

Outcome extract_table(const PathArg& path, const std::vector<std::string>& signals,
                      std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                      bool strict, const CallContext& context) {
  auto source = std::make_unique<TableSource>();
  source->path = path.bytes;
  source->path_object = PyRef::borrow(path.given.get());
  source->signals = signals;
  source->window = Window{start, end};
  source->context = context;
  source->context.interrupt = nullptr;
  if (strict) {
    source->context.dialect = vcd::Dialect::specified;
    source->context.index.reset();  // an index is of the extended dialect
  }
  struct stat status{};
  source->opens_again = ::stat(source->path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
  // The first read says why an index was ignored before it hands out a
  // batch or ends, so within this call, into the call's notes (which the
  // read stops before they go: `started` is joined first); later reads of
  // the table say nothing more.
  auto started = source->new_read();
  if (source->context.index) source->context.index->notes = nullptr;
  // Read up to the first batch, so that the errors of a short table, and
  // those of the header, are raised by the call as extract raises them.
  if (auto error = started->first_error(context.interrupt)) {
    return std::unexpected(std::move(*error));
  }
  source->pending = std::make_shared<PendingRead>(std::move(started));
  static PyObject* type = PyType_FromSpec(&kTableSpec);  // kept for the process
  PyRef object = new_object(type);
  if (!object) return PyRef{};
  reinterpret_cast<TableObject*>(object.get())->source = source.release();
  return object;
}
}  // namespace

PyMethodDef extract_table_extended_method =
    define_bus_function<kParams, kConverters, extract_table>(kDoc);

}  // namespace quarnel::python

// sample(path, clock, signals, edge="rising", start=None, end=None): chosen
// signals sampled at the edges of a clock, as an Arrow table, for
// quarnel.extended.
#include "src/lib/sample.hpp"

#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "src/lib/sample_stream.hpp"
#include "src/python/arrow_export.hpp"
#include "src/python/convert.hpp"
#include "src/python/function.hpp"
#include "src/python/interrupt.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "clock", "signals", "edge", "start", "end"};
constexpr KeywordOnlyParam kKeywordOnly[] = {{"after", false}};

constexpr ParamTable kParams{
    .function = "sample",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 3,
    .keyword_only = kKeywordOnly,
};

// "rising", "falling" or "both".
PyResult<ClockEdge> as_edge(PyObject* value) {
  auto text = as_text(value);
  if (!text) return kRaised;
  if (*text == "rising") return ClockEdge::Rising;
  if (*text == "falling") return ClockEdge::Falling;
  if (*text == "both") return ClockEdge::Both;
  PyErr_Format(PyExc_ValueError, "edge must be 'rising', 'falling' or 'both', not %R", value);
  return kRaised;
}

constexpr auto kConverters =
    std::make_tuple(as_path_like, as_text, as_text_list, with_default(as_edge, ClockEdge::Rising),
                    or_none(as_u64), or_none(as_u64), with_default(as_bool, false));

constexpr char kDoc[] =
    "sample(path, clock, signals, edge='rising', start=None, end=None, *, after=False)\n"
    "--\n"
    "\n"
    "Signals sampled at the edges of a clock, one row per edge, as an Arrow table.\n"
    "\n"
    "Args:\n"
    "    path:    Path to the VCD file.\n"
    "    clock:   The clock's full name.\n"
    "    signals: List of fully-qualified signal names, one column each.\n"
    "    edge:    'rising' (0 to 1), 'falling' (1 to 0) or 'both'. The clock's level at\n"
    "             a time is its value after the last change at that time; a change\n"
    "             from or to x, z or another state is no edge, and a pulse within one\n"
    "             time stamp (0, 1, 0) is none either.\n"
    "    start:   Optional time of the first edge kept (inclusive).\n"
    "    end:     Optional time of the last edge kept (inclusive).\n"
    "    after:   False: each signal's value just before the edge, the value it held\n"
    "             up to the tick before it, as a flip-flop samples it. True: its value\n"
    "             after every change at the edge's time.\n"
    "\n"
    "Returns:\n"
    "    A table that implements the Arrow PyCapsule interface (__arrow_c_stream__,\n"
    "    __arrow_c_schema__), read without a copy by pyarrow.table(t),\n"
    "    polars.DataFrame(t) and DuckDB. Columns: cycle (uint64, the edge's number\n"
    "    among the clock's edges of that kind from the start of the dump, 0 first,\n"
    "    so it does not depend on start), time (uint64), then one utf8 column per\n"
    "    signal, named as asked, with the value text that extract() gives, null\n"
    "    before the signal's first change. The body is read while the consumer takes\n"
    "    the batches, a few ahead, in bounded memory; the header's errors and those\n"
    "    of unknown names are raised by the call, as extract() raises them, later\n"
    "    errors end the stream. Each stream is a new read of the file.";

constexpr char kTypeDoc[] =
    "Signals sampled at the edges of a clock, as sample() returns them: an Arrow table\n"
    "read through __arrow_c_stream__ or described by __arrow_c_schema__.";

struct SampleSource {
  std::string path;
  std::string clock;
  std::vector<std::string> signals;
  SampleOptions options;
  CallContext context;
  std::shared_ptr<SampleBatchStream> started;  // the call's read, until a consumer takes it

  std::shared_ptr<SampleBatchStream> new_read() const {
    return std::make_shared<SampleBatchStream>(path, clock, signals, options, context);
  }
};

struct TableObject {
  PyObject ob_base;
  SampleSource* source;
};

void table_dealloc(PyObject* self) {
  delete reinterpret_cast<TableObject*>(self)->source;
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
  Py_DECREF(type);
}

template <class Exported>
void capsule_free(PyObject* capsule, const char* name) {
  auto* exported = static_cast<Exported*>(PyCapsule_GetPointer(capsule, name));
  if (exported == nullptr) {
    PyErr_Clear();
    return;
  }
  if (exported->release != nullptr) exported->release(exported);
  delete exported;
}

void schema_free(PyObject* capsule) { capsule_free<ArrowSchema>(capsule, "arrow_schema"); }
void stream_free(PyObject* capsule) {
  capsule_free<ArrowArrayStream>(capsule, "arrow_array_stream");
}

// A capsule that owns `exported` from here on; without one, it is released.
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
    const SampleSource& source = *reinterpret_cast<TableObject*>(self)->source;
    auto schema = std::make_unique<ArrowSchema>();
    if (export_sample_schema(source.signals, schema.get()) != 0) return PyErr_NoMemory();
    return capsule_of(std::move(schema), "arrow_schema", &schema_free);
  });
}

PyObject* table_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
  return run_guarded([&]() -> PyObject* {
    // The requested schema, if any, is not followed: the consumer may cast.
    static const char* keywords[] = {"requested_schema", nullptr};
    PyObject* requested = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:__arrow_c_stream__",
                                     const_cast<char**>(keywords), &requested)) {
      return nullptr;
    }
    if (!main_thread_known()) return nullptr;
    SampleSource& source = *reinterpret_cast<TableObject*>(self)->source;
    std::shared_ptr<SampleBatchStream> batches = std::move(source.started);
    if (!batches) batches = source.new_read();
    auto stream = std::make_unique<ArrowArrayStream>();
    if (export_sample_stream(std::move(batches), source.signals, ctrl_c_interrupt(),
                             stream.get()) != 0) {
      return PyErr_NoMemory();
    }
    return capsule_of(std::move(stream), "arrow_array_stream", &stream_free);
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
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kTableSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&table_dealloc)},
    {Py_tp_methods, kTableMethods},
    {Py_tp_doc, const_cast<char*>(kTypeDoc)},
    {0, nullptr},
};

PyType_Spec kTableSpec = {
    "quarnel.extended.SampleTable", sizeof(TableObject), 0, Py_TPFLAGS_DEFAULT, kTableSlots,
};

Outcome sample(const PathArg& path, const std::string& clock,
               const std::vector<std::string>& signals, ClockEdge edge,
               std::optional<std::uint64_t> start, std::optional<std::uint64_t> end, bool after,
               const CallContext& context) {
  auto source = std::make_unique<SampleSource>(
      SampleSource{path.bytes, clock, signals, SampleOptions{edge, after, Window{start, end}},
                   context, nullptr});
  source->context.interrupt = nullptr;
  source->context.index.reset();  // the read starts at the body's start
  source->started = source->new_read();
  // Up to the first batch, so that the errors of the header and of unknown
  // names are raised here.
  if (auto error = source->started->first_error(context.interrupt))
    return std::unexpected(std::move(*error));
  static PyObject* type = PyType_FromSpec(&kTableSpec);  // kept for the process
  if (type == nullptr) return PyRef{};
  auto* alloc = reinterpret_cast<allocfunc>(
      PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  PyRef object = PyRef::steal(alloc(reinterpret_cast<PyTypeObject*>(type), 0));
  if (!object) return PyRef{};
  reinterpret_cast<TableObject*>(object.get())->source = source.release();
  return object;
}

}  // namespace

PyMethodDef sample_extended_method = define_bus_function<kParams, kConverters, sample>(kDoc);

}  // namespace quarnel::python

// extract_table(path, signals, start=None, end=None): the changes of chosen
// signals as an Arrow table, for quarnel.extended.
#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "src/lib/change_table.hpp"
#include "src/python/arrow_export.hpp"
#include "src/python/convert.hpp"
#include "src/python/function.hpp"

namespace quarnel::python {

namespace {

constexpr const char* kPositional[] = {"path", "signals", "start", "end"};

constexpr ParamTable kParams{
    .function = "extract_table",
    .positional = kPositional,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = {},
};
constexpr auto kConverters =
    std::make_tuple(as_path_like, as_text_list, or_none(as_u64), or_none(as_u64));

constexpr char kDoc[] =
    "extract_table(path, signals, start=None, end=None)\n"
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
    "    real:    float64, the value of a real change; null otherwise.";

constexpr char kTypeDoc[] =
    "The changes of chosen signals, as extract_table() returns them: an Arrow table\n"
    "read through __arrow_c_stream__ (any number of times) or described by\n"
    "__arrow_c_schema__.";

struct TableObject {
  PyObject ob_base;
  std::shared_ptr<const ChangeTable>* table;
};

const std::shared_ptr<const ChangeTable>* table_of(PyObject* self) {
  const auto* table = reinterpret_cast<TableObject*>(self)->table;
  if (table == nullptr) PyErr_SetString(PyExc_TypeError, "not a table made by extract_table");
  return table;
}

void table_dealloc(PyObject* self) {
  delete reinterpret_cast<TableObject*>(self)->table;
  PyTypeObject* type = Py_TYPE(self);
  auto* free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
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
    if (table_of(self) == nullptr) return nullptr;
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
    const auto* table = table_of(self);
    if (table == nullptr) return nullptr;
    auto stream = std::make_unique<ArrowArrayStream>();
    if (export_change_stream(*table, stream.get()) != 0) return PyErr_NoMemory();
    return capsule_of(std::move(stream), "arrow_array_stream", &stream_capsule_free);
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
    "quarnel.extended.ChangeTable", sizeof(TableObject), 0, Py_TPFLAGS_DEFAULT, kTableSlots,
};

// Made on first use and kept for the process, like the module.
PyObject* table_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) type = PyType_FromSpec(&kTableSpec);
  return type;
}

Outcome extract_table(const PathArg& path, const std::vector<std::string>& signals,
                      std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                      const CallContext& context) {
  auto table = quarnel::extract_table(path.bytes, signals, Window{start, end}, context);
  if (!table) return std::unexpected(std::move(table.error()));
  PyObject* type = table_type();
  if (type == nullptr) return PyRef{};
  auto* alloc = reinterpret_cast<allocfunc>(
      PyType_GetSlot(reinterpret_cast<PyTypeObject*>(type), Py_tp_alloc));
  PyRef object = PyRef::steal(alloc(reinterpret_cast<PyTypeObject*>(type), 0));
  if (!object) return PyRef{};
  reinterpret_cast<TableObject*>(object.get())->table =
      new std::shared_ptr<const ChangeTable>(std::make_shared<ChangeTable>(std::move(*table)));
  return object;
}

}  // namespace

PyMethodDef extract_table_extended_method =
    define_function<kParams, kConverters, extract_table>(kDoc);

}  // namespace quarnel::python

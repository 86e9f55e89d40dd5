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

#include "src/python/arrow_table.hpp"
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
    "    errors end the stream.";

constexpr char kTypeDoc[] =
    "Signals sampled at the edges of a clock, as sample() returns them: an Arrow table\n"
    "read through __arrow_c_stream__ or described by __arrow_c_schema__; rows()\n"
    "iterates over its rows. A table of a regular file can be read any number of\n"
    "times, each a new read of the file; one of a pipe once.";

struct RowsState {
  BatchCursor<SampleBatch> cursor;

  static bool ready() { return true; }
};

// The text of `column` at `row`, or None where it is null.
PyRef cell(const SampleBatch::Column& column, std::size_t row) {
  if (column.validity.nulls != 0 && (column.validity.bits[row / 8] >> (row % 8) & 1U) == 0)
    return PyRef::borrow(Py_None);
  const auto begin = static_cast<std::size_t>(column.offsets[row]);
  const auto end = static_cast<std::size_t>(column.offsets[row + 1]);
  return to_py_str(std::string_view(column.data).substr(begin, end - begin));
}

PyObject* rows_next(PyObject* self) {
  return run_guarded([&]() -> PyObject* {
    auto& state = state_of<RowsState>(self);
    std::size_t row = 0;
    const SampleBatch* rows = state.cursor.next_row(row);
    if (rows == nullptr) return nullptr;  // StopIteration, or the error raised
    const SampleBatch& batch = *rows;
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(batch.columns.size() + 2)));
    if (!tuple) return nullptr;
    Py_ssize_t at = 0;
    for (const std::uint64_t number : {batch.cycle[row], batch.time[row]}) {
      PyRef item = to_py_int(number);
      if (!item) return nullptr;
      PyTuple_SetItem(tuple.get(), at++, item.release());
    }
    for (const SampleBatch::Column& column : batch.columns) {
      PyRef item = cell(column, row);
      if (!item) return nullptr;
      PyTuple_SetItem(tuple.get(), at++, item.release());
    }
    return tuple.release();
  });
}

IteratorType<RowsState> kRowsType("quarnel.extended.SampleRows", &rows_next);

PyObject* table_rows(PyObject* self, PyObject* /*unused*/) {
  return run_guarded([&]() -> PyObject* {
    return new_iterator<SampleBatch>(self, kRowsType.spec, std::make_unique<RowsState>());
  });
}

PyMethodDef kTableMethods[] = {
    schema_method<SampleBatch>(),
    stream_method<SampleBatch>(),
    {"rows", reinterpret_cast<PyCFunction>(table_rows), METH_NOARGS,
     "rows()\n--\n\nAn iterator over the rows as (cycle, time, value, ...) tuples, a value\n"
     "per signal in the order asked (None before its first change), read as it goes.\n"
     "Needs no Arrow library."},
    {nullptr, nullptr, 0, nullptr},
};

TableType<SampleBatch> kTableType("quarnel.extended.SampleTable", kTableMethods, kTypeDoc);

Outcome sample(const PathArg& path, const std::string& clock,
               const std::vector<std::string>& signals, ClockEdge edge,
               std::optional<std::uint64_t> start, std::optional<std::uint64_t> end, bool after,
               const CallContext& context) {
  auto source = std::make_unique<TableSource<SampleBatch>>();
  source->path_object = PyRef::borrow(path.given.get());
  source->opens_again = is_regular_file(path.bytes);
  CallContext reading = context;
  reading.interrupt = nullptr;
  reading.index.reset();  // edges before the window count: the read starts at the body's start
  const SampleOptions options{edge, after, Window{start, end}};
  source->new_read = [path = path.bytes, clock, signals, options, reading] {
    return read_sample_batches(path, clock, signals, options, reading);
  };
  auto started = source->new_read();
  return new_table(kTableType.spec, std::move(source), std::move(started), context);
}

}  // namespace

PyMethodDef sample_extended_method = define_bus_function<kParams, kConverters, sample>(kDoc);

}  // namespace quarnel::python

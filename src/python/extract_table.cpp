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

#include "src/lib/change_batch_stream.hpp"
#include "src/lib/change_text.hpp"
#include "src/python/arrow_table.hpp"
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

struct RowsState {
  BatchCursor<ChangeBatch> cursor;
  PyRef names;  // a tuple of str, the dictionary of the signal column

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
    std::size_t row = 0;
    const ChangeBatch* rows = state.cursor.next_row(row);
    if (rows == nullptr) return nullptr;  // StopIteration, or the error raised
    const ChangeBatch& batch = *rows;
    const auto begin = static_cast<std::size_t>(batch.value_offsets[row]);
    const auto end = static_cast<std::size_t>(batch.value_offsets[row + 1]);
    PyRef time = to_py_int(batch.time[row]);
    PyRef value = to_py_str(std::string_view(batch.value_data).substr(begin, end - begin));
    if (!time || !value) return nullptr;
    PyObject* name = PyTuple_GetItem(state.names.get(), batch.signal[row]);
    return PyTuple_Pack(3, name, time.get(), value.get());
  });
}

IteratorType<RowsState> kRowsType("quarnel.extended.ChangeRows", &rows_next);

PyObject* table_rows(PyObject* self, PyObject* /*unused*/) {
  return run_guarded([&]() -> PyObject* {
    return new_iterator<ChangeBatch>(self, kRowsType.spec, std::make_unique<RowsState>());
  });
}

struct TextState {
  BatchCursor<ChangeBatch> cursor;
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

IteratorType<TextState> kTextType("quarnel.extended.ChangeText", &text_next);

PyObject* table_text(PyObject* self, PyObject* form) {
  return run_guarded([&]() -> PyObject* {
    auto state = std::make_unique<TextState>();
    auto name = as_text(form);
    if (!name) return nullptr;
    if (!text_form_named(*name, state->form)) {
      PyErr_SetString(PyExc_ValueError, "form must be 'csv', 'jsonl', 'json' or 'aligned'");
      return nullptr;
    }
    return new_iterator<ChangeBatch>(self, kTextType.spec, std::move(state));
  });
}

PyMethodDef kTableMethods[] = {
    schema_method<ChangeBatch>(),
    stream_method<ChangeBatch>(),
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

TableType<ChangeBatch> kTableType("quarnel.extended.ChangeTable", kTableMethods, kTypeDoc);

Outcome extract_table(const PathArg& path, const std::vector<std::string>& signals,
                      std::optional<std::uint64_t> start, std::optional<std::uint64_t> end,
                      bool strict, const CallContext& context) {
  auto source = std::make_unique<TableSource<ChangeBatch>>();
  source->path_object = PyRef::borrow(path.given.get());
  source->opens_again = is_regular_file(path.bytes);
  CallContext reading = context;
  reading.interrupt = nullptr;
  if (strict) {
    reading.dialect = vcd::Dialect::specified;
    reading.index.reset();  // an index is of the extended dialect
  }
  const Window window{start, end};
  // The first read says why an index was ignored before it hands out a
  // batch or ends, so within this call, into the call's notes (which the
  // read stops before they go: new_table waits for it first); later reads
  // of the table say nothing more.
  auto started = read_change_batches(path.bytes, signals, window, reading);
  if (reading.index) reading.index->notes = nullptr;
  source->new_read = [path = path.bytes, signals, window, reading] {
    return read_change_batches(path, signals, window, reading);
  };
  return new_table(kTableType.spec, std::move(source), std::move(started), context);
}

}  // namespace

PyMethodDef extract_table_extended_method =
    define_bus_function<kParams, kConverters, extract_table>(kDoc);

}  // namespace quarnel::python

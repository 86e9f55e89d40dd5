"""extract_table: the records of extract as an Arrow table, read by pyarrow, polars, pandas and
DuckDB, and the C stream interface's rules for the stream it hands out."""

import csv
import ctypes
import io
import json
import math
import struct
import subprocess
import sys
import threading

import duckdb
import pandas
import polars
import pyarrow
import pytest

from conftest import DATA, REPO, SANITIZED, error_of
from quarnel import extended

COLUMNS = ["time", "signal", "value", "integer", "real"]
DUMPS = sorted([*DATA.glob("*.vcd"), *(REPO / "examples").rglob("*.vcd")])
READERS = {
    "pyarrow": lambda t: pyarrow.table(t).to_pylist(),
    "polars": lambda t: polars.DataFrame(t).to_dicts(),
    # pandas (its own reader from 3.0 on) keeps the integers as float64, with NaN for null.
    "pandas": lambda t: [{k: None if pandas.isna(v) else int(v) if k == "integer" else v
                          for k, v in row.items()}
                         for row in getattr(pandas.DataFrame, "from_arrow", lambda t: pyarrow.table(t).to_pandas())(
                             t).to_dict("records")],
    "duckdb": lambda t: [dict(zip(COLUMNS, row)) for row in
                         duckdb.sql("select * from t").fetchall()],
    "rows": lambda t: [dict(zip(("signal", "time", "value"), row)) for row in t.rows()],
}


@pytest.mark.parametrize("reader", READERS)
@pytest.mark.parametrize("path", DUMPS, ids=lambda p: p.name)
def test_every_reader_gets_the_records_of_extract(path, reader):
    names = extended.list_signals(path)
    records = extended.extract(path, names)
    rows = READERS[reader](extended.extract_table(path, names))
    assert [{k: r[k] for k in ("signal", "time", "value")} for r in rows] == records
    for row in rows:
        if row.get("integer") is not None:
            assert str(row["integer"]) == row["value"]
        if row.get("real") is not None:
            assert row["integer"] is None and row["value"] == extended.extract(
                path, [row["signal"]], row["time"], row["time"])[-1]["value"]


HEAD = ("$scope module t $end\n$var wire 1 ! a $end\n$var wire 70 # v [69:0] $end\n"
        "$var real 64 $ r $end\n$var string 1 % s $end\n$upscope $end\n$enddefinitions $end\n")
# (change, integer, real) in file order, all at time 1.
TYPED = [("0!", 0, None), ("1!", 1, None), ("x!", None, None), ("Z!", None, None),
         ("U!", None, None), ("b0 #", 0, None), ("b1x #", None, None), ("b1010 #", 10, None),
         ("b" + "1" * 64 + " #", 2**64 - 1, None), ("b1" + "0" * 64 + " #", None, None),
         ("bLH #", None, None), ("r0.1 $", None, 0.1), ("r-0 $", None, -0.0),
         ("r5e-324 $", None, 5e-324), ("r1.7976931348623157e308 $", None, 1.7976931348623157e308),
         ("r-inf $", None, -math.inf), ("s5 %", None, None)]


def test_typed_columns(vcd):
    path = vcd(HEAD + "#1\n" + "".join(change + "\n" for change, _, _ in TYPED))
    table = pyarrow.table(extended.extract_table(path, ["t.a", "t.v[69:0]", "t.r", "t.s"]))
    assert table.column_names == COLUMNS and table.num_rows == len(TYPED)
    assert table.schema.field("integer").type == pyarrow.uint64()
    assert table.column("integer").to_pylist() == [i for _, i, _ in TYPED]
    bits = [None if r is None else struct.pack("<d", r) for r in table.column("real").to_pylist()]
    assert bits == [None if r is None else struct.pack("<d", r) for _, _, r in TYPED]


def test_typed_columns_across_batches(vcd):
    # The first batch has no number at all; the second starts with a null.
    values = ["x"] * 65_536 + ["z", "1", "0"]
    path = vcd(HEAD + "".join(f"#{t}\n{v}!\n" for t, v in enumerate(values)))
    table = pyarrow.table(extended.extract_table(path, ["t.a"]))
    integer = table.column("integer")
    assert [chunk.null_count for chunk in integer.chunks] == [65_536, 1]
    assert integer.to_pylist()[65_535:] == [None, None, 1, 0]
    assert table.column("real").null_count == len(values)


def test_empty_tables_have_the_columns(vcd):
    # The bound of a batch: test_stream_rules.
    t = extended.extract_table(vcd(HEAD + "#1\n1!\n"), ["t.a"], start=2)
    empty = pyarrow.table(t)
    assert empty.num_rows == 0 and empty.column_names == COLUMNS
    assert duckdb.sql("select count(*), max(time) from t").fetchall() == [(0, None)]


@pytest.mark.parametrize("text, names", [
    (HEAD + "#1\n2!\n", ["t.a"]),
    (HEAD, ["t.a", "no.such", "t.b"]),
    ("$var wire 1 ! a $end\n", ["a"]),
])
def test_the_errors_of_extract(vcd, text, names):
    path = vcd(text)
    assert error_of(extended.extract_table, path, names) == error_of(extended.extract, path, names)


def test_an_error_past_the_first_batch_ends_the_stream(vcd):
    path = vcd(HEAD + "".join(f"#{t}\n{t % 2}!\n" for t in range(70_000)) + "#70000\n2!\n")
    error = error_of(extended.extract, path, ["t.a"])
    table = extended.extract_table(path, ["t.a"])
    assert error_of(lambda: list(table.rows())) == error
    with pytest.raises(OSError) as raised:
        pyarrow.table(table)
    assert error in str(raised.value)


def text_as_python_writes_it(form, rows):
    if form == "csv":
        buffer = io.StringIO()
        csv.writer(buffer, lineterminator="\n").writerows([("signal", "time", "value"), *rows])
        return buffer.getvalue()
    records = [{"signal": s, "time": t, "value": v} for s, t, v in rows]
    if form == "jsonl":
        return "".join(json.dumps(record) + "\n" for record in records)
    if form == "json":
        return json.dumps(records, indent=2) + "\n"
    signal = max([6, *(len(s) for s, _, _ in rows[:4096])])
    time = max([4, *(len(str(t)) for _, t, _ in rows[:4096])])
    return "".join(f"{s:<{signal}}  {t:>{time}}  {v}".rstrip() + "\n"
                   for s, t, v in [("signal", "time", "value"), *rows])


@pytest.mark.parametrize("start", [0, 10**9], ids=["rows", "empty"])
@pytest.mark.parametrize("form", ["csv", "jsonl", "json", "aligned"])
def test_text_is_what_python_writes(vcd, form, start):
    # Quotes, commas, backslashes, a control character, non-ASCII beyond the BMP, a trailing
    # no-break space, and times that outgrow the column the first 4096 rows sized.
    path = vcd("$scope module t $end\n$var string 1 % s $end\n$var wire 1 ! a,\"b\u00e9 $end\n"
               "$upscope $end\n$enddefinitions $end\n"
               + "".join(f"#{t}\n{t % 2}!\n" for t in range(5000))
               + "#123456\nsab\\c\"d,e %\n#1234567\ns\U0001F600\x01\u00a0 %\ns\u00a0 %\n")
    table = extended.extract_table(path, ["t.s", 't.a,"b\u00e9'], start=start)
    assert "".join(table.text(form)) == text_as_python_writes_it(form, list(table.rows()))


# The structures of the Arrow C stream interface, to call the stream as any consumer does.
class Array(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int64) for n in ("length", "null_count", "offset", "n_buffers",
                                              "n_children")] + [
        ("buffers", ctypes.POINTER(ctypes.c_void_p)), ("children", ctypes.c_void_p),
        ("dictionary", ctypes.c_void_p), ("release", ctypes.c_void_p),
        ("private_data", ctypes.c_void_p)]


class Stream(ctypes.Structure):
    _fields_ = [(n, ctypes.c_void_p) for n in ("get_schema", "get_next", "get_last_error",
                                               "release", "private_data")]


def stream_of(capsule):
    get = ctypes.pythonapi.PyCapsule_GetPointer
    get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
    return Stream.from_address(get(capsule, b"arrow_array_stream"))


def call(pointer, restype, *args):
    return ctypes.CFUNCTYPE(restype, *[ctypes.c_void_p] * len(args))(pointer)(*args)


def test_stream_rules(vcd):
    """The end is given as often as asked, arrays outlive their stream, a stream is read on
    any thread, and every stream of a table holds its rows."""
    path = vcd(HEAD + "".join(f"#{t}\n{t % 2}!\n" for t in range(70_000)))
    table = extended.extract_table(path, ["t.a"])
    capsule = table.__arrow_c_stream__()
    stream = stream_of(capsule)
    arrays = []
    while True:
        array = Array()
        assert call(stream.get_next, ctypes.c_int, ctypes.addressof(stream),
                    ctypes.addressof(array)) == 0
        if not array.release:
            break
        arrays.append(array)
    for _ in range(2):
        end = Array(release=1)
        assert call(stream.get_next, ctypes.c_int, ctypes.addressof(stream),
                    ctypes.addressof(end)) == 0 and not end.release
    assert call(stream.get_last_error, ctypes.c_void_p, ctypes.addressof(stream)) is None
    call(stream.release, None, ctypes.addressof(stream))
    assert not stream.release
    del capsule, table
    last = arrays[-1]
    time = ctypes.cast(ctypes.cast(last.children, ctypes.POINTER(ctypes.c_void_p))[0],
                       ctypes.POINTER(Array))[0]
    assert [len(arrays), last.length, ctypes.cast(time.buffers[1], ctypes.POINTER(
        ctypes.c_uint64))[last.length - 1]] == [2, 70_000 - 65_536, 69_999]
    for array in arrays:
        call(array.release, None, ctypes.addressof(array))
    table = extended.extract_table(path, ["t.a"])
    rows = []
    reader = threading.Thread(target=lambda: rows.append(pyarrow.table(table)))
    reader.start()
    reader.join()
    assert rows[0] == pyarrow.table(table) and rows[0].num_rows == 70_000


@pytest.mark.parametrize("make", [lambda path: extended.extract_table(path, ["t.a"]),
                                  lambda path: extended.sample(path, "t.a", ["t.a"])])
def test_tables_and_their_iterators_are_made_by_the_module_only(vcd, make):
    table = make(vcd(HEAD + "#0\n0!\n"))
    for made in (table, table.rows()):
        assert error_of(type(made), error=TypeError) == \
            f"cannot create '{type(made).__name__}' instances"


def test_the_readme_examples():
    readme = (REPO / "README.md").read_text(encoding="utf-8")
    section = readme.split("### Changes as columns")[1].split("\n## ")[0]
    examples = [block.split("```")[0] for block in section.split("```python\n")[1:]]
    assert len(examples) == 3
    for example in examples:
        if SANITIZED and "duckdb" in example:
            continue  # DuckDB's own C++ exceptions trip the preloaded sanitizer runtime
        result = subprocess.run([sys.executable, "-c", example], cwd=REPO, capture_output=True,
                                text=True, timeout=120)
        assert (result.returncode, result.stdout) == (0, "145\n"), result.stderr

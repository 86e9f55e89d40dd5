"""Signals sampled at the edges of a clock (quarnel.extended.sample)."""

import subprocess
import sys

import pyarrow
import pytest

import quarnel.extended as qe
from conftest import DATA, REPO, error_of

DUMPS = sorted([*DATA.glob("*.vcd"), *(REPO / "examples").rglob("*.vcd")])
LEVEL = {"0": 0, "1": 1}


def rows(*args, **kwargs):
    """The rows of a sampled table through pyarrow, which rows() gives as tuples too."""
    table = qe.sample(*args, **kwargs)
    listed = pyarrow.table(table).to_pylist()
    assert list(table.rows()) == [tuple(row.values()) for row in listed]
    return listed


def model(path, clock, signals, edge, after, start=None, end=None):
    """The rows that value_at gives at each edge: the clock's level at a time is its last
    value there, an edge a time whose level is 0 or 1 and differs from the level before it."""
    levels = {}
    for record in qe.extract(path, [clock]):
        levels[record["time"]] = LEVEL.get(record["value"])
    expected, cycle, level = [], 0, None
    for time, now in levels.items():
        if level is not None and now is not None and now != level and \
                edge in ("both", "rising" if now else "falling"):
            if (start is None or time >= start) and (end is None or time <= end):
                values = qe.value_at(path, signals, time if after else time - 1)
                expected.append({"cycle": cycle, "time": time, **values})
            cycle += 1
        level = now
    return expected


@pytest.mark.parametrize("path", DUMPS, ids=lambda p: p.name)
def test_sample_agrees_with_value_at_before_and_at_each_edge(path):
    path = str(path)
    names = qe.list_signals(path)
    counts = qe.toggles(path, names)
    bits = [n for n in names
            if {r["value"] for r in qe.extract(path, [n])} <= set("01xzuwlh-")]
    clock = max(bits, key=lambda n: counts[n])
    signals = sorted(names, key=lambda n: -counts[n])[:8]
    last = qe.metadata(path)["end_time"]
    for edge, after, window in [("rising", False, {}), ("falling", True, {}),
                                ("both", False, {"start": last // 3, "end": 2 * last // 3})]:
        expected = model(path, clock, signals, edge, after, **window)
        assert rows(path, clock, signals, edge, after=after, **window) == expected


CLOCKED = ("$scope module t $end\n$var wire 1 ! clk $end\n$var wire 4 # v $end\n"
           "$var real 1 % r $end\n$upscope $end\n$enddefinitions $end\n")


@pytest.mark.parametrize("body, edge, expected", [
    # The value just before the edge, also when it changes at the edge before the clock does.
    ("#0\n0!\nb1 #\n#5\nb10 #\n1!\n#7\n0!\n#9\nb11 #\n#10\n1!\n", "rising",
     [(0, 5, "1"), (1, 10, "3")]),
    # x and z are no level: x to 1, 0 to z and z to 1 are no edges; a pulse within one time
    # stamp is none either; a vector clock of 0 and 1 has a level.
    ("#0\nx!\n#1\n1!\n#2\n0!\n#3\n1!\n0!\n#4\nz!\n#5\n1!\n#6\nb0 !\n#7\nb01 !\n", "both",
     [(0, 2, None), (1, 6, None), (2, 7, None)]),
    ("#0\n1!\n#2\n0!\nr2.5 %\n#4\n1!\n#6\n0!\n", "falling", [(0, 2, None), (1, 6, None)]),
])
def test_edges_and_values_just_before_them(vcd, body, edge, expected):
    table = rows(vcd(CLOCKED + body), "t.clk", ["t.v"], edge)
    assert [(r["cycle"], r["time"], r["t.v"]) for r in table] == expected


def test_columns_after_and_errors(vcd):
    path = vcd(CLOCKED + "#0\n0!\n#5\n1!\nr2.5 %\nb1x #\n#6\n0!\n#8\n1!\n")
    table = pyarrow.table(qe.sample(path, "t.clk", ["t.r", "t.v", "t.r"], after=True))
    assert table.schema.names == ["cycle", "time", "t.r", "t.v", "t.r"]
    assert [str(t) for t in table.schema.types] == ["uint64", "uint64", "string", "string",
                                                   "string"]
    assert table.to_pylist()[0] == {"cycle": 0, "time": 5, "t.r": "2.5", "t.v": "1x"}
    assert table.num_rows == 2 and table.column("t.v").null_count == 0
    assert error_of(qe.sample, path, "t.clock", ["t.v", "t.w"]) == \
        "signals not found in VCD: t.clock, t.w"
    assert error_of(qe.sample, path, "t.clk", ["t.v"], "up", error=ValueError) == \
        "edge must be 'rising', 'falling' or 'both', not 'up'"


def test_a_long_dump_streams_in_batches_on_threads(vcd, monkeypatch):
    body = "".join(f"#{t}\n{t % 2}!\nb{t:b} #\n" for t in range(1, 300001))
    path = vcd(CLOCKED + body)
    monkeypatch.setenv("QUARNEL_CHUNK_BYTES", "65536")
    tables = []
    for threads in ("1", "3"):
        monkeypatch.setenv("QUARNEL_THREADS", threads)
        reader = pyarrow.RecordBatchReader.from_stream(qe.sample(path, "t.clk", ["t.v"]))
        tables.append([batch.num_rows for batch in reader])
    assert tables[0] == tables[1] == [65536, 65536, 18927]
    last = pyarrow.table(qe.sample(path, "t.clk", ["t.v"], start=299990)).to_pylist()[-1]
    assert last == {"cycle": 149998, "time": 299999, "t.v": "299998"}


def test_time_going_back_samples_as_on_one_thread(vcd, monkeypatch):
    # #5 between two stamps at #10 ends the first: 0 to 1 there is an edge, and 1 to 0 after.
    body = "".join(f"#{t}\n0!\n#10\n1!\n#5\n#10\nb{t:b} #\n0!\n#{t + 10}\n1!\n"
                   for t in range(20, 2020, 20))
    path = vcd(CLOCKED + body)
    monkeypatch.setenv("QUARNEL_CHUNK_BYTES", "16")
    tables = []
    for threads in ("1", "4"):
        monkeypatch.setenv("QUARNEL_THREADS", threads)
        tables.append(rows(path, "t.clk", ["t.v"], "both"))
    assert tables[0] == tables[1]
    assert [(r["time"], r["t.v"]) for r in tables[0][:6]] == [
        (10, None), (10, None), (30, "20"), (40, "20"), (10, "20"), (10, "20")]


def test_buses_are_sampled_whole():
    split, whole = (str(DATA / f"icarus_bus_{kind}.vcd") for kind in ("split", "whole"))
    signals = ["tb.count[3:0]", "tb.state[2:0]"]
    assert rows(split, "tb.clk", signals, start=10, end=55, buses=True) == \
        rows(whole, "tb.clk", signals, start=10, end=55)


def test_the_readme_example():
    section = (REPO / "README.md").read_text(encoding="utf-8").split(
        "### Values per clock cycle")[1].split("\n### ")[0]
    code = section.split("```python\n")[1].split("```")[0]
    printed = section.split("```text\n")[1].split("```")[0]
    result = subprocess.run([sys.executable, "-c", code], cwd=REPO, capture_output=True,
                            text=True)
    assert (result.returncode, result.stdout) == (0, printed), result.stderr

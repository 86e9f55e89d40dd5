"""Buses dumped one bit per variable, read whole with buses=True."""

import pyarrow
import pytest

import quarnel
import quarnel.extended as qe
from conftest import DATA, error_of

SPLIT = str(DATA / "icarus_bus_split.vcd")
WHOLE = str(DATA / "icarus_bus_whole.vcd")
BUSES = ["tb.count[3:0]", "tb.state[2:0]"]
HEADER = "$scope module t $end\n{}$upscope $end\n$enddefinitions $end\n"


def shortened(bits):
    """Bits without the leading ones that left extension restores, as some writers write them."""
    while len(bits) > 1 and bits[0] == ("0" if bits[1] in "01" else bits[1]):
        bits = bits[1:]
    return bits


def split_dump(vcd, bits, body, width=1):
    """A dump of the bits (reference, index) in the per-bit layout, codes a, b, c, ..."""
    declarations = "".join(f"$var wire {width} {chr(97 + i)} {name} [{index}] $end\n"
                           for i, (name, index) in enumerate(bits))
    return vcd(HEADER.format(declarations) + body)


def test_split_run_answers_as_the_whole_run():
    assert qe.list_signals(SPLIT, buses=True) == qe.list_signals(WHOLE)
    assert qe.buses(SPLIT) == {"tb.count[3:0]": [f"tb.count[{i}]" for i in (3, 2, 1, 0)],
                               "tb.state[2:0]": [f"tb.state[{i}]" for i in (2, 1, 0)]}
    for name in BUSES:
        # The whole dump writes bits shortened ("x"), the merged bus holds every bit ("xxxx").
        records = [qe.extract(path, [name], **kw) for path, kw in ((SPLIT, {"buses": True}),
                                                                     (WHOLE, {}))]
        assert [(r["time"], shortened(r["value"])) for r in records[0]] == \
            [(r["time"], r["value"]) for r in records[1]]
        times = [r["time"] for r in records[1]]
        for time in times:
            assert shortened(qe.value_at(SPLIT, [name], time, buses=True)[name]) == \
                qe.value_at(WHOLE, [name], time)[name]
        table = pyarrow.table(qe.extract_table(SPLIT, [name], start=5, buses=True))
        assert table["value"].to_pylist() == [r["value"] for r in records[0] if r["time"] >= 5]
    assert qe.toggles(SPLIT, BUSES, buses=True) == qe.toggles(WHOLE, BUSES)
    for value in ("9", "10z1", "x", "0"):
        found = qe.find(SPLIT, BUSES[0], value, buses=True)
        assert {**found, "value": shortened(found["value"])} == qe.find(WHOLE, BUSES[0], value)
    for options in ({}, {"start": 40, "held_at_start": True}, {"start": 30, "end": 60}):
        result = qe.compare(SPLIT, WHOLE, buses=True, **options)
        assert result["passed"] and result["common_signals"] == sorted(["tb.clk", "tb.rst", *BUSES])
        assert result["signals_only_in_file1"] == result["signals_only_in_file2"] == []


def test_compare_fails_when_one_bit_differs(tmp_path):
    text = open(SPLIT, encoding="utf-8").read()
    head, body = text.split("$enddefinitions $end\n")
    changed = tmp_path / "changed.vcd"
    # At #35 the counter becomes 6 (0110): its bit 0 ('&') written again as 1 reads 7.
    changed.write_text(head + "$enddefinitions $end\n" + body.replace("#40\n", "1&\n#40\n", 1))
    result = qe.compare(str(changed), WHOLE, buses=True)
    assert not result["passed"]
    assert [(m["signal"], m["time"], m["value1"], m["value2"]) for m in result["mismatches"]] == \
        [("tb.count[3:0]", 35, "7", "6")]


@pytest.mark.parametrize("body, records", [
    # Bits changed one after the other within a time stamp: one record, the last values.
    ("#0\n0a\n0b\n#5\n1a\n1b\n0a\n#6\n#9\n1b\n", [(0, "0"), (5, "1"), (9, "1")]),
    # A bit without a value yet is x; a bit written in a time stamp is a record even when the
    # bus keeps its value.
    ("#0\n1b\n#3\n1b\n#4\nZa\n", [(0, "x1"), (3, "x1"), (4, "z1")]),
    # A vector or a real written to a bit: its last bit, x for a real.
    ("#1\nb01 a\nb0 b\n#2\nr1.5 b\n", [(1, "2"), (2, "1x")]),
])
def test_bits_merge_once_per_time_stamp(vcd, body, records):
    path = split_dump(vcd, [("q", 1), ("q", 0)], body)
    assert [(r["time"], r["value"]) for r in qe.extract(path, ["t.q[1:0]"], buses=True)] == records


def test_the_window_keeps_the_bits_set_before_it(vcd):
    path = split_dump(vcd, [("q", 1), ("q", 0), ("r", 0)], "#0\n1a\n0b\n0c\n#10\n1b\n1c\n#20\n0a\n")
    assert qe.extract(path, ["t.r[0]", "t.q[1:0]"], start=10, end=15, buses=True) == [
        {"signal": "t.r[0]", "time": 10, "value": "1"},
        {"signal": "t.q[1:0]", "time": 10, "value": "3"}]
    assert qe.toggles(path, ["t.q[1:0]"], start=15, buses=True) == {"t.q[1:0]": 0}
    assert qe.value_at(path, ["t.q[1:0]", "t.q[1]"], 19, buses=True) == {
        "t.q[1:0]": "3", "t.q[1]": "1"}


@pytest.mark.parametrize("bits, names", [
    # Any order of declaration, indices not from 0; the bus takes the place of its first bit.
    ([("q", 2), ("p", 0), ("q", 4), ("q", 3)], ["t.q[4:2]", "t.p[0]"]),
    # A gap, or a single bit, gives no bus.
    ([("q", 3), ("q", 1), ("q", 0), ("p", 0)], ["t.q[3]", "t.q[1]", "t.q[0]", "t.p[0]"]),
])
def test_which_bits_make_a_bus(vcd, bits, names):
    path = split_dump(vcd, bits, "#0\n")
    assert qe.list_signals(path, buses=True) == names
    assert qe.list_signals(path, "q[", buses=True) == [n for n in names if "q[" in n]
    assert list(qe.buses(path)) == [n for n in names if ":" in n]


def test_buses_are_opt_in_and_never_replace_a_declared_name(vcd):
    path = vcd(HEADER.format("$var wire 1 a q [1] $end\n$var wire 1 b q [0] $end\n"
                             "$var wire 2 c q [1:0] $end\n") + "#0\n1a\n0b\nb10 c\n")
    assert qe.buses(path) == {}
    assert qe.extract(path, ["t.q[1:0]"], buses=True) == [
        {"signal": "t.q[1:0]", "time": 0, "value": "2"}]
    path = split_dump(vcd, [("q", 1), ("q", 0)], "#0\n1a\n")
    assert error_of(qe.extract, path, ["t.q[1:0]"]) == "signals not found in VCD: t.q[1:0]"
    assert error_of(quarnel.extract, path, ["t.q[1:0]"], buses=True, error=TypeError) == \
        "extract() got an unexpected keyword argument 'buses'"
    assert error_of(qe.toggles, path, ["t.q[1:0]"], buses=1, error=TypeError) == \
        "argument 'buses': 'int' object cannot be converted to 'PyBool'"


def test_a_body_read_in_pieces_merges_as_one(vcd, monkeypatch):
    body = "".join(f"#{t}\n{t % 2}a\n{t // 2 % 2}b\n{t // 3 % 2}c\n" for t in range(40000))
    path = split_dump(vcd, [("q", 2), ("q", 1), ("q", 0)], body)
    monkeypatch.setenv("QUARNEL_CHUNK_BYTES", "16384")
    answers = []
    for threads in ("1", "4"):
        monkeypatch.setenv("QUARNEL_THREADS", threads)
        answers.append((qe.toggles(path, ["t.q[2:0]"], start=7, buses=True),
                        qe.extract(path, ["t.q[2:0]"], start=39990, buses=True)))
    assert answers[0] == answers[1]
    assert answers[0][1][-1] == {"signal": "t.q[2:0]", "time": 39999, "value": "7"}

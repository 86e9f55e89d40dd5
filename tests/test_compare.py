"""compare: agreement, unknown values, the merge, windows, limits, selection and errors."""

from pathlib import Path

import pytest

import quarnel
import quarnel.extended
from conftest import DATA, MAX, REPO, error_of

HEAD = "$scope module top $end $var wire 4 ! v [3:0] $end $var wire 1 \" a $end " \
       "$var wire 1 # b $end $upscope $end $enddefinitions $end\n"
NAMES = ["top.a", "top.b", "top.v[3:0]"]


def dump(vcd, *rows, head=HEAD):
    return vcd(head + "".join(row + "\n" for row in rows))


def miss(time, value1, value2, unknown=False, signal="top.v[3:0]"):
    return {"signal": signal, "time": time, "value1": value1, "value2": value2,
            "is_unknown": unknown}


def check_both_ways(a, b, expected, common=NAMES, only1=(), only2=(), **options):
    """compare(a, b) reports `expected`; compare(b, a) the same with the sides swapped."""
    for x, y, found, o1, o2 in [(a, b, expected, only1, only2), (b, a, [
            dict(m, value1=m["value2"], value2=m["value1"]) for m in expected], only2, only1)]:
        result = quarnel.compare(x, y, **options)
        assert list(result.items()) == [
            ("passed", not found), ("file1", x), ("file2", y), ("common_signals", list(common)),
            ("signals_only_in_file1", list(o1)), ("signals_only_in_file2", list(o2)),
            ("total_mismatches", len(found)),
            ("signals_with_mismatches", len({m["signal"] for m in found})), ("mismatches", found)]
        assert all(list(m) == list(miss(0, 0, 0)) for m in result["mismatches"])


# (change in file 1, change in file 2, value1 and value2 when they disagree, is_unknown)
AGREEMENT = [
    ("b0001 !", "b1 !", None, None, False), ("1!", "b1 !", None, None, False),
    ("r1 !", "b1 !", None, None, False), ("r1.5 !", "b1 !", "1.5", "1", False),
    ("r0 !", "r-0 !", "0", "-0", False), ("rnan !", "rNaN !", None, None, False),
    ("r2.5 !", "s2.5 !", None, None, False), ("b1111 !", "s15 !", None, None, False),
    ("b1010 !", "s0xa !", "10", "0xa", False), ("b1 !", "s01 !", "1", "01", False),
    ("s\u03a3 !", "s\u03c3 !", "\u03a3", "\u03c3", False), ("sAZ !", "saz !", None, None, False),
    ("sX !", "x!", None, None, False),
    # Bits by value after left extension (its rule: test_value_rules.cpp), however long.
    ("b1 !", "b" + "0" * 129 + "1 !", None, None, False), ("b001x !", "s1X !", None, None, False),
    # Unknown by spelling: all x or all z bits, a string x or z.
    ("bxxxx !", "b1 !", "xxxx", "1", True), ("sZ !", "b0 !", "Z", "0", True),
    ("x!", "z!", "x", "z", True), ("bx1 !", "b01 !", "x1", "1", False),
]


@pytest.mark.parametrize("row1, row2, text1, text2, unknown", AGREEMENT,
                         ids=[f"{r1[:-2]}~{r2[:-2]}" for r1, r2, *_ in AGREEMENT])
@pytest.mark.parametrize("ignore_unknown", [False, True])
def test_agreement(vcd, row1, row2, text1, text2, unknown, ignore_unknown):
    recorded = text1 is not None and not (unknown and ignore_unknown)
    check_both_ways(dump(vcd, "#4", row1), dump(vcd, "#4", row2),
                    [miss(4, text1, text2, unknown)] if recorded else [],
                    ignore_unknown=ignore_unknown)


WINDOW1 = ["#0", "0!", "#10", "1!", "#20", "0!", "#30", "1!", "#40", "%"]
WINDOW2 = ["#0", "0!", "#10", "1!", "#30", "1!", "#40", "%"]


@pytest.mark.parametrize("rows1, rows2, window, expected", [
    # A side that has not changed yet is "x"; changes at one time collapse into the last.
    (["#5", "1!"], ["#10", "b1 !"], {}, [miss(5, "1", "x", True)]),
    (["#10", "0!", "1!", "#10", "0!", "#12", "1!"], ["#10", "0!"], {}, [miss(12, "1", "0")]),
    # The largest time is a time like any other; times are taken in file order.
    ([f"#{MAX}", "1!"], ["#5", "0!", f"#{MAX - 1}", "1!"], {}, [miss(5, "x", "0", True),
                                                               miss(MAX - 1, "x", "1", True)]),
    ([f"#{MAX}", "1!"], [f"#{MAX}", "0!"], {}, [miss(MAX, "1", "0")]),
    ([f"#{MAX}", "1!"], [], {}, [miss(MAX, "1", "x", True)]),
    (["#20", "1!", "#10", "0!"], ["#20", "1!"], {}, [miss(10, "0", "1")]),
    # Both bodies are damaged after time 39: a window ending earlier never reaches it, and
    # nothing before its start is carried into it.
    (WINDOW1, WINDOW2, {"end": 39}, [miss(20, "0", "1")]),
    (WINDOW1, WINDOW2, {"start": 15, "end": 35}, [miss(20, "0", "x", True)]),
    (WINDOW1, WINDOW2, {"start": 21, "end": 39}, []),
    (WINDOW1, WINDOW2, {"start": 35, "end": 30}, []),
])
def test_merge_and_window(vcd, rows1, rows2, window, expected):
    a, b = dump(vcd, *rows1), dump(vcd, *rows2)
    check_both_ways(a, b, expected, **window)
    check_both_ways(a, b, [m for m in expected if not m["is_unknown"]], ignore_unknown=True,
                    **window)


@pytest.mark.parametrize("limit, signals, per_signal, compared", [
    (None, None, 3, "ab"), (0, [], 1, "ab"), (2, ("top.b",), 2, "b"), (5, ["top.b", "x"], 3, "b"),
    (1, ["top.b", "top.a", "top.b"], 1, "ab"), (None, ["TOP.A", "top.a "], 0, "")])
def test_limits_and_selection(vcd, limit, signals, per_signal, compared):
    a = dump(vcd, "#1", '0"', "0#", "#2", '1"', "1#", "#3", '0"', "0#")
    b = dump(vcd, "#1", '1"', "1#", "#2", '0"', "0#", "#3", '1"', "1#")
    check_both_ways(a, b, [miss(t, str((t + 1) % 2), str(t % 2), signal="top." + name)
                           for name in compared for t in (1, 2, 3)[:per_signal]],
                    max_mismatches=limit, signals=signals)


def test_name_lists_and_codes_shared_in_one_file_only(vcd):
    head1 = ("$var wire 1 ! b $end $var wire 1 ! a $end $var wire 1 \" only1 $end "
             "$var wire 1 \" Z $end $var wire 1 ! \u00e9 $end $enddefinitions $end\n")
    head2 = ("$var wire 1 ! zz $end $var wire 1 \" \u00e9 $end $var wire 1 \" only2 $end "
             "$var wire 1 ! Z $end $var wire 1 \" b $end $var wire 1 ! a $end "
             "$enddefinitions $end\n")
    a = dump(vcd, "#0", "1!", "#5", '1"', head=head1)
    b = dump(vcd, "#0", "1!", '0"', "#5", "0!", head=head2)
    common = ["Z", "a", "b", "\u00e9"]  # in byte order
    # Mismatches by signal, then time; only a time at which a compared signal changes counts.
    check_both_ways(a, b, [miss(0, "x", "1", True, "Z"), miss(5, "1", "0", signal="Z"),
                           miss(5, "1", "0", signal="a"), miss(0, "1", "0", signal="b"),
                           miss(0, "1", "0", signal="\u00e9")],
                    common, ["only1"], ["zz", "only2"])


@pytest.mark.parametrize("first, second, winner", [
    (0, 1, 0), (6, 0, 0), (4, 1, 4), (5, 4, 4), (1, 0, 1), (2, 1, 1), (2, 3, 2), (5, 3, 3),
    (2, 6, 2)])
def test_error_order(vcd, tmp_path, first, second, winner):
    # The headers of both files are read before either body; the error names its file.
    paths = [vcd("$var wire 1 ! a $end\n"), str(DATA / "verilator_interface.vcd"),
             vcd(HEAD + "#0\n%\n"), vcd(HEAD + "#0\n#1\n%\n"), str(tmp_path / "absent.vcd"),
             vcd(HEAD + "#0\n"), vcd("$var wire 1 ! o $end $enddefinitions $end\n#0\n1!\n")]
    with pytest.raises(RuntimeError) as info:
        quarnel.compare(paths[first], paths[second], signals=["no.such"])
    assert (str(info.value), info.value.path) == ([
        "missing $enddefinitions marker in VCD file",
        "unexpected parse error: invalid scope type at line 6",
        "I/O error: unexpected character at start of command at line 2",
        "I/O error: unexpected character at start of command at line 3",
        "I/O error: No such file or directory (os error 2)"][winner], paths[winner])


def timed(vcd, timescale, *rows):
    head = HEAD if timescale is None else f"$timescale {timescale} $end\n{HEAD}"
    return dump(vcd, *rows, head=head)


@pytest.mark.parametrize("window, expected", [
    ({}, [miss(45, "1", "0")]), ({"end": 44}, []), ({"end": 45}, [miss(45, "1", "0")]),
    # The window is in the finer unit; a change at 3 ns is at 30 in it.
    ({"start": 30}, [miss(45, "1", "0")]), ({"start": 31}, [miss(45, "x", "0", True)]),
    ({"start": 31, "end": 44}, []),
    # A coarser file holds at a start between its ticks what it held at the tick before,
    # also when its next tick brings a change or lies past the end.
    ({"start": 31, "held_at_start": True}, [miss(45, "1", "0")]),
    ({"start": 31, "end": 39, "held_at_start": True}, []),
    ({"start": 46, "held_at_start": True}, [miss(46, "1", "0")]),
])
def test_finer_timescale(vcd, window, expected):
    damage = "%" if "end" in window else ""  # just past the end: never read
    ns = timed(vcd, "1 ns", "#0", "b0 !", "#3", "b1 !", "#5", "b0 !", "#6", damage)
    ps = timed(vcd, "100ps", "#0", "b0 !", "#30", "b1 !", "#45", "b0 !", "#46", damage)
    result = quarnel.extended.compare(ns, ps, timescales="finer", signals=["top.v[3:0]"],
                                      **window)
    assert result["mismatches"] == expected
    swapped = quarnel.extended.compare(ps, ns, timescales="finer", signals=["top.v[3:0]"],
                                       **window)
    assert [(m["time"], m["value2"]) for m in swapped["mismatches"]] == [
        (m["time"], m["value1"]) for m in expected]


@pytest.mark.parametrize("first, second, timescales, text", [
    ("1 ns", "100 ps", "same", "timescales differ: 1 ns and 100 ps"),
    ("1 ns", None, "finer", "timescales differ: 1 ns and none"),
    ("3 ns", "2 ns", "finer", "timescales differ: 3 ns and 2 ns, without an exact common unit"),
    ("1 s", "1 fs", "finer", "time overflows in the finer unit: 18447 * 1000000000000000"),
])
def test_timescales_that_do_not_meet(vcd, first, second, timescales, text):
    files = [timed(vcd, first, "#18447", "1\""), timed(vcd, second, "#0", "1\"")]
    for options in ({}, {"timescales": "ticks"}):  # as written
        assert quarnel.extended.compare(*files, **options)["mismatches"] == [
            miss(0, "x", "1", True, "top.a")]
    with pytest.raises(RuntimeError) as info:
        quarnel.extended.compare(*files, timescales=timescales)
    assert (str(info.value), info.value.path) == (text, files[0] if "overflow" in text else None)
    for same in ("same", "finer"):
        assert quarnel.extended.compare(files[1], files[1], timescales=same)["passed"]


@pytest.mark.parametrize("path", [DATA / "icarus_hier.vcd", DATA / "verilator_hier.vcd",
                                  DATA / "ghdl_hier.vcd", REPO / "examples" / "counter.vcd"])
def test_real_dumps(vcd, path):
    names = sorted(quarnel.list_signals(str(path)), key=str.encode)
    check_both_ways(str(path), str(path), [], names)
    if path.name == "ghdl_hier.vcd":  # upper-case X and Z agree with lower case
        check_both_ways(str(path), vcd(Path(path).read_text().lower()), [], names)
    if path.name == "counter.vcd":
        check_both_ways(str(path), str(REPO / "examples" / "counter_changed.vcd"),
                        [miss(135, "10", "11", signal="tb.count[3:0]")], names)

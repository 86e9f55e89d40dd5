"""compare: agreement across kinds, unknown values, the merge in time, windows, limits,
signal selection, error order, the result dictionary and argument conversion."""

from pathlib import Path

import pytest

import quarnel

REPO = Path(__file__).resolve().parent.parent
DATA = REPO / "tests" / "data"
MAX = 2**64 - 1
KEYS = ["passed", "file1", "file2", "common_signals", "signals_only_in_file1",
        "signals_only_in_file2", "total_mismatches", "signals_with_mismatches", "mismatches"]

HEAD = """\
$scope module top $end
$var wire 4 ! v [3:0] $end
$var wire 1 " a $end
$var wire 1 # b $end
$upscope $end
$enddefinitions $end
"""
NAMES = ["top.a", "top.b", "top.v[3:0]"]


def dump(vcd, *rows, head=HEAD):
    return vcd(head + "".join(row + "\n" for row in rows))


def mismatch(time, value1, value2, unknown=False, signal="top.v[3:0]"):
    return {"signal": signal, "time": time, "value1": value1, "value2": value2,
            "is_unknown": unknown}


def mirrored(mismatches):
    return [dict(m, value1=m["value2"], value2=m["value1"]) for m in mismatches]


def report(a, b, mismatches, common=NAMES, only1=(), only2=()):
    return {"passed": not mismatches, "file1": a, "file2": b, "common_signals": list(common),
            "signals_only_in_file1": list(only1), "signals_only_in_file2": list(only2),
            "total_mismatches": len(mismatches),
            "signals_with_mismatches": len({m["signal"] for m in mismatches}),
            "mismatches": mismatches}


def check_both_ways(a, b, expected, common=NAMES, **options):
    """compare(a, b) gives `expected` mismatches; compare(b, a) the same with the sides swapped."""
    assert quarnel.compare(a, b, **options) == report(a, b, expected, common)
    assert quarnel.compare(b, a, **options) == report(b, a, mirrored(expected), common)


# (change in file 1, change in file 2, value1 and value2 texts when they disagree, is_unknown)
AGREEMENT = [
    ("b0001 !", "b1 !", None, None, False), ("b1010 !", "b1011 !", "10", "11", False),
    ("1!", "b1 !", None, None, False), ("0!", "b0000 !", None, None, False),
    ("r1 !", "b1 !", None, None, False), ("r1.5 !", "b1 !", "1.5", "1", False),
    ("r-0 !", "b0 !", "-0", "0", False), ("r1 !", "1!", None, None, False),
    ("r0 !", "r-0 !", "0", "-0", False), ("r1 !", "r1.0 !", None, None, False),
    ("rnan !", "rNaN !", None, None, False), ("rinf !", "rInfinity !", None, None, False),
    ("r2.5 !", "s2.5 !", None, None, False), ("b1111 !", "s15 !", None, None, False),
    ("b1010 !", "s0xa !", "10", "0xa", False), ("b1 !", "s01 !", "1", "01", False),
    ("sABC !", "sabc !", None, None, False), ("sBusy !", "sDone !", "Busy", "Done", False),
    ("s\u00c9 !", "s\u00e9 !", "\u00c9", "\u00e9", False),
    ("s\u03a3 !", "s\u03c3 !", "\u03a3", "\u03c3", False),
    ("sAB !", "sABC !", "AB", "ABC", False),
    ("sX !", "x!", None, None, False), ("sZ !", "bz !", None, None, False),
    ("b1x !", "b1X !", None, None, False), ("b0x1 !", "bx1 !", "0x1", "x1", False),
    ("bx1 !", "b01 !", "x1", "1", False), ("bxx !", "b11 !", "xx", "3", True),
    # Bits by value after left extension, however long the spelling.
    ("b1x !", "b001x !", None, None, False), ("bx !", "bxxxx !", None, None, False),
    ("bzz0 !", "bz0 !", None, None, False), ("b0zz !", "b0z !", "0zz", "0z", False),
    ("b1 !", "b" + "0" * 129 + "1 !", None, None, False), ("b001x !", "s1X !", None, None, False),
    ("bx !", "b1 !", "x", "1", True), ("sZ !", "b0 !", "Z", "0", True),
    ("x!", "z!", "x", "z", True),
]


@pytest.mark.parametrize("row1, row2, text1, text2, unknown", AGREEMENT,
                         ids=[f"{r1[:-2]}~{r2[:-2]}" for r1, r2, *_ in AGREEMENT])
@pytest.mark.parametrize("ignore_unknown", [False, True])
def test_agreement(vcd, row1, row2, text1, text2, unknown, ignore_unknown):
    a, b = dump(vcd, "#4", row1), dump(vcd, "#4", row2)
    recorded = text1 is not None and not (unknown and ignore_unknown)
    expected = [mismatch(4, text1, text2, unknown)] if recorded else []
    check_both_ways(a, b, expected, ignore_unknown=ignore_unknown)


@pytest.mark.parametrize("rows1, rows2, expected, ignored", [
    # A side that has not changed yet is "x".
    (["#5", "1!"], ["#10", "b1 !"], [mismatch(5, "1", "x", True)], []),
    (["#5", "1!"], [], [mismatch(5, "1", "x", True)], []),
    (["#5", "bx1 !"], [], [mismatch(5, "x1", "x", True)], []),
    # Changes at one time collapse into the last of them.
    (["#10", "1!", "0!"], ["#10", "0!"], [], []),
    (["#10", "0!", "1!", "#10", "0!"], ["#10", "0!"], [], []),
    (["#10", "0!", "1!"], ["#10", "0!"], [mismatch(10, "1", "0")], [mismatch(10, "1", "0")]),
    # A change at the largest time is never applied.
    (["#0", "0!", f"#{MAX}", "1!"], ["#0", "0!"], [], []),
    ([f"#{MAX}", "1!"], [], [], []),
    ([f"#{MAX}", "1!"], ["#5", "0!"], [mismatch(5, "x", "0", True)], []),
    ([f"#{MAX - 1}", "1!"], [], [mismatch(MAX - 1, "1", "x", True)], []),
    # Times in file order: each step takes the smaller of the two next times.
    (["#20", "1!", "#10", "0!"], ["#20", "1!"], [mismatch(10, "0", "1")], [mismatch(10, "0", "1")]),
])
def test_merge(vcd, rows1, rows2, expected, ignored):
    a, b = dump(vcd, *rows1), dump(vcd, *rows2)
    check_both_ways(a, b, expected)
    check_both_ways(a, b, ignored, ignore_unknown=True)


WINDOW1 = ["#0", "0!", "#10", "1!", "#20", "0!", "#30", "1!", "#40", "%"]
WINDOW2 = ["#0", "0!", "#10", "1!", "#30", "1!", "#40", "%"]


@pytest.mark.parametrize("start, end, expected", [
    (None, 39, [mismatch(20, "0", "1")]),
    (0, 20, [mismatch(20, "0", "1")]), (20, 20, [mismatch(20, "0", "x", True)]),
    (None, 19, []), (21, 39, []), (31, 39, []), (15, 35, [mismatch(20, "0", "x", True)]),
    (35, 30, []),
])
def test_window(vcd, start, end, expected):
    # Both bodies are damaged after time 39: a window ending earlier never reaches it.
    check_both_ways(dump(vcd, *WINDOW1), dump(vcd, *WINDOW2), expected, start=start, end=end)


LIMITS_BODY1 = ["#1", '0"', "0#", "#2", '1"', "1#", "#3", '0"', "0#"]
LIMITS_BODY2 = ["#1", '1"', "1#", "#2", '0"', "0#", "#3", '1"', "1#"]


@pytest.mark.parametrize("limit, per_signal", [(None, 3), (0, 1), (1, 1), (2, 2), (5, 3)])
def test_max_mismatches(vcd, limit, per_signal):
    a, b = dump(vcd, *LIMITS_BODY1), dump(vcd, *LIMITS_BODY2)
    expected = [mismatch(t, str((t + 1) % 2), str(t % 2), signal=name)
                for name in ("top.a", "top.b") for t in (1, 2, 3)[:per_signal]]
    check_both_ways(a, b, expected, max_mismatches=limit)


@pytest.mark.parametrize("signals, compared", [
    (None, ["top.a", "top.b"]), ([], ["top.a", "top.b"]), (("top.b",), ["top.b"]),
    (["top.b", "no.such", "top.b"], ["top.b"]), (["top.b", "top.a"], ["top.a", "top.b"]),
    (["no.such"], []), (["TOP.A", "top.a "], []),
])
def test_signal_selection(vcd, signals, compared):
    a, b = dump(vcd, *LIMITS_BODY1), dump(vcd, *LIMITS_BODY2)
    expected = [m for m in quarnel.compare(a, b)["mismatches"] if m["signal"] in compared]
    assert quarnel.compare(a, b, signals=signals) == report(a, b, expected)


def test_name_lists(vcd):
    head1 = ("$var wire 1 ! b $end $var wire 1 ! a $end $var wire 1 ! only1 $end "
             "$var wire 1 ! Z $end $var wire 1 ! a_b $end $var wire 1 ! \u00e9 $end "
             "$enddefinitions $end\n")
    head2 = ("$var wire 1 ! zz $end $var wire 1 ! \u00e9 $end $var wire 1 ! a_b $end "
             "$var wire 1 ! only2 $end $var wire 1 ! Z $end $var wire 1 ! b $end "
             "$var wire 1 ! a $end $enddefinitions $end\n")
    a, b = dump(vcd, "#0", "1!", head=head1), dump(vcd, "#0", "0!", head=head2)
    common = ["Z", "a", "a_b", "b", "\u00e9"]
    expected = [mismatch(0, "1", "0", signal=name) for name in common]
    assert quarnel.compare(a, b) == report(a, b, expected, common, ["only1"], ["zz", "only2"])
    assert quarnel.compare(a, b, signals=["only1", "zz"]) == \
        report(a, b, [], common, ["only1"], ["zz", "only2"])


def test_names_sharing_a_code_in_one_file_only(vcd):
    # top.a and top.b share a code in the first file, top.b and top.c in the second.
    head1 = ("$var wire 1 ! a $end $var wire 1 ! b $end $var wire 1 \" c $end "
             "$enddefinitions $end\n")
    head2 = ("$var wire 1 ! a $end $var wire 1 \" b $end $var wire 1 \" c $end "
             "$enddefinitions $end\n")
    a = dump(vcd, "#0", "1!", "#5", "0!", '1"', head=head1)
    b = dump(vcd, "#0", "0!", '1"', "#5", '0"', head=head2)
    expected = [mismatch(0, "1", "0", signal="a"),
                mismatch(0, "x", "1", True, signal="c"), mismatch(5, "1", "0", signal="c")]
    check_both_ways(a, b, expected, common=["a", "b", "c"])


def test_result_layout(vcd, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    dump(vcd, "#0", "1!", "0#")
    dump(vcd, "#0", "0!", "0#")
    result = quarnel.compare("dump1.vcd", "./dump2.vcd", signals=["top.v[3:0]", "top.b"])
    assert list(result) == KEYS
    assert (result["file1"], result["file2"]) == ("dump1.vcd", "./dump2.vcd")
    assert [list(m) for m in result["mismatches"]] == [
        ["signal", "time", "value1", "value2", "is_unknown"]]
    assert [type(result[key]) for key in KEYS] == [bool, str, str, list, list, list, int, int, list]


@pytest.mark.parametrize("name", ["icarus_hier.vcd", "verilator_hier.vcd", "ghdl_hier.vcd"])
def test_simulator_dump_against_itself(name):
    path = str(DATA / name)
    names = sorted(quarnel.list_signals(path), key=lambda n: n.encode())
    assert quarnel.compare(path, path) == report(path, path, [], names)


def test_simulator_dump_against_a_lowercased_copy(vcd):
    # Upper-case X and Z in vectors and strings agree with lower case.
    path = str(DATA / "ghdl_hier.vcd")
    copy = vcd(Path(path).read_text().lower())
    names = sorted(quarnel.list_signals(path), key=lambda n: n.encode())
    assert quarnel.compare(path, copy) == report(path, copy, [], names)


HEADER1 = "$var wire 1 ! a $end\n"
HEADER2 = str(DATA / "verilator_interface.vcd")
BODY1 = HEAD + "#0\n%\n"
BODY2 = HEAD + "#0\n#1\n%\n"
OTHER = "$var wire 1 ! other $end $enddefinitions $end\n#0\n1!\n"
MESSAGES = {
    "HEADER1": "missing $enddefinitions marker in VCD file",
    "HEADER2": "unexpected parse error: invalid scope type at line 6",
    "BODY1": "I/O error: unexpected character at start of command at line 2",
    "BODY2": "I/O error: unexpected character at start of command at line 3",
    "ABSENT": "I/O error: No such file or directory (os error 2)",
}


@pytest.mark.parametrize("first, second, signals, winner", [
    ("HEADER1", "HEADER2", None, "HEADER1"), ("ABSENT", "HEADER2", None, "ABSENT"),
    ("BODY1", "HEADER2", None, "HEADER2"), ("BODY1", "ABSENT", None, "ABSENT"),
    ("BODY1", "BODY2", None, "BODY1"), ("HEAD", "BODY2", None, "BODY2"),
    ("HEAD", "BODY2", ["no.such"], "BODY2"), ("OTHER", "BODY2", None, "BODY2"),
    ("BODY1", "OTHER", None, "BODY1"),
])
def test_error_order(vcd, tmp_path, first, second, signals, winner):
    files = {"HEADER1": lambda: vcd(HEADER1), "HEADER2": lambda: HEADER2,
             "BODY1": lambda: vcd(BODY1), "BODY2": lambda: vcd(BODY2),
             "HEAD": lambda: vcd(HEAD + "#0\n"), "OTHER": lambda: vcd(OTHER),
             "ABSENT": lambda: str(tmp_path / "absent.vcd")}
    with pytest.raises(RuntimeError) as info:
        quarnel.compare(files[first](), files[second](), signals=signals)
    assert type(info.value) is RuntimeError
    assert str(info.value) == MESSAGES[winner]


@pytest.mark.parametrize("args, kwargs, error, message", [
    (("a", "b", "c"), {}, TypeError, "compare() takes 2 positional arguments but 3 were given"),
    (("a",), {}, TypeError, "compare() missing 1 required positional argument: 'file2'"),
    (("a", "b"), {"limit": 1}, TypeError, "compare() got an unexpected keyword argument 'limit'"),
    (("a",), {"file1": "b"}, TypeError, "compare() got multiple values for argument 'file1'"),
    ((1, "b"), {"ignore_unknown": 1}, TypeError,
     "argument 'file1': 'int' object cannot be converted to 'PyString'"),
    (("a", "b"), {"ignore_unknown": 1}, TypeError,
     "argument 'ignore_unknown': 'int' object cannot be converted to 'PyBool'"),
    (("a", "b"), {"ignore_unknown": None}, TypeError,
     "argument 'ignore_unknown': 'NoneType' object cannot be converted to 'PyBool'"),
    (("a", "b"), {"ignore_unknown": "yes", "start": -1}, TypeError,
     "argument 'ignore_unknown': 'str' object cannot be converted to 'PyBool'"),
    (("a", "b"), {"signals": "top.clk", "ignore_unknown": 1}, TypeError,
     "argument 'signals': Can't extract `str` to `Vec`"),
    (("a", "b"), {"signals": ["top.clk", None]}, TypeError,
     "argument 'signals': 'NoneType' object cannot be converted to 'PyString'"),
    (("a", "b"), {"max_mismatches": -1, "signals": "x"}, OverflowError, None),
    (("a", "b"), {"start": -1}, OverflowError, None),
    (("a", "b"), {"end": 2**64}, OverflowError, None),
])
def test_argument_errors(args, kwargs, error, message):
    # The paths do not exist: every failure here comes before the core.
    with pytest.raises(error) as info:
        quarnel.compare(*args, **kwargs)
    assert type(info.value) is error
    if message is None:
        assert not str(info.value).startswith("argument")
    else:
        assert str(info.value) == message


def test_boolean_flags(vcd):
    a, b = dump(vcd, "#5", "1!"), dump(vcd, "#6", "1!")
    unknown = quarnel.compare(a, b)
    assert unknown["total_mismatches"] == 1
    assert quarnel.compare(file1=a, file2=b, ignore_unknown=False) == unknown
    assert quarnel.compare(a, b, ignore_unknown=True)["passed"] is True
    numpy = pytest.importorskip("numpy")
    assert quarnel.compare(a, b, ignore_unknown=numpy.bool_(True))["passed"] is True
    assert quarnel.compare(a, b, ignore_unknown=numpy.False_) == unknown


def test_shipped_example_with_one_bit_changed():
    a = str(REPO / "examples" / "counter.vcd")
    b = str(REPO / "examples" / "counter_changed.vcd")
    names = sorted(quarnel.list_signals(a))
    assert quarnel.compare(a, a) == report(a, a, [], names)
    check_both_ways(a, b, [mismatch(135, "10", "11", signal="tb.count[3:0]")], names)

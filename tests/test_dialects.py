"""quarnel.extended: what it reads beyond quarnel, and quarnel's answers wherever quarnel reads."""

import pytest

import quarnel
import quarnel.extended
from conftest import DATA, REPO, error_of
from quarnel import extended

PARSE, IO = "unexpected parse error: ", "I/O error: "
TOP = "$scope module top $end\n$var wire 1 ! a $end\n$var wire 2 # v [1:0] $end\n$upscope $end\n"
M = "$enddefinitions $end\n"


@pytest.mark.parametrize("path", sorted([*DATA.glob("*.vcd"), *(REPO / "examples").rglob("*.vcd")]),
                         ids=lambda p: p.name)
def test_same_answers_wherever_the_specified_dialect_reads(path):
    p = str(path)
    names = extended.list_signals(p)
    for function, *args in [("list_signals", p), ("metadata", p), ("extract", p, names),
                            ("toggles", p, names), ("find", p, names[-1], "1"), ("compare", p, p)]:
        try:
            strict = getattr(quarnel, function)(*args)
        except RuntimeError:
            continue
        assert getattr(extended, function)(*args) == strict
    assert quarnel.extended is extended and extended.__all__ == quarnel.__all__
    # compare's docstring also tells of its option timescales.
    assert all(getattr(extended, f).__doc__ == getattr(quarnel, f).__doc__
               for f in quarnel.__all__ if f != "compare")


@pytest.mark.parametrize("text, call, answer, strict_error", [
    (DATA / "verilator_interface.vcd", "list_signals", ["TOP.top.bus.addr[3:0]",
     "TOP.top.bus.valid", "TOP.top.p.a[3:0]", "TOP.top.p.b"],
     PARSE + "invalid scope type at line 6"),
    ("$var int 32 ! a $end\n" + M, "list_signals", ["a"],
     PARSE + "invalid variable type at line 1"),
    ("$attrbegin misc 07 std_logic 1 $end\n" + TOP + M + "#1\n$attrbegin x $end\n1!\n", "extract",
     [("top.a", 1, "1")], PARSE + "unknown command at line 1"),
    (TOP + M + "#0\nU!\n#2\nh!\n#3\n-!\n", "extract", [("top.a", 0, "u"), ("top.a", 2, "h"),
     ("top.a", 3, "-")], IO + "unexpected character at start of command at line 2"),
    (DATA / "ghdl_ninevalue.vcd", "toggles", {"ninevalue.v[3:0]": 3, "ninevalue.s": 3},
     IO + "invalid VCD logic value at line 2"),
    (TOP + M + "#0\nbL- #\n#1\nbUu #\n", "find", {"found": True, "signal": "top.v[1:0]",
     "time": 1, "value": "uu"}, IO + "invalid VCD logic value at line 2"),
    (TOP + TOP + M, "list_signals", ["top.a", "top.v[1:0]"],
     "duplicate signal name detected: top.a"),
    ("$scope module  $end\n" + TOP + "$upscope $end\n" + M, "list_signals", ["top.a", "top.v[1:0]"],
     PARSE + "expected `$end` at line 2"),
    ("$var wire 0 ! z $end\n" + M + "#0\nb !\n#1\nb !\n", "extract", [("z", 0, ""), ("z", 1, "")],
     IO + "invalid VCD logic value at line 2")])
def test_extensions(vcd, text, call, answer, strict_error):
    path = vcd(text) if isinstance(text, str) else str(text)  # a real simulator's dump
    names = quarnel.extended.list_signals(path)
    args = {"extract": (names,), "toggles": (names,), "find": (names[-1], "u")}.get(call, ())
    got = getattr(extended, call)(path, *args)
    if call == "extract":
        got = [(r["signal"], r["time"], r["value"]) for r in got]
    assert got == answer
    assert error_of(getattr(quarnel, call), path, *args) == strict_error

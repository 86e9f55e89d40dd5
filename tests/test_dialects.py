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
    assert quarnel.extended is extended and extended.__all__ == [*quarnel.__all__, "extract_table",
                                                               "value_at", "timescale", "index",
                                                               "buses", "sample"]
    # compare's docstring also tells of its option timescales; the others differ in buses.
    assert all(getattr(extended, f).__doc__.replace(", *, buses=False", "") ==
               getattr(quarnel, f).__doc__ for f in quarnel.__all__ if f != "compare")


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


@pytest.fixture(params=[("1", "65536"), ("4", "16")], ids=["one thread", "pieces"])
def threads(request, monkeypatch):
    """Each test twice: the body read on one thread, and in pieces of 16 bytes on four."""
    monkeypatch.setenv("QUARNEL_THREADS", request.param[0])
    monkeypatch.setenv("QUARNEL_CHUNK_BYTES", request.param[1])


ZERO_WIDTH = "$scope module t $end\n$var wire 0 {} e $end\n$var wire 1 ! a $end\n$upscope $end\n" + M


@pytest.mark.parametrize("code", [*"01xzuwlh-XZUWLH", "Hq", "h!", "0a", "H$", "zz", "10", "x1"])
@pytest.mark.parametrize("blank", [" ", "\t", " \t  "], ids=["space", "tab", "several"])
def test_empty_vector_whose_code_starts_with_a_value_letter(vcd, threads, code, blank):
    path = vcd(ZERO_WIDTH.format(code) + f"#0\n$dumpvars\nb{blank}{code}\n1!\n$end\n"
               f"#1\nb{blank}{code}{blank}\n#5\n0!\n")
    assert [(r["signal"], r["time"], r["value"]) for r in extended.extract(path, ["t.a", "t.e"])] \
        == [("t.e", 0, ""), ("t.a", 0, "1"), ("t.e", 1, ""), ("t.a", 5, "0")]
    assert extended.metadata(path)["end_time"] == 5


@pytest.mark.parametrize("change", ["b0\n!", "b 0\n!", "b \n0 !", "b\n\n0\n!", "b 0 \n\n !",
                                    "b 0 !", "b\t0\t!"])
def test_bits_and_code_on_two_lines_read_as_in_the_specified_dialect(vcd, threads, change):
    path = vcd(ZERO_WIDTH.format("e") + f"#0\n{change}\n#2\n")
    answer = [{"signal": "t.a", "time": 0, "value": "0"}]
    assert quarnel.extract(path, ["t.a"]) == extended.extract(path, ["t.a"]) == answer


@pytest.mark.parametrize("time, end", [
    ("3.0", 3), ("3.000", 3), ("+3.0", 3), (f"{2**64 - 1}.00", 2**64 - 1),
    ("3.2", "timestamp with a non-zero fraction"), ("3.0001", "timestamp with a non-zero fraction"),
    ("3.", "invalid digit found in string"), ("3.0x", "invalid digit found in string"),
    (".0", "invalid digit found in string"),
    (f"{2**64}.0", "number too large to fit in target type")])
def test_timestamps_with_a_fraction(vcd, threads, time, end):
    # Only a fraction of zeros is read, and only in the extended dialect.
    path = vcd(TOP + M + f"#0\n1!\n#{time}\n0!\n")
    if isinstance(end, str):
        assert error_of(extended.extract, path, ["top.a"]) == IO + end + " at line 3"
        return
    assert extended.metadata(path)["end_time"] == end
    assert extended.extract(path, ["top.a"])[-1] == {"signal": "top.a", "time": end, "value": "0"}
    assert error_of(quarnel.metadata, path) == IO + "invalid digit found in string at line 3"


@pytest.mark.parametrize("command", [f"${'k' * n}{text} $end" for n in (17, 33, 100_000)
                                     for text in ("", " a note ", " \u00e9" * 5000)]
                         + ["$" + "k" * 40 + "$end"], ids=lambda c: f"{c[:3]}{len(c)}")
def test_unknown_commands_skipped_at_any_length(vcd, threads, command):
    path = vcd(command + "\n" + TOP + M + f"#0\n1!\n{command}\n#1\n0!\n")
    assert [r["time"] for r in extended.extract(path, ["top.a"])] == [0, 1]


@pytest.mark.parametrize("text", [b"\xff", " \u00e9".encode() * 3000 + b"\xc3"])
def test_unknown_command_not_utf8(vcd, text):
    path = vcd((TOP + M + "#0\n$attr\n").encode() + text + b"\n$end\n")
    assert error_of(extended.metadata, path) == IO + "invalid UTF-8 at line 4"

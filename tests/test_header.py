"""list_signals: full names, scope-name escaping, filters, line ends and header errors."""

import pytest

import quarnel
import quarnel.extended
from conftest import DATA, error_of

PARSE = "unexpected parse error: "
M = "$enddefinitions $end\n"
ONE_LINE = "$scope module top $end $var wire 1 ! clk $end $upscope $end $enddefinitions $end"


def test_full_names_in_declaration_order_and_filter(vcd):
    path = vcd("$var wire 1 ! rst $end $ scope module top $end $scope module cpu $end $var wire 8 "
               "# d [7:0] $end $var reg 8 $ acc[7:0] $end $upscope $end $var wire 1 % b [+3] $end "
               "$upscope $end $timescale 1 ps $end $var wire 1 ! t $end $enddefinitions $end\n")
    assert quarnel.list_signals(path) == ["rst", "top.cpu.d[7:0]", "top.cpu.acc[7:0]",
                                          "top.b[3]", "t"]
    assert [quarnel.list_signals(path, f) for f in ("c", "*", "TOP", " t", "[3] ")] == [
        ["top.cpu.d[7:0]", "top.cpu.acc[7:0]"], [], [], [], []]


@pytest.mark.parametrize("eol", [b"\n", b"\r\n", b"\r"])
def test_scope_names_line_ends_and_undecodable_bytes(vcd, eol):
    # Only a line of at least four tokens that starts with "$scope " is rebuilt.
    path = vcd(b"$scope module u(0) $end\n$scope module t\xe9st $end\n$scope module g[0]\n$end\n"
               b"  $scope  module g[1] $end\n$var wire 1 # cut\xe2\x82 $end\n$upscope $end\n"
               b"$upscope $end\n$upscope $end\n$upscope $end\n$enddefinitions $end\n".replace(
                   b"\n", eol))
    assert quarnel.list_signals(path) == ["u(0).\\t\ufffdst.g[0].\\g[1].cut\ufffd"]


@pytest.mark.parametrize("text, message", [  # the reader's own tests cover every text
    ("$var wire 1 ! a $end\n$EndDefinitions $end\n", "missing $enddefinitions marker in VCD file"),
    ("$var wire 1 ! b $end $var wire 1 # a[0] $end\n$var wire 1 % a [0] $end $var wire 1 & b "
     "$end\n" + M, "duplicate signal name detected: a[0]"),
    ("$comment\n\n$end $var wire 1 # a\n\nb $end" + M, PARSE + "expected `$end` at line 5"),
    ("$var wire 8 # d [7:x] $end\n" + M, PARSE + "invalid reference index at line 1")])
@pytest.mark.parametrize("eol", ["\n", "\r\n"])
def test_header_errors(vcd, text, message, eol):
    path = vcd(text.replace("\n", eol).encode("latin-1"))
    assert error_of(quarnel.list_signals, path) == message


@pytest.mark.parametrize("line, names", [  # None: refused in both dialects
    ("$scope module $end $var wire 1 ! a $end\n$upscope $end", ["top.a"]),
    ("$scope module $end $var wire 1 ! a $end $var wire 1 # b [0] $end $upscope $end", ["top.a",
                                                                                    "top.b[0]"]),
    ("$scope module $end $upscope $end $var wire 1 ! a $end", ["top.a"]),
    ("$scope module $end $scope module g[0] $end $var wire 1 ! a $end\n$upscope $end\n$upscope $end",
     ["top.g[0].a"]),
    ("  $scope  task\t$end  $comment c $end $var wire 1 ! a $end\n$upscope $end", ["top.a"]),
    ("$scope module u $var wire 1 ! a $end\n$upscope $end", None)])
@pytest.mark.parametrize("module", [quarnel, quarnel.extended], ids=["strict", "extended"])
@pytest.mark.parametrize("eol", ["\n", "\r\n"])
def test_declarations_on_a_scope_line_without_name_or_end(vcd, line, names, module, eol):
    # The extended dialect reads a scope without a name, which adds nothing to the names; a
    # declaration on such a line is read with it, or refused, never dropped.
    path = vcd(("$scope module top $end\n" + line + "\n$upscope $end\n" + M).replace("\n", eol))
    if module is quarnel or names is None:
        assert error_of(module.list_signals, path) == PARSE + "expected `$end` at line 2"
    else:
        assert module.list_signals(path) == names


@pytest.mark.parametrize("at", [8192 - 20, 8192 - 8, 8192, 8192 + 7, 65536 - 8, 65536])
def test_marker_line_across_buffer_boundaries(vcd, at):
    head = "$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n$comment "
    path = vcd(head + "x" * (at - len(head) - 6) + " $end\n$enddefinitions $end\n#7\n1!\n")
    assert quarnel.list_signals(path) == ["top.clk"]
    assert quarnel.extract(path, ["top.clk"]) == [{"signal": "top.clk", "time": 7, "value": "1"}]


@pytest.mark.parametrize("shift", [0, 1, 2, 3, 7, 15])
def test_lines_longer_than_a_block(vcd, shift):
    # Read in pieces: a name of two-byte characters, a scope line that is rewritten and the
    # marker lie across the cuts; the body begins on the marker line after long whitespace.
    pad = " " * (65536 + shift)
    name = "\u00e9" * (32768 + shift)
    path = vcd(f"$scope module a-b{pad}$end\n$var wire 1 ! {pad}{name} $end\n$upscope $end\n"
               f"$comment{pad}$end{pad[:shift + 9]}$enddefinitions $end{pad}#7 1!\n#9\n")
    assert quarnel.list_signals(path) == [f"\\a-b.{name}"]
    assert quarnel.extract(path, [f"\\a-b.{name}"])[0]["time"] == 7


@pytest.mark.parametrize("end", [" ", "\t", "\r", " #0 1!\n", "\n%bad\n", "\n#0\nb102 !\n"])
def test_only_the_header_is_read(vcd, end):
    assert quarnel.list_signals(vcd(ONE_LINE + end)) == ["top.clk"]


@pytest.mark.parametrize("name", sorted(p.name[:-12] for p in DATA.glob("*.signals.txt")))
def test_simulator_dumps_list_their_expected_names(vcd, name):
    expected = (DATA / f"{name}.signals.txt").read_text(encoding="utf-8").splitlines()
    assert quarnel.list_signals(str(DATA / f"{name}.vcd")) == expected
    assert error_of(quarnel.list_signals, vcd(ONE_LINE)) == PARSE + "unexpected end of VCD file"

"""list_signals and the header seen from Python: full names, scope-name escaping, filtering,
line ends, undecodable bytes and the errors a header raises."""

import pytest

import quarnel
from conftest import DATA, error_of

PARSE = "unexpected parse error: "


def lines(*rows):
    return "".join(row + "\n" for row in rows)


def test_full_names_in_declaration_order(vcd):
    text = lines(
        "$date d $end", "$var wire 1 ! rst $end", "$ scope module top $end",
        "$scope module cpu $end", "$comment inside $end", "$var wire 8 # data [7:0] $end",
        "$var reg 8 $ acc[7:0] $end", "$upscope $end", "$var wire 1 % bit [3] $end",
        "$var wire 1 & plus [+3] $end", "$var wire 36 ( wide [31:-4] $end",
        "$var wire 1 !!!!!!!!!@ longest_code $end", "$upscope $end", "$timescale 10 ps $end",
        "$var wire 1 ! tail $end", "$enddefinitions $end")
    assert quarnel.list_signals(vcd(text)) == [
        "rst", "top.cpu.data[7:0]", "top.cpu.acc[7:0]", "top.bit[3]", "top.plus[3]",
        "top.wide[31:-4]", "top.longest_code", "tail"]
    assert quarnel.list_signals(vcd(text), "a") == [
        "top.cpu.data[7:0]", "top.cpu.acc[7:0]", "tail"]
    for absent in ("*", "TOP", " rst", "top.bit[3] "):
        assert quarnel.list_signals(vcd(text), absent) == []


@pytest.mark.parametrize("scope_line, name", [
    ("$scope module u_cpu(0) $end", "u_cpu(0)"), ("$scope module _a$b.c $end", "_a$b.c"),
    ("$scope module gen[0] $end", "\\gen[0]"), ("$scope module 1abc $end", "\\1abc"),
    ("$scope module caf\u00e9 $end", "\\caf\u00e9"), ("$scope module \\g[1] $end", "\\g[1]"),
    # Only a line of at least four tokens that starts with "$scope " is rebuilt.
    ("$scope module gen[0]\n$end", "gen[0]"), ("$scope\tmodule gen[0] $end", "gen[0]"),
    ("  $scope  module gen[0] $end", "\\gen[0]"), ("$scope module top x\t$end  ", "top"),
    (b"$scope module t\xe9st $end", "\\t\ufffdst"),
])
@pytest.mark.parametrize("eol", ["\n", "\r\n", "\r"])
def test_scope_names(vcd, scope_line, name, eol):
    line = scope_line if isinstance(scope_line, bytes) else scope_line.encode()
    text = line + b"\n$var wire 1 ! q $end $var wire 1 # cut\xe2\x82 $end\n$upscope $end\n"
    path = vcd((text + b"$enddefinitions $end\n").replace(b"\n", eol.encode()))
    assert quarnel.list_signals(path) == [f"{name}.q", f"{name}.cut\ufffd"]


def numbered(n, row):
    """A header whose line n (n >= 2) is `row`."""
    return lines(*[f"$comment line {i} $end" for i in range(1, n)], row, "$enddefinitions $end")


@pytest.mark.parametrize("text, message", [
    ("", "missing $enddefinitions marker in VCD file"),
    (lines("$var wire 1 ! a $end", "$EndDefinitions $end"),
     "missing $enddefinitions marker in VCD file"),
    (lines("$var wire 1 ! b $end", "$var wire 1 # a $end", "$var wire 1 $ a[0] $end",
           "$var wire 1 % a [0] $end", "$var wire 1 & b $end", "$enddefinitions $end"),
     "duplicate signal name detected: a[0]"),
    (numbered(12, "$Var wire 1 # b $end"), PARSE + "unknown command at line 12"),
    (numbered(2, "$comment\n\n$end $var wire 1 # a\n\nb $end"),
     PARSE + "expected `$end` at line 6"),
    (numbered(3, "#0"), PARSE + "unexpected command in header at line 3"),
    (numbered(2, "$scope generate g $end"), PARSE + "invalid scope type at line 2"),
    (numbered(2, "$var wire 1 \xff a $end"), PARSE + "invalid characters in ID at line 2"),
    (numbered(6, "$var wire 1 # a\n[x]"), PARSE + "invalid reference index at line 7"),
    (lines("$comment see $enddefinitions below $end", "$enddefinitions $end"),
     PARSE + "unexpected character at start of command at line 1"),
    (lines("$scope module t $end", "$upscope $end") + "$enddefinitions $end", PARSE + "unexpected end of VCD file"),
    (lines("$var wire 1 ! x$enddefinitions $end"),
     PARSE + "unexpected end of VCD file before $enddefinitions"),
    (lines("$scope module a $end", "$scope module x$enddefinitions $end"),
     PARSE + "unexpected EOF with open $scope"),
])
@pytest.mark.parametrize("eol", ["\n", "\r\n"])
def test_header_errors(vcd, text, message, eol):
    assert error_of(quarnel.list_signals, vcd(text.replace("\n", eol).encode("latin-1"))) == \
        message


@pytest.mark.parametrize("shift", [-20, -8, 0, 7, 65536 - 8192 - 20, 65536 - 8192 + 7])
def test_marker_line_across_buffer_boundaries(vcd, shift):
    head = lines("$scope module top $end", "$var wire 1 ! clk $end", "$upscope $end")
    pad = 8192 + shift - len(head) - len("$comment  $end\n")
    text = head + "$comment " + "x" * pad + " $end\n$enddefinitions $end\n#7\n1!\n"
    path = vcd(text)
    assert quarnel.list_signals(path) == ["top.clk"]
    assert quarnel.extract(path, ["top.clk"]) == [{"signal": "top.clk", "time": 7, "value": "1"}]


ONE_LINE = "$scope module top $end $var wire 1 ! clk $end $upscope $end $enddefinitions $end"


@pytest.mark.parametrize("text", [
    ONE_LINE + " ", ONE_LINE + "\t", ONE_LINE + "\r", ONE_LINE.replace(
        "$var", "$comment " + "y" * 200_000 + " $end $var") + "\n",
    ONE_LINE + " #0 1!\n", ONE_LINE + "\n%bad\n", ONE_LINE + "\n#0\nb102 !\n", ONE_LINE + "\n#0\n1!",
])
def test_only_the_header_is_read(vcd, text):
    assert quarnel.list_signals(vcd(text)) == ["top.clk"]
    assert error_of(quarnel.list_signals, vcd(ONE_LINE)) == PARSE + "unexpected end of VCD file"


@pytest.mark.parametrize("name", sorted(p.name[:-12] for p in DATA.glob("*.signals.txt")))
def test_simulator_dumps_list_their_expected_names(name):
    expected = (DATA / f"{name}.signals.txt").read_text(encoding="utf-8").splitlines()
    assert quarnel.list_signals(str(DATA / f"{name}.vcd")) == expected
    assert error_of(quarnel.list_signals, str(DATA / "verilator_interface.vcd")) == \
        PARSE + "invalid scope type at line 6"

"""list_signals and the header pass seen from Python: full names, scope-name escaping,
filtering, and every error a header can raise."""

import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quarnel

DATA = Path(__file__).resolve().parent / "data"
MISSING = "missing $enddefinitions marker in VCD file"
PARSE = "unexpected parse error: "


def lines(*rows):
    return "".join(row + "\n" for row in rows)


def scoped(*rows):
    """The rows inside the scope top, closed and followed by the marker line."""
    return lines("$scope module top $end", *rows, "$upscope $end", "$enddefinitions $end")


def numbered(n, row):
    """A header whose line n (n >= 2) is `row`, inside the scope top."""
    return scoped(*[f"$comment line {i} $end" for i in range(2, n)], row, "$var wire 1 ! z $end")


def header_error(vcd, text):
    with pytest.raises(RuntimeError) as info:
        quarnel.list_signals(vcd(text))
    assert type(info.value) is RuntimeError
    return str(info.value)


def test_full_names_in_declaration_order(vcd):
    text = lines(
        "$date first $end", "$date second $end", "$comment top-level note $end",
        "$var wire 1 ! rst $end",
        "$ scope module top $end",       # a blank after '$' is allowed
        "$scope module cpu $end",
        "$comment inside $end",
        "$var wire 8 # data [7:0] $end",
        "$var reg 8 $ acc[7:0] $end",    # an index glued to the name is part of it
        "$upscope $end",
        "$var wire 1 % bit [3] $end",
        "$var wire 1 & plus [+3] $end",
        "$var wire 1 ' neg [-1] $end",
        "$var wire 36 ( wide [31:-4] $end",
        "$var wire 1 !!!!!!!!!@ longest_code $end",
        "$upscope $end",
        "$timescale 10 ps $end",
        "$var wire 1 ! tail $end",       # shares the code of rst: listed all the same
        "$enddefinitions $end")
    assert quarnel.list_signals(vcd(text)) == [
        "rst", "top.cpu.data[7:0]", "top.cpu.acc[7:0]", "top.bit[3]", "top.plus[3]",
        "top.neg[-1]", "top.wide[31:-4]", "top.longest_code", "tail"]


def test_header_without_variables(vcd):
    assert quarnel.list_signals(vcd(scoped())) == []


@pytest.mark.parametrize("scope_line, expected", [
    ("$scope module top $end", "top.q"),
    ("$scope module u_cpu(0) $end", "u_cpu(0).q"),
    ("$scope module _a$b.c $end", "_a$b.c.q"),
    ("$scope module gen[0] $end", "\\gen[0].q"),
    ("$scope module my-block $end", "\\my-block.q"),
    ("$scope module 1abc $end", "\\1abc.q"),
    ("$scope module caf\u00e9 $end", "\\caf\u00e9.q"),
    ("$scope module \\esc $end", "\\esc.q"),
    ("$scope module \\gen[1] $end", "\\gen[1].q"),
    # Only a line of at least four tokens that starts with "$scope " is rebuilt.
    ("$scope module gen[0]\n$end", "gen[0].q"),
    ("$scope\tmodule gen[0] $end", "gen[0].q"),
    ("$scope  module gen[0] $end", "\\gen[0].q"),
    ("  \t$scope module gen[0] $end", "\\gen[0].q"),
    # Tokens between the name and $end are dropped.
    ("$scope module top extra $end", "top.q"),
    ("$scope module top\t$end   ", "top.q"),
], ids=["plain", "parens", "dollar-dot", "brackets", "dash", "digit-first", "non-ascii",
        "escaped", "escaped-brackets", "end-next-line", "tab", "two-blanks", "indented",
        "extra-token", "trailing-blanks"])
def test_scope_name_escaping(vcd, scope_line, expected):
    text = lines(scope_line, "$var wire 1 ! q $end", "$upscope $end", "$enddefinitions $end")
    assert quarnel.list_signals(vcd(text)) == [expected]


def test_scope_line_keeps_declarations_after_its_end(vcd):
    text = lines("$scope module gen[0] $end $var wire 1 ! clk $end $var wire 2 # d [1:0] $end",
                 "$scope module u $end $upscope $end",
                 "$upscope $end", "$enddefinitions $end", "#0", "1!", "b10 #")
    path = vcd(text)
    assert quarnel.list_signals(path) == ["\\gen[0].clk", "\\gen[0].d[1:0]"]
    assert quarnel.extract(path, ["\\gen[0].d[1:0]"]) == [
        {"signal": "\\gen[0].d[1:0]", "time": 0, "value": "2"}]


FILTERED = scoped("$var wire 1 ! clk $end", "$var wire 1 # CLK_en $end",
                  "$var wire 8 $ data [7:0] $end")
ALL = ["top.clk", "top.CLK_en", "top.data[7:0]"]


@pytest.mark.parametrize("filter, expected", [
    (None, ALL), ("", ALL), ("clk", ["top.clk"]), ("CLK", ["top.CLK_en"]), ("top.", ALL),
    ("[7:0]", ["top.data[7:0]"]), ("*", []), (".*", []), (" clk", []), ("top.clk ", []),
])
def test_filter_is_an_exact_substring(vcd, filter, expected):
    assert quarnel.list_signals(vcd(FILTERED), filter) == expected


def test_unreadable_paths(tmp_path):
    with pytest.raises(RuntimeError) as info:
        quarnel.list_signals(str(tmp_path / "absent.vcd"))
    assert str(info.value) == "I/O error: No such file or directory (os error 2)"
    with pytest.raises(RuntimeError, match=r"^I/O error: .* \(os error 21\)$"):
        quarnel.list_signals(str(tmp_path))


@pytest.mark.parametrize("text, message", [
    ("", MISSING),
    ("\n\n", MISSING),
    (lines("$scope module top $end", "$var wire 1 ! a $end", "$upscope $end"), MISSING),
    (lines("$scope module top $end", "$upscope $end", "$EndDefinitions $end"), MISSING),
    (lines("$enddefinition $end"), MISSING),
    (scoped("$var wire 1 ! a $end", "$var wire 1 # a $end"),
     "duplicate signal name detected: top.a"),
    (lines("$scope module top $end", "$var wire 1 ! a $end", "$upscope $end",
           "$scope module top $end", "$var wire 1 # a $end", "$upscope $end",
           "$enddefinitions $end"), "duplicate signal name detected: top.a"),
    # An index glued to the reference and one written as a token give one name.
    (lines("$var wire 8 ! d[7:0] $end", "$var wire 8 # d [7:0] $end", "$enddefinitions $end"),
     "duplicate signal name detected: d[7:0]"),
    # The first repetition met in declaration order is reported.
    (lines("$var wire 1 ! b $end", "$var wire 1 # a $end", "$var wire 1 $ a $end",
           "$var wire 1 % b $end", "$enddefinitions $end"), "duplicate signal name detected: a"),
], ids=["empty", "blank-lines", "no-marker", "marker-case", "marker-short", "duplicate",
        "duplicate-scopes", "duplicate-index", "first-duplicate"])
def test_header_pass_errors(vcd, text, message):
    assert header_error(vcd, text) == message


# Reader errors raised from the header, each with the line it is found on.
READER_ERRORS = [
    (lines("$date", "  today", "$end", "$version v $end", "$comment", "", "", "note", "$end",
           "$scope module top $end", "$var wire 1 ! a $end", "$Var wire 1 # b $end",
           "$upscope $end", "$enddefinitions $end"), "unknown command at line 12"),
    (numbered(2, "$abcdefghijklmnop"), "unknown command at line 2"),
    (numbered(2, "$abcdefghijklmnopq"), "token too long at line 2"),
    (numbered(4, "% x"), "unexpected character at start of command at line 4"),
    (numbered(2, "\x0c"), "unexpected character at start of command at line 2"),
    (lines("$comment see $enddefinitions below $end", "$enddefinitions $end"),
     "unexpected character at start of command at line 1"),
    (numbered(3, "$var wire 1 " + "!" * 33 + " a $end"), "token too long at line 3"),
    (lines("$timescale 1000000ns $end", "$enddefinitions $end"), "token too long at line 1"),
    (numbered(2, "$upscope $endxxxxx"), "token too long at line 2"),
    (numbered(2, "$upscope $endxxxx"), "expected `$end` at line 2"),
    (numbered(5, "$var wire 1 # a b $end"), "expected `$end` at line 5"),
    (numbered(2, "$var wire 1 # a\n\nb $end"), "expected `$end` at line 4"),
    (lines("$end", "$enddefinitions $end"), "unmatched `$end` at line 1"),
    (numbered(3, "#0"), "unexpected command in header at line 3"),
    (numbered(2, "$dumpvars"), "unexpected command in header at line 2"),
    (numbered(2, "$date today $end"), "unexpected command in header at line 2"),
    (numbered(2, "$timescale 1ns $end"), "unexpected command in header at line 2"),
    (lines("$upscope $end", "$enddefinitions $end"), "unexpected command in header at line 1"),
    (lines("$scope module top $end", "$enddefinitions $end"),
     "unexpected command in header at line 2"),
    (numbered(2, "$var wire -1 # a $end"), "invalid digit found in string at line 2"),
    (numbered(2, "$var wire 4294967296 # a $end"),
     "number too large to fit in target type at line 2"),
    (lines("$timescale ps $end", "$enddefinitions $end"),
     "cannot parse integer from empty string at line 1"),
    (numbered(2, "r1,5 !"), "invalid float literal at line 2"),
    (lines("$timescale 1 NS $end", "$enddefinitions $end"), "invalid timescale unit at line 1"),
    (lines("", "$timescale", "1.5ns", "$end", "$enddefinitions $end"),
     "invalid timescale unit at line 3"),
    (numbered(2, "$scope generate g $end"), "invalid scope type at line 2"),
    (numbered(3, "$var logic 1 # a $end"), "invalid variable type at line 3"),
    (numbered(2, "$var wire 8 # a [ 7:0] $end"), "invalid reference index at line 2"),
    (numbered(2, "$var wire 8 # a [2147483648] $end"), "invalid reference index at line 2"),
    (numbered(2, "b1021 !"), "invalid VCD logic value at line 2"),
    (numbered(2, "$var wire 1 \u00e9 a $end"), "invalid characters in ID at line 2"),
    (numbered(2, "$var wire 1 !!!!!!!!!A a $end"), "ID too long at line 2"),
    # An error at the end of a line keeps that line's number after its line feed is read.
    (numbered(2, "$var wire x\n! a $end"), "invalid digit found in string at line 2"),
    (numbered(6, "$var wire 1 # a\n[x]"), "invalid reference index at line 7"),
    # End of input: the three texts carry no line.
    (lines("$scope module top $end", "$upscope $end", "$enddefinitions", "$end"),
     "unexpected end of VCD file"),
    (lines("$scope module top $end", "$upscope $end") + "$enddefinitions $end",
     "unexpected end of VCD file"),
    (lines("$var wire 1 ! x$enddefinitions $end"),
     "unexpected end of VCD file before $enddefinitions"),
    (lines("$scope module a $end", "$scope module x$enddefinitions $end"),
     "unexpected EOF with open $scope"),
]


@pytest.mark.parametrize("eol", ["\n", "\r\n"], ids=["lf", "crlf"])
@pytest.mark.parametrize("text, message", READER_ERRORS, ids=[m for _, m in READER_ERRORS])
def test_reader_errors_from_the_header(vcd, text, message, eol):
    assert header_error(vcd, text.replace("\n", eol)) == PARSE + message


def test_invalid_utf8_in_a_code_reads_as_a_replacement_character(vcd):
    text = b"$scope module top $end\n$var wire 1 \xff a $end\n$upscope $end\n" \
           b"$enddefinitions $end\n"
    assert header_error(vcd, text) == PARSE + "invalid characters in ID at line 2"


@pytest.mark.parametrize("eol", ["\r\n", "\r"], ids=["crlf", "cr"])
def test_carriage_returns(vcd, eol):
    text = lines("$scope module top $end", "$var wire 8 # d [7:0] $end",
                 "$scope module gen[0] $end", "$var wire 1 ! clk $end", "$upscope $end",
                 "$upscope $end", "$enddefinitions $end")
    assert quarnel.list_signals(vcd(text.replace("\n", eol))) == ["top.d[7:0]",
                                                                  "top.\\gen[0].clk"]


def test_non_utf8_bytes_become_replacement_characters(vcd):
    text = (b"$scope module t\xe9st $end\n"           # Latin-1 e-acute
            b"$var wire 1 ! d\xffx $end\n"
            b"$var wire 1 # ok\xc3\xa9 $end\n"
            b"$var wire 1 $ cut\xe2\x82 $end\n"        # truncated sequence
            b"$upscope $end\n$enddefinitions $end\n")
    assert quarnel.list_signals(vcd(text)) == [
        "\\t\ufffdst.d\ufffdx", "\\t\ufffdst.ok\u00e9", "\\t\ufffdst.cut\ufffd"]


@pytest.mark.parametrize("size", [8192, 65536])
@pytest.mark.parametrize("shift", [-20, -8, 0, 7])
def test_marker_line_across_buffer_boundaries(vcd, size, shift):
    head = lines("$scope module top $end", "$var wire 1 ! clk $end", "$upscope $end")
    pad = size + shift - len(head) - len("$comment  $end\n")
    text = head + "$comment " + "x" * pad + " $end\n$enddefinitions $end\n#7\n1!\n"
    assert text.index("$enddefinitions") == size + shift
    path = vcd(text)
    assert quarnel.list_signals(path) == ["top.clk"]
    assert quarnel.extract(path, ["top.clk"]) == [{"signal": "top.clk", "time": 7, "value": "1"}]


ONE_LINE = "$scope module top $end $var wire 1 ! clk $end $upscope $end $enddefinitions $end"


def test_whole_file_on_one_line(vcd):
    assert quarnel.list_signals(vcd(ONE_LINE + " \n")) == ["top.clk"]
    assert quarnel.list_signals(vcd(ONE_LINE + "\r")) == ["top.clk"]
    long_comment = ONE_LINE.replace("$var", "$comment " + "y" * 200_000 + " $end $var")
    assert quarnel.list_signals(vcd(long_comment + "\n")) == ["top.clk"]
    assert header_error(vcd, ONE_LINE) == PARSE + "unexpected end of VCD file"


@pytest.mark.parametrize("ending", [" ", "\t"])
def test_whole_file_on_one_line_without_line_feed(vcd, ending):
    assert quarnel.list_signals(vcd(ONE_LINE + ending)) == ["top.clk"]


@pytest.mark.parametrize("body", [
    "$enddefinitions $end #0 1!\n", "$enddefinitions $end garbage %%%\n",
    "$enddefinitions $end\n#0\n1!\n%bad\n", "$enddefinitions $end\n#0\nb102 !\n",
    "$enddefinitions $end\n$end\n", "$enddefinitions $end\n#0\n1!"])
def test_damaged_body_still_lists(vcd, body):
    text = lines("$scope module top $end", "$var wire 1 ! clk $end", "$upscope $end") + body
    assert quarnel.list_signals(vcd(text)) == ["top.clk"]


DEEP = 1_000_000


@pytest.mark.parametrize("closed", [True, False], ids=["closed", "unclosed"])
def test_a_million_nested_scopes(tmp_path, closed):
    path = tmp_path / "deep.vcd"
    with open(path, "w") as out:
        out.write("$scope module a $end\n" * DEEP + "$var wire 1 ! x $end\n")
        out.write("$upscope $end\n" * DEEP if closed else "")
        out.write("$enddefinitions $end\n#3\n1!\n")
    # A fresh interpreter, so that a crash fails this test instead of ending the run.
    script = textwrap.dedent("""
        import sys, quarnel
        try:
            names = quarnel.list_signals(sys.argv[1])
            print(len(names), names[0] == "a." * 1_000_000 + "x")
            print(quarnel.extract(sys.argv[1], names)[0]["time"])
        except RuntimeError as error:
            print(error)
    """)
    result = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout.splitlines() == (["1 True", "3"] if closed else [
        f"{PARSE}unexpected command in header at line {DEEP + 2}"])


FIXTURES = sorted(p.name[:-len(".signals.txt")] for p in DATA.glob("*.signals.txt"))


@pytest.mark.skipif(not FIXTURES, reason="no simulator dumps in tests/data")
@pytest.mark.parametrize("name", FIXTURES)
def test_simulator_dumps_list_their_expected_names(name):
    expected = (DATA / f"{name}.signals.txt").read_text(encoding="utf-8").splitlines()
    assert quarnel.list_signals(str(DATA / f"{name}.vcd")) == expected


def test_simulator_dump_with_an_unknown_scope_type():
    path = DATA / "verilator_interface.vcd"
    if not path.exists():
        pytest.skip("no verilator_interface.vcd")
    with pytest.raises(RuntimeError) as info:
        quarnel.list_signals(str(path))
    assert str(info.value) == PARSE + "invalid scope type at line 6"

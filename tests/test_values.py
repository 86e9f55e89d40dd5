"""metadata, extract, toggles and find: windows, value texts, value equality, body errors."""

import pytest

import quarnel
from conftest import DATA, MAX, error_of

HEAD = "$timescale 1 ns $end $scope module top $end $var wire 1 ! clk $end $var wire 8 # " \
       "data [7:0] $end $var wire 1 ! alias $end $var real 64 $ r $end $var string 1 & s $end " \
       "$var wire 129 ' big [128:0] $end $var wire 4 % n [3:0] $end $var wire 12 ( w [11:0] " \
       "$end $var wire 0 ) zero $end $upscope $end\n$enddefinitions $end\n"
CODES = {"!": "top.clk", "#": "top.data[7:0]", "$": "top.r", "&": "top.s",
         "'": "top.big[128:0]", "%": "top.n[3:0]", "(": "top.w[11:0]", ")": "top.zero"}
CALLS = {"metadata": quarnel.metadata, "extract": lambda p: quarnel.extract(p, ["top.clk"]),
         "toggles": lambda p: quarnel.toggles(p, ["top.data[7:0]"]),
         "find": lambda p: quarnel.find(p, "top.clk", "z")}


def body(*rows, head=HEAD):
    return head + "".join(row + "\n" for row in rows)


def changes(path, name="top.clk", start=None, end=None):
    return [(r["time"], r["value"]) for r in quarnel.extract(path, [name], start, end)]


@pytest.mark.parametrize("timescale, text, rows, start, end", [
    ("$timescale\n\t100ps\n$end", "100 ps", [], 0, 0),
    ("", None, ["$dumpvars", "1!", "$end", "#5"], 0, 5),
    ("$timescale 1 ns $end $timescale 0 fs $end", "0 fs", ["#30", "1!", "#20", "0!"], 30, 20),
    ("$timescale 99999999 s $end", "99999999 s", ["#7", "1~", "#+8", "# 9", f"#{MAX}"], 7, MAX),
    # Header-style commands in the body are passed over.
    ("$timescale 1 ns $end", "1 ns", ["$comment c $end", "#4", "$var wire 1 ( late $end",
     "$scope module m $end", "$upscope $end", "$enddefinitions $end", "#6"], 4, 6)])
def test_metadata(vcd, timescale, text, rows, start, end):
    path = vcd(body(*rows, head=HEAD.replace("$timescale 1 ns $end", timescale, 1)))
    assert list(quarnel.metadata(path).items()) == [
        ("signal_count", 9), ("start_time", start), ("end_time", end), ("timescale", text)]


@pytest.mark.parametrize("row, value", [
    ("X!", "x"), ("1 !", "1"), ("B1010 #", "10"), ("b 0000\t#", "0"), ("b0101zX #", "0101zx"),
    ("b" + "1" * 128 + " '", str(2**128 - 1)), ("b" + "0" * 100 + "1 '", "1"),
    ("b" + "0" * 129 + " '", "0" * 129), ("b1" + "0" * 128 + " '", "1" + "0" * 128),
    ("S\u00c9t\u00e9 &", "\u00c9t\u00e9"), ("r2.0 $", "2"), ("R-0.0 $", "-0"), ("r-nan $", "NaN"),
    ("rInfinity $", "inf"), ("r1e21 $", "1" + "0" * 21), ("r1.5e-7 $", "0.00000015"),
    ("r1e400 $", "inf"), ("r-1e-400 $", "-0"),  # out of range: overflow and underflow
    # Real literals of any length: the exact expansion of 0.1, and a thousand digits.
    ("r0.1000000000000000055511151231257827021181583404541015625 $", "0.1"),
    ("r" + "1" * 1000 + "e-1000 $", "0.1111111111111111"),
], ids=lambda v: v[:20])
def test_value_texts(vcd, row, value):
    signal = CODES[row[-1]]
    assert quarnel.extract(vcd(body("#0", row)), [signal]) == [
        {"signal": signal, "time": 0, "value": value}]


def test_value_texts_past_what_is_shared(vcd):
    # More distinct numbers, strings, bits and reals than the texts kept for reuse, twice.
    rows = [(f"b{i:b} '", str(i)) for i in range(600)] + [(f"s{i} &", str(i)) for i in range(600)]
    rows += [(f"b{i:b}x '", f"{i:b}x") for i in range(600)] + [(f"r{i}.5 $", f"{i}.5")
                                                               for i in range(600)]
    path = vcd(body("#0", *[row for row, _ in rows * 2]))
    got = quarnel.extract(path, ["top.big[128:0]", "top.s", "top.r"])
    assert [r["value"] for r in got] == [value for _, value in rows * 2]


# Lines count from the line after the marker line; text after "$enddefinitions $end" on the
# marker line is the start of the value section.
@pytest.mark.parametrize("text, message", [
    (body("#0", "1!", "", "#5", "b12 #").replace("\n", "\r\n"),
     "invalid VCD logic value at line 5"),
    (body("s\udcff &").encode("utf-8", "surrogateescape"), "invalid UTF-8 at line 1"),
    (body("#0", "1!")[:-1], "unexpected end of VCD file"),
    (HEAD.replace("$end\n$enddefinitions $end\n", "$end $enddefinitions $end #0 1! #5 0!"),
     "unexpected end of VCD file"),
    (HEAD.replace("$enddefinitions $end\n", "$enddefinitions $end #0\n1!\n%\n"),
     "unexpected character at start of command at line 3")])
@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_value_section_errors(vcd, text, message, call):
    assert error_of(call, vcd(text)) == "I/O error: " + message


WINDOW = body("1!", "#5", "0!", "#10", "1!", "#10", "0!", "#20", "1!", "#30", "0!", "#31", "%")
ALL = [(0, "1"), (5, "0"), (10, "1"), (10, "0"), (20, "1"), (30, "0")]


@pytest.mark.parametrize("start, end, expected", [
    (None, 30, ALL), (1, 30, ALL[1:]), (None, 4, ALL[:1]), (0, 0, ALL[:1]), (10, 10, ALL[2:4]),
    (5, 20, ALL[1:5]), (6, 9, []), (20, 10, []), (31, 31, None), (MAX, MAX, None)])
def test_window_stops_at_the_first_timestamp_past_end(vcd, start, end, expected):
    path = vcd(WINDOW)  # damaged after 31: a window ending earlier never reaches it
    if expected is None:
        error_of(changes, path, "top.clk", start, end)
        return
    assert changes(path, "top.clk", start, end) == expected
    count = sum(1 for a, b in zip(expected, expected[1:]) if a[1] != b[1])
    assert quarnel.toggles(path, ["top.clk"], start, end) == {"top.clk": count}
    assert error_of(quarnel.toggles, path, ["top.clk"], start)  # all or nothing


def test_requests_sections_and_undeclared_codes(vcd):
    path = vcd(body("$dumpvars", "1!", "1~", "1*", "b11 #", "$end", "#4", "$dumpall", "1!", "$end",
                    "$dumpoff", "x!", "$end", "#6", "0!"))
    records = quarnel.extract(path, ["top.alias", "top.data[7:0]", "top.alias", "top.clk"])
    # File order of the changes; the names sharing a change in the order asked.
    assert [(r["signal"], r["time"], r["value"]) for r in records] == [
        (n, t, v) for t, v in [(0, "1"), (0, "3"), (4, "1"), (4, "x"), (6, "0")]
        for n in (["top.data[7:0]"] if v == "3" else ["top.alias", "top.alias", "top.clk"])]
    assert list(quarnel.toggles(path, ["top.s", "top.clk", "top.alias", "top.clk"]).items()) == \
        [("top.s", 0), ("top.clk", 2), ("top.alias", 2)]
    assert quarnel.toggles(path, ["top.clk"], 5) == {"top.clk": 0}  # baseline inside the window


@pytest.mark.parametrize("call, message", [
    (lambda p: quarnel.extract(p, ["top.nope", "top.clk", "x", "x"]),
     "signals not found in VCD: top.nope, x, x"),
    (lambda p: quarnel.toggles(p, ["TOP.CLK", "top.data", ""]),
     "signals not found in VCD: TOP.CLK, top.data, "),
    (lambda p: quarnel.find(p, "top.nope", "1"), "signal not found in VCD: top.nope"),
    (lambda p: quarnel.find(p + "absent", "top.clk", "1", 0), "occurrence must be >= 1"),
])
def test_requests_are_checked_before_the_body_is_read(vcd, call, message):
    assert error_of(call, vcd(body("#0", "%"))) == message


@pytest.mark.parametrize("rows, count", [
    (["0!", "1!", "0!", "x!", "x!"], 3), (["1!", "b1 !", "b01 !", "s1 !"], 0),
    (["b1 %", "s0x1 %", "s01 %"], 1), (["b1010 #", "b00001010 #", "s0x0a #", "s0x0A #"], 1),
    (["b1010 #", "s0xa #"], 1), (["b1010 #", "s10 #"], 1), (["b1010 #", "r10 #"], 1),
    (["b1x #", "b1X #", "b01x #"], 0),
    (["sDone #", "sdone #"], 1), (["b1010 (", "s0x00a ("], 0), (["b11 )", "s3 )"], 0),
    # Wide bits by value after left extension (short ones: test_value_rules.cpp).
    (["b1 '", "b" + "0" * 128 + "1 '"], 0), (["b1 '", "s0x" + "0" * 32 + "1 '"], 0),
    (["b1 '", "s0x" + "0" * 31 + "1 '"], 1),
    (["b" + "1" * 129 + " '", "s" + "1" * 129 + " '"], 0), (["r1 $", "r1.0 $", "r-0 $"], 1),
    (["rnan $", "rNaN $"], 0), (["$dumpvars", "b1010 #", "$end", "$dumpall", "b1010 #", "$end"], 0),
], ids=lambda v: None if isinstance(v, int) else " ".join(v)[:40])
def test_toggle_equality(vcd, rows, count):
    name = CODES[next(row[-1] for row in rows if not row.startswith("$"))]
    path = vcd(HEAD + "".join(f"#{t}\n{row}\n" for t, row in enumerate(rows)))
    assert quarnel.toggles(path, [name, name]) == {name: count}


# (change, target, the reported value or None when the target does not match)
TARGETS = [
    ("b11111111 #", "  0XFF\t", "255"), ("b11111111 #", "+000255", "255"), ("b11 #", "0x+3", "3"),
    ("b11 #", "0x-3", None), ("b1 #", "0x" + "0" * 40 + "1", "1"), ("1!", "1.0", None),
    ("b" + "1" * 128 + " '", "0x" + "F" * 32, str(2**128 - 1)),
    # 2^128 is text: it never equals a number, but equals a 129-bit vector in decimal.
    ("b1" + "0" * 128 + " '", "0x1" + "0" * 32, None),
    ("b1" + "0" * 128 + " '", str(2**128), "1" + "0" * 128),
    # Bits with x or z by value (left extension: test_value_rules.cpp); strings as written.
    ("b10X1 %", "10x1", "10x1"), ("b0x1 %", "0x1", None),
    ("s00x1 &", "00x1", "00x1"), ("s0x1 &", "00x1", None),
    ("r2 $", "0x2", "2"), ("r2 $", "2.0", None), ("r0 $", "-0", None), ("rNaN $", "nan", "NaN"),
    ("s255 &", "0xff", "255"), ("s0xff &", "255", None), ("s1.5E3 &", "1.5e3", "1.5E3"),
    ("s\u039f\u03a3 &", "\u03bf\u03c2", "\u039f\u03a3"), ("s\u0130 &", "i", None),
]


@pytest.mark.parametrize("row, target, value", TARGETS, ids=[t[:12] for _, t, _ in TARGETS])
def test_find_targets(vcd, row, target, value):
    signal = CODES[row[-1]]
    assert quarnel.find(vcd(body("#7", row)), signal, target) == {
        "found": value is not None, "signal": signal, "time": value and 7, "value": value}


# "1" is reached at 5, 15, 20 (repeated by $dumpall) and 30; the body is damaged after 31.
OCCURRENCES = body("#0", "0!", "#5", "1!", "#10", "0!", "#15", "1!", "#20", "$dumpall", "1!",
                   "$end", "#25", "0!", "#30", "1!", "#31", "%")


@pytest.mark.parametrize("occurrence, start, end, time", [
    (1, None, None, 5), (3, None, None, 20), (4, None, None, 30), (5, None, 30, None),
    (1, 16, None, 20), (1, 5, 5, 5), (1, 6, 15, 15), (2, 6, 15, None), (1, 20, 10, None),
    (MAX, None, 30, None), (5, None, None, "error")])
def test_find_occurrences_and_window(vcd, occurrence, start, end, time):
    path = vcd(OCCURRENCES)
    if time == "error":
        error_of(quarnel.find, path, "top.alias", "0x1", occurrence, start, end)
    else:
        assert quarnel.find(path, "top.alias", "0x1", occurrence, start, end) == {
            "found": time is not None, "signal": "top.alias", "time": time,
            "value": time and "1"}


def test_simulator_dumps():
    icarus, ghdl = (str(DATA / f"{n}.vcd") for n in ("icarus_hier", "ghdl_hier"))
    assert list(quarnel.metadata(icarus).values()) == [26, 0, 760, "100 ps"]
    # An instance port shares the clock's code; the $dumpall at 620 repeats the 0 of 600.
    assert changes(icarus) == changes(icarus, "top.\\u[1].clk")
    assert changes(icarus, "top.clk", 600, 620) == [(600, "0"), (620, "0")]
    assert quarnel.toggles(icarus, ["top.clk"], 600, 620) == {"top.clk": 0}
    assert [v for _, v in changes(icarus, "top.r")] == ["1.5", "-0.00225", "NaN"] + ["-0.00225"] * 2
    assert quarnel.find(ghdl, "top.clk", "1", 3) == dict(found=True, signal="top.clk",
                                                         time=25000000, value="1")

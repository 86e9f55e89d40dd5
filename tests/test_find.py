"""find: target texts against every kind of change, the reported value text, occurrences,
the window, early stop and argument conversion."""

from pathlib import Path

import pytest

import quarnel

DATA = Path(__file__).resolve().parent / "data"
U128 = 2**128 - 1

HEAD = """\
$scope module top $end
$var wire 1 ! clk $end
$var wire 8 " v [7:0] $end
$var wire 4 # n [3:0] $end
$var real 64 $ r $end
$var string 1 % s $end
$var wire 128 & w [127:0] $end
$var wire 129 ' big [128:0] $end
$var wire 1 ! alias $end
$upscope $end
$enddefinitions $end
"""
CODES = {"!": "top.clk", '"': "top.v[7:0]", "#": "top.n[3:0]", "$": "top.r", "%": "top.s",
         "&": "top.w[127:0]", "'": "top.big[128:0]"}


def dump(vcd, *rows):
    return vcd(HEAD + "".join(row + "\n" for row in rows))


def found(time, value, signal="top.clk"):
    return {"found": True, "signal": signal, "time": time, "value": value}


def not_found(signal="top.clk"):
    return {"found": False, "signal": signal, "time": None, "value": None}


# (change row, target text, reported value text or None when the target does not match)
TARGETS = [
    ('b11111111 "', "0xff", "255"), ('b11111111 "', "  0XFF\t", "255"),
    ('b11111111 "', "255", "255"), ('b11111111 "', "+255", "255"),
    ('b11111111 "', "0x+ff", "255"), ('b11111111 "', "0x00ff", "255"),
    ('b11111111 "', "000255", "255"), ('b00000011 "', "3", "3"),
    ('b11111111 "', "11111111", None), ('b11111111 "', "0b11111111", None),
    ('b11111111 "', "b11111111", None), ('b11111111 "', "0x-ff", None),
    ('b11111111 "', "+0xff", None), ('b11111111 "', "++255", None),
    ('b11111111 "', "-255", None), ('b11111111 "', "2 55", None),
    ('b0 "', "0", "0"), ('b0 "', "0x0", "0"), ('b0 "', "0x", None), ('b0 "', "-0", None),
    ('b0 "', "", None), ('b0 "', "   ", None),
    ("b" + "1" * 128 + " &", "0x" + "F" * 32, str(U128)),
    ("b" + "1" * 128 + " &", str(U128), str(U128)),
    ("b1 &", "0x" + "0" * 40 + "1", "1"), ("b1 &", "0" * 50 + "1", "1"),
    # 2^128 is text: it never equals a number, but equals a 129-bit vector in decimal.
    ("b1" + "0" * 128 + " '", "0x1" + "0" * 32, None),
    ("b1" + "0" * 128 + " '", str(U128 + 1), "1" + "0" * 128),
    ("b1" + "0" * 128 + " '", "1" + "0" * 128, None),
    ("s" + str(U128 + 1) + " %", str(U128 + 1), str(U128 + 1)),
    ("1!", "1", "1"), ("1!", "0x1", "1"), ("1!", "+1", "1"), ("1!", "01", "1"),
    ("1!", "1.0", None), ("0!", "x", None),
    ("X!", "x", "x"), ("x!", "X", "x"), ("z!", " Z ", "z"),
    ("bx #", "x", "x"), ("bZ #", "z", "z"), ("b10X1 #", "10x1", "10x1"),
    ("b0x1 #", "0x1", None), ("b00x1 #", "0x1", None), ("b0x1 #", "0X1", None),
    # Bits with x or z by value after left extension; strings as written.
    ("b0x1 #", "00x1", "0x1"), ("bxxxx #", "x", "xxxx"), ("b001z #", "1z", "001z"),
    ("b1x #", "x1x", None), ("s00x1 %", "00x1", "00x1"), ("s0x1 %", "00x1", None),
    ("r2.5 $", "2.5", "2.5"), ("r2 $", "2", "2"), ("r2 $", "0x2", "2"), ("r2 $", "2.0", None),
    ("r-0 $", "-0", "-0"), ("r0 $", "-0", None), ("r-inf $", " -INF", "-inf"),
    ("r1e21 $", "1" + "0" * 21, "1" + "0" * 21),
    # A NaN displays as "NaN"; a target is lowercase, and "nan" finds it.
    ("rnan $", "NaN", "NaN"), ("rNaN $", "nan", "NaN"), ("sNaN %", "nan", "NaN"),
    ("sDone %", "done", "Done"), ("sDone %", " DONE ", "Done"), ("s255 %", "0xff", "255"),
    ("s0xff %", "255", None), ("s007 %", "7", None), ("s-1 %", "-1", "-1"),
    ("s1.5E3 %", "1.5e3", "1.5E3"),
]


@pytest.mark.parametrize("row, target, value", TARGETS,
                         ids=[f"{r[:12]}~{t[:12]}" for r, t, _ in TARGETS])
def test_target_texts(vcd, row, target, value):
    signal = CODES[row[-1]]
    result = quarnel.find(dump(vcd, "#7", row), signal, target)
    assert result == (not_found(signal) if value is None else found(7, value, signal))


@pytest.mark.parametrize("text, target, matches", [
    ("\u0130", "\u0130", True), ("\u0130", "i\u0307", True), ("\u0130", "i", False),
    ("\u039f\u0394\u039f\u03a3", "\u039f\u0394\u039f\u03a3", True),
    ("\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c2", True),
    ("\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c3", False),
    ("\u00c9T\u00c9", "\u00e9t\u00e9", True),
], ids=["dotted-I", "dotted-I-lowered", "dotted-I-vs-i", "sigma-capitals", "final-sigma",
        "medial-sigma", "e-acute"])
def test_unicode_case(vcd, text, target, matches):
    path = dump(vcd, "#3", f"s{text} %")
    expected = found(3, text, "top.s") if matches else not_found("top.s")
    assert quarnel.find(path, "top.s", target) == expected


# "1" is reached at 5, 15, 20 (repeated by $dumpall) and 30.
OCCURRENCES = ["#0", "0!", "#5", "1!", "#10", "0!", "#15", "1!", "#20", "$dumpall", "1!",
               "$end", "#25", "0!", "#30", "1!"]


@pytest.mark.parametrize("occurrence, start, end, time", [
    (1, None, None, 5), (2, None, None, 15), (3, None, None, 20), (4, None, None, 30),
    (5, None, None, None), (2**64 - 1, None, None, None),
    (1, 16, None, 20), (1, 5, 5, 5), (1, 6, 15, 15), (2, 6, 15, None), (1, 31, None, None),
    (1, 20, 10, None),
])
def test_occurrences_and_window(vcd, occurrence, start, end, time):
    path = dump(vcd, *OCCURRENCES)
    result = quarnel.find(path, "top.clk", "1", occurrence, start, end)
    assert result == (not_found() if time is None else found(time, "1"))
    assert quarnel.find(path=path, signal="top.clk", value="1", occurrence=occurrence,
                        start=start, end=end) == result


def test_key_order_and_types(vcd):
    path = dump(vcd, *OCCURRENCES)
    hit = quarnel.find(path, "top.alias", "0x1")
    assert hit == found(5, "1", "top.alias")
    assert type(hit["found"]) is bool and type(hit["time"]) is int
    for result in (hit, quarnel.find(path, "top.clk", "z")):
        assert list(result) == ["found", "signal", "time", "value"]


@pytest.mark.parametrize("occurrence, end, outcome", [
    (1, None, 0), (2, None, 10), (3, None, "error"), (3, 10, None),
], ids=["first", "second", "error-before-nth", "stopped-by-end"])
def test_reading_stops_at_the_nth_match(vcd, occurrence, end, outcome):
    path = dump(vcd, "#0", "1!", "#5", "0!", "#10", "1!", "#11", "%bad")
    if outcome == "error":
        with pytest.raises(RuntimeError) as info:
            quarnel.find(path, "top.clk", "1", occurrence, None, end)
        assert str(info.value) == "I/O error: unexpected character at start of command at line 8"
    else:
        expected = not_found() if outcome is None else found(outcome, "1")
        assert quarnel.find(path, "top.clk", "1", occurrence, None, end) == expected


@pytest.mark.parametrize("path, signal, occurrence, message", [
    ("absent.vcd", "top.clk", 0, "occurrence must be >= 1"),
    ("damaged", "top.clk", 0, "occurrence must be >= 1"),
    ("damaged", "top.nope", 1, "signal not found in VCD: top.nope"),
    ("damaged", "TOP.CLK", 1, "signal not found in VCD: TOP.CLK"),
    ("damaged", "top.clk", 1, "I/O error: unexpected character at start of command at line 2"),
    ("absent.vcd", "top.clk", 1, "I/O error: No such file or directory (os error 2)"),
])
def test_core_errors(vcd, tmp_path, path, signal, occurrence, message):
    path = dump(vcd, "#0", "%") if path == "damaged" else str(tmp_path / path)
    with pytest.raises(RuntimeError) as info:
        quarnel.find(path, signal, "1", occurrence)
    assert type(info.value) is RuntimeError
    assert str(info.value) == message


@pytest.mark.parametrize("args, kwargs, error, message", [
    ((), {}, TypeError,
     "find() missing 3 required positional arguments: 'path', 'signal', and 'value'"),
    (("p",), {}, TypeError,
     "find() missing 2 required positional arguments: 'signal' and 'value'"),
    (("p", "s", "1", 1, 2, 3, 4), {}, TypeError,
     "find() takes from 3 to 6 positional arguments but 7 were given"),
    (("p", "s"), {"value": "1", "signal": "s"}, TypeError,
     "find() got multiple values for argument 'signal'"),
    (("p", "s", 1), {"occurrence": -1}, TypeError,
     "argument 'value': 'int' object cannot be converted to 'PyString'"),
    (("p", "s", "1"), {"occurrence": None, "start": -1}, TypeError,
     "argument 'occurrence': 'NoneType' object cannot be interpreted as an integer"),
    (("p", "s", "1"), {"occurrence": "2"}, TypeError,
     "argument 'occurrence': 'str' object cannot be interpreted as an integer"),
    (("p", "s", "1"), {"occurrence": -1, "start": "0"}, OverflowError, None),
    (("p", "s", "1"), {"occurrence": 2**64}, OverflowError, None),
    (("p", "s", "1"), {"start": -1}, OverflowError, None),
    (("p", "s", "1"), {"end": 2**64}, OverflowError, None),
])
def test_argument_errors(args, kwargs, error, message):
    # The path does not exist: every failure here comes before the core.
    with pytest.raises(error) as info:
        quarnel.find(*args, **kwargs)
    assert type(info.value) is error
    if message is None:
        assert not str(info.value).startswith("argument")
    else:
        assert str(info.value) == message


def data(name):
    path = DATA / name
    if not path.exists():
        pytest.skip(f"no {name}")
    return str(path)


@pytest.mark.parametrize("signal, target, occurrence, time, value", [
    ("top.clk", "1", 1, 5000000, "1"), ("top.clk", "1", 3, 25000000, "1"),
    ("top.gen(1).g", "X", 1, 15000000, "x"), ("top.data[3:0]", "10X1", 1, 7000000, "10x1"),
    ("top.zbus[1:0]", "ZZ", 1, 0, "zz"), ("top.zbus[1:0]", "z", 1, 0, "zz"),
    ("top.u8[7:0]", "0xFF", 1, 17000000, "255"), ("top.r", "-0.00225", 1, 17000000, "-0.00225"),
])
def test_simulator_dump(signal, target, occurrence, time, value):
    result = quarnel.find(data("ghdl_hier.vcd"), signal, target, occurrence)
    assert result == {"found": time is not None, "signal": signal, "time": time, "value": value}

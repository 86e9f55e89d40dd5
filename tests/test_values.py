"""metadata, extract and toggles: the value-change section, the time window, value texts,
toggle comparison and argument conversion."""

from pathlib import Path

import pytest

import quarnel

DATA = Path(__file__).resolve().parent / "data"
MAX = 2**64 - 1

HEAD = """\
$timescale 1 ns $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 8 # data [7:0] $end
$var wire 1 ! alias $end
$var real 64 $ r $end
$var string 1 & s $end
$var wire 129 ' big [128:0] $end
$upscope $end
$enddefinitions $end
"""
CODES = {"!": "top.clk", "#": "top.data[7:0]", "$": "top.r", "&": "top.s",
         "'": "top.big[128:0]"}


def body(*rows):
    """HEAD followed by the rows, each ending in a line feed (bytes rows stay bytes)."""
    raw = [row if isinstance(row, bytes) else row.encode() for row in rows]
    return HEAD.encode() + b"".join(row + b"\n" for row in raw)


def values_of(records):
    return [(r["time"], r["value"]) for r in records]


def runtime_error(call, path):
    with pytest.raises(RuntimeError) as info:
        call(path)
    assert type(info.value) is RuntimeError
    return str(info.value)


@pytest.mark.parametrize("timescale, expected", [
    ("$timescale 1 ns $end", "1 ns"), ("$timescale 100ps $end", "100 ps"),
    ("$timescale\n\t10\n\tus\n$end", "10 us"), ("$timescale 0fs $end", "0 fs"),
    ("$timescale 99999999 s $end", "99999999 s"),
    ("$timescale 1 ns $end $timescale 10 ms $end", "10 ms"), ("", None),
])
def test_metadata_timescale(vcd, timescale, expected):
    path = vcd(timescale + "\n$var wire 1 ! a $end\n$var wire 1 ! b $end\n"
               "$enddefinitions $end\n#3\n")
    result = quarnel.metadata(path)
    assert list(result) == ["signal_count", "start_time", "end_time", "timescale"]
    assert result == {"signal_count": 2, "start_time": 3, "end_time": 3, "timescale": expected}


@pytest.mark.parametrize("rows, start, end", [
    ([], 0, 0),
    (["#10", "1!", "#20", "0!"], 10, 20),
    (["$dumpvars", "1!", "b1 #", "$end", "#5"], 0, 5),
    (["#30", "1!", "#20", "0!"], 30, 20),
    (["#7", "#8", "#9"], 7, 9),
    (["1!"], 0, 0),
    (["#4", "1~", "#6"], 4, 6),
    (["#+5", "# 6"], 5, 6),
    (["#18446744073709551615"], MAX, MAX),
    # Header-style commands in the body are passed over.
    (["$comment c $end", "#4", "$var wire 1 ( late $end", "$scope module m $end",
      "$upscope $end", "$date d $end", "$enddefinitions $end", "#6"], 4, 6),
])
def test_metadata_times(vcd, rows, start, end):
    assert quarnel.metadata(vcd(body(*rows))) == {
        "signal_count": 6, "start_time": start, "end_time": end, "timescale": "1 ns"}


@pytest.mark.parametrize("row, value", [
    ("1!", "1"), ("0!", "0"), ("X!", "x"), ("z!", "z"), ("Z!", "z"), ("1 !", "1"),
    ("b1010 #", "10"), ("B1010 #", "10"), ("b 1010\t#", "10"), ("b0000 #", "0"),
    ("b00000001 #", "1"), ("b10x0 #", "10x0"), ("b0101zX #", "0101zx"), ("bZ #", "z"),
    ("b" + "1" * 128 + " '", "340282366920938463463374607431768211455"),
    ("b" + "0" * 100 + "1 '", "1"),
    ("b" + "0" * 129 + " '", "0" * 129),
    ("b1" + "0" * 128 + " '", "1" + "0" * 128),
    ("b00" + "1" * 128 + " '", "00" + "1" * 128),
    ("sDone &", "Done"), ("S\u00c9t\u00e9 &", "\u00c9t\u00e9"), ("s\\x41 &", "\\x41"),
], ids=lambda v: v if len(v) < 24 else v[:12] + "...")
def test_value_texts(vcd, row, value):
    signal = CODES[row[-1]]
    assert quarnel.extract(vcd(body("#0", row)), [signal]) == [
        {"signal": signal, "time": 0, "value": value}]


@pytest.mark.parametrize("real, text", [
    ("2.5", "2.5"), ("2", "2"), ("2.0", "2"), ("+3", "3"), ("-0", "-0"), ("-0.0", "-0"),
    ("0", "0"), ("nan", "NaN"), ("NaN", "NaN"), ("-nan", "NaN"), ("inf", "inf"),
    ("Infinity", "inf"), ("-inf", "-inf"), ("1e21", "1" + "0" * 21), ("1.5e-7", "0.00000015"),
    ("0.1", "0.1"), (".5", "0.5"), ("5.", "5"), ("1.5e3", "1500"), ("1E2", "100"),
    ("-0.25", "-0.25"), ("0.30000000000000004", "0.30000000000000004"),
    ("9007199254740993", "9007199254740992"), ("1e22", "1" + "0" * 22),
    ("5e-324", "0." + "0" * 323 + "5"),
    ("-1.2345678901234567e-20", "-0." + "0" * 19 + "12345678901234567"),
    ("1e23", "1" + "0" * 23), ("18446744073709551616", "18446744073709552000"),
    ("1.7976931348623157e308", "17976931348623157" + "0" * 292),
    # Literals of any length: the exact expansion of 0.1, and a thousand digits.
    ("0.1000000000000000055511151231257827021181583404541015625", "0.1"),
    ("1" * 1000 + "e-1000", "0.1111111111111111"),
], ids=lambda v: v if len(v) < 24 else v[:16] + "...")
def test_real_display_texts(vcd, real, text):
    path = vcd(body("#0", f"r{real} $", f"R{real} $"))
    assert values_of(quarnel.extract(path, ["top.r"])) == [(0, text), (0, text)]


# Malformed value-section text and the reader's message; lines count from the first line
# after the marker line.
BODY_ERRORS = [
    (["#0", "1!", "%"], "unexpected character at start of command at line 3"),
    (["#0", "u!"], "unexpected character at start of command at line 2"),
    (["#-1"], "invalid digit found in string at line 1"),
    (["#1x"], "invalid digit found in string at line 1"),
    (["#", "1!"], "invalid digit found in string at line 2"),
    (["#18446744073709551616"], "number too large to fit in target type at line 1"),
    (["#" + "1" * 33], "token too long at line 1"),
    (["#0", "", "", "b10 #", "b1021 #"], "invalid VCD logic value at line 5"),
    (["r1,5 $"], "invalid float literal at line 1"),
    (["r. $"], "invalid float literal at line 1"),
    (["r0x10 $"], "invalid float literal at line 1"),
    (["$end"], "unmatched `$end` at line 1"),
    (["$dumpvars", "$dumpvars", "1!", "$end", "$end"], "unmatched `$end` at line 5"),
    (["#1", "$Dumpvars"], "unknown command at line 2"),
    (["$dumpvarsdumpvarsx"], "token too long at line 1"),
    (["1" + "!" * 33], "token too long at line 1"),
    (["1\u00e9"], "invalid characters in ID at line 1"),
    (["1" + "~" * 11], "ID too long at line 1"),
    ([b"s\xff &"], "invalid UTF-8 at line 1"),
    ([b"1\xff"], "invalid UTF-8 at line 1"),
    (["$var wire 1 ( a [ $end"], "invalid reference index at line 1"),
    (["#1", "0"], "unexpected end of VCD file"),
    (["$comment never closed"], "unexpected end of VCD file"),
]

CALLS = {
    "metadata": quarnel.metadata,
    "extract": lambda p: quarnel.extract(p, ["top.clk"]),
    "extract-none": lambda p: quarnel.extract(p, []),
    "toggles": lambda p: quarnel.toggles(p, ["top.data[7:0]"]),
}


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
@pytest.mark.parametrize("rows, message", BODY_ERRORS, ids=[m for _, m in BODY_ERRORS])
def test_body_errors(vcd, call, rows, message):
    assert runtime_error(call, vcd(body(*rows))) == "I/O error: " + message


@pytest.mark.parametrize("call", CALLS.values(), ids=CALLS.keys())
def test_body_line_ends(vcd, call):
    crlf = body("#0", "1!", "", "#5", "b12 #").replace(b"\n", b"\r\n")
    assert runtime_error(call, vcd(crlf)) == "I/O error: invalid VCD logic value at line 5"
    complete = body("#0", "1!")
    call(vcd(complete))
    assert runtime_error(call, vcd(complete[:-1])) == "I/O error: unexpected end of VCD file"


def test_simulation_sections_and_undeclared_codes_pass_through(vcd):
    path = vcd(body("$dumpvars", "$dumpvars", "1!", "1~", "$end", "#4", "$dumpall", "1!",
                    "$end", "$dumpoff", "x!", "$end", "$var wire 1 ! v $end", "#6", "0!"))
    assert values_of(quarnel.extract(path, ["top.clk"])) == [
        (0, "1"), (4, "1"), (4, "x"), (6, "0")]


# Text after "$enddefinitions $end" on the marker line is the start of the body.
MARKER = "$enddefinitions $end\n"


@pytest.mark.parametrize("marker, rest", [
    ("$enddefinitions $end #0 1!\n", "#5\n0!\n"),
    ("$enddefinitions $end\t#0\t1!\n", "#5\n0!\n"),
    ("$enddefinitions $end #0\n", "1!\n#5\n0!\n"),
    ("$enddefinitions $end #0 1! #5 0!\r\n", ""),
    ("$enddefinitions $end\r#0\r1!\r#5\r0!\r", ""),
], ids=["blank", "tab", "timestamp-only", "all-on-marker-line", "bare-cr"])
def test_values_on_the_marker_line_are_read(vcd, marker, rest):
    path = vcd(HEAD.replace(MARKER, marker) + rest)
    assert quarnel.list_signals(path, "clk") == ["top.clk"]
    assert quarnel.metadata(path)["start_time"] == 0
    assert quarnel.metadata(path)["end_time"] == 5
    assert values_of(quarnel.extract(path, ["top.clk"])) == [(0, "1"), (5, "0")]
    assert quarnel.toggles(path, ["top.clk"]) == {"top.clk": 1}


def test_values_on_the_marker_line_without_line_feed(vcd):
    text = HEAD.replace(MARKER, "$enddefinitions $end #0 1! #5 0!")
    assert runtime_error(CALLS["extract"], vcd(text)) == "I/O error: unexpected end of VCD file"
    assert values_of(quarnel.extract(vcd(text + " "), ["top.clk"])) == [(0, "1"), (5, "0")]


@pytest.mark.parametrize("marker, line", [
    ("$enddefinitions $end\n", 3), ("$enddefinitions $end   \t\n", 3),
    ("$enddefinitions $end\r\n", 3), ("$enddefinitions $end #0\n", 4),
    ("$enddefinitions $end #0 %\n", 1),
])
def test_body_line_numbers_with_text_after_the_marker(vcd, marker, line):
    path = vcd(HEAD.replace(MARKER, marker) + "1!\n#1\n%\n")
    assert runtime_error(CALLS["metadata"], path) == \
        f"I/O error: unexpected character at start of command at line {line}"


@pytest.mark.parametrize("text, message", [
    (HEAD.encode().replace(MARKER.encode(), b"$enddefinitions $end #0 s\xff &\n") + b"#5\n",
     "I/O error: invalid UTF-8 at line 1"),
    ("$scope module top $end $var wire 1 ! clk $end $upscope $end $enddefinitions $end "
     "#0 1!  \n#5\n%\n", "I/O error: unexpected character at start of command at line 3"),
], ids=["invalid-utf8", "rebuilt-scope-line"])
def test_marker_line_text_is_never_dropped(vcd, text, message):
    assert runtime_error(CALLS["metadata"], vcd(text)) == message


WINDOW = body("1!", "#5", "0!", "#10", "1!", "#10", "0!", "#20", "1!", "#30", "0!")
ALL_CHANGES = [(0, "1"), (5, "0"), (10, "1"), (10, "0"), (20, "1"), (30, "0")]


@pytest.mark.parametrize("start, end, expected", [
    (None, None, ALL_CHANGES), (0, None, ALL_CHANGES), (None, MAX, ALL_CHANGES),
    (1, None, ALL_CHANGES[1:]), (None, 4, [(0, "1")]), (0, 0, [(0, "1")]),
    (10, 10, [(10, "1"), (10, "0")]), (5, 20, ALL_CHANGES[1:5]), (6, 9, []), (20, 10, []),
    (31, None, []), (MAX, MAX, []),
])
def test_window(vcd, start, end, expected):
    path = vcd(WINDOW)
    assert values_of(quarnel.extract(path, ["top.clk"], start, end)) == expected
    assert values_of(quarnel.extract(path, ["top.clk"], start=start, end=end)) == expected
    count = sum(1 for a, b in zip(expected, expected[1:]) if a[1] != b[1])
    assert quarnel.toggles(path, ["top.clk"], start, end) == {"top.clk": count}


@pytest.mark.parametrize("rows, start, end", [
    (["#0", "1!", "#10", "0!", "#11", "%bad"], None, 10),
    (["#0", "1!", "#10", "0!", "#11", "#0", "%bad"], None, 10),
    (["#0", "1!", "#5", "0!", "#6", "%bad"], 5, 4),
    (["#0", "1!", "#20", "1!"], None, 10),
    (["#0", "1!", "#20", "0"], 0, 10),
])
def test_stream_stops_at_the_first_timestamp_past_end(vcd, rows, start, end):
    path = vcd(body(*rows)[:-1])     # without the final line feed as well
    quarnel.extract(path, ["top.clk"], start, end)
    quarnel.toggles(path, ["top.clk"], start, end)
    with pytest.raises(RuntimeError, match="^I/O error: "):
        quarnel.extract(path, ["top.clk"], start, None)
    with pytest.raises(RuntimeError, match="^I/O error: "):
        quarnel.metadata(path)


def test_window_follows_file_order_of_timestamps(vcd):
    path = vcd(body("#30", "1!", "#20", "0!", "#40", "1!"))
    assert quarnel.extract(path, ["top.clk"], None, 25) == []
    assert values_of(quarnel.extract(path, ["top.clk"], 25, None)) == [(30, "1"), (40, "1")]


@pytest.mark.parametrize("function", [quarnel.extract, quarnel.toggles])
def test_all_or_nothing(vcd, function):
    path = vcd(body("#0", "1!", "#1", "0!", "#2", "b10 #", "#3", "q!", "#20"))
    assert runtime_error(lambda p: function(p, ["top.clk"], None, 10), path) == \
        "I/O error: unexpected character at start of command at line 8"


ALIAS_BODY = body("#0", "1!", "b11 #", "#1", "0!")


@pytest.mark.parametrize("names, expected", [
    (["top.alias", "top.clk"],
     [("top.alias", 0, "1"), ("top.clk", 0, "1"), ("top.alias", 1, "0"), ("top.clk", 1, "0")]),
    (["top.clk", "top.data[7:0]", "top.clk"],
     [("top.clk", 0, "1"), ("top.clk", 0, "1"), ("top.data[7:0]", 0, "3"),
      ("top.clk", 1, "0"), ("top.clk", 1, "0")]),
    ([], []),
])
def test_extract_requests(vcd, names, expected):
    records = quarnel.extract(vcd(ALIAS_BODY), names)
    assert [(r["signal"], r["time"], r["value"]) for r in records] == expected
    for record in records:
        assert list(record) == ["signal", "time", "value"]
        assert type(record["time"]) is int and type(record["value"]) is str


@pytest.mark.parametrize("names, expected", [
    (["top.clk", "top.clk"], {"top.clk": 1}),
    (["top.data[7:0]", "top.alias", "top.clk", "top.alias", "top.r"],
     {"top.data[7:0]": 0, "top.alias": 1, "top.clk": 1, "top.r": 0}),
    (["top.s", "top.big[128:0]", "top.clk"], {"top.s": 0, "top.big[128:0]": 0, "top.clk": 1}),
    ([], {}),
])
def test_toggles_keys_in_request_order(vcd, names, expected):
    result = quarnel.toggles(vcd(ALIAS_BODY), names)
    assert list(result.items()) == list(expected.items())
    assert all(type(count) is int for count in result.values())


@pytest.mark.parametrize("function", [quarnel.extract, quarnel.toggles])
@pytest.mark.parametrize("names, missing", [
    (["top.nope", "top.clk", "nope2"], "top.nope, nope2"), (["x", "top.clk", "x"], "x, x"),
    (["TOP.CLK"], "TOP.CLK"), (["top.data"], "top.data"), ([""], ""),
])
def test_missing_names(vcd, tmp_path, function, names, missing):
    # The body is damaged: the missing names are reported before it is read.
    assert runtime_error(lambda p: function(p, names), vcd(body("#0", "%"))) == \
        "signals not found in VCD: " + missing
    assert runtime_error(lambda p: function(p, names), str(tmp_path / "absent.vcd")) == \
        "I/O error: No such file or directory (os error 2)"


TOGGLE_HEAD = """\
$var wire 1 ! one $end
$var wire 2 " two [1:0] $end
$var wire 8 # byte [7:0] $end
$var wire 12 $ twelve [11:0] $end
$var wire 4 % nib [3:0] $end
$var wire 0 & zero $end
$var wire 129 ' big [128:0] $end
$var real 64 ( r $end
$enddefinitions $end
"""
TOGGLE_NAMES = {"!": "one", '"': "two[1:0]", "#": "byte[7:0]", "$": "twelve[11:0]",
                "%": "nib[3:0]", "&": "zero", "'": "big[128:0]", "(": "r"}


@pytest.mark.parametrize("rows, count", [
    (["0!", "1!", "0!", "1!"], 3),
    (["0!", "x!", "0!"], 2),
    (["1!", "b1 !", "b01 !", "s1 !", "r1 !"], 0),
    (["1\"", "b1 \""], 0),
    (["b1 \"", "s0x1 \""], 0),
    (["b1010 #", "b00001010 #", "s0x0a #"], 0),
    (["b1010 #", "s0xa #"], 1),
    (["b1010 #", "s0x0A #"], 1),
    (["b1010 #", "s10 #"], 1),
    (["b1010 #", "r10 #"], 1),
    (["b1x #", "b1X #"], 0),
    (["b1x #", "b01x #"], 0),
    # Bits by value after left extension; never mistaken for a number's text.
    (["b1 %", "b0x1 %", "b1 %"], 2), (["b1 #", "b0x01 #"], 1), (["bx %", "bxxxx %"], 0),
    (["b1 '", "b" + "0" * 128 + "1 '"], 0), (["b1 \"", "s01 \""], 1),
    (["sDone #", "sdone #"], 1),
    (["b1010 $", "s0x00a $"], 0),
    (["b11111111 %", "s0xff %"], 0),
    (["b11 &", "s3 &"], 0),
    (["b1 '", "s0x" + "0" * 32 + "1 '"], 0),
    (["b1 '", "s0x" + "0" * 31 + "1 '"], 1),
    (["b" + "1" * 129 + " '", "s" + "1" * 129 + " '"], 0),
    (["r1 (", "r1.0 ("], 0),
    (["r0 (", "r-0 ("], 1),
    (["rnan (", "rNaN ("], 0),
    (["rinf (", "r-inf ("], 1),
    (["$dumpvars", "b1010 #", "$end", "$dumpall", "b1010 #", "$end"], 0),
], ids=lambda v: None if isinstance(v, int) else " ".join(v)[:40])
def test_toggle_comparison_texts(vcd, rows, count):
    name = TOGGLE_NAMES[next(row[-1] for row in rows if not row.startswith("$"))]
    path = vcd(TOGGLE_HEAD + "".join(f"#{t}\n{row}\n" for t, row in enumerate(rows)))
    assert quarnel.toggles(path, [name]) == {name: count}
    assert quarnel.toggles(path, [name, name]) == {name: count}


def test_toggle_baseline_is_the_first_change_in_the_window(vcd):
    path = vcd(body("#0", "0!", "#5", "1!", "#10", "0!"))
    assert quarnel.toggles(path, ["top.clk"]) == {"top.clk": 2}
    assert quarnel.toggles(path, ["top.clk"], 5) == {"top.clk": 1}
    assert quarnel.toggles(path, ["top.clk"], 6) == {"top.clk": 0}
    assert quarnel.toggles(path, ["top.clk", "top.r"], 11) == {"top.clk": 0, "top.r": 0}


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class BadIndex:
    def __index__(self):
        raise ValueError("no index")


SIGNAL_ERRORS = [
    ("top.clk", "Can't extract `str` to `Vec`"),
    (type("Name", (str,), {})("top.clk"), "Can't extract `str` to `Vec`"),
    (5, "'int' object cannot be converted to 'Sequence'"),
    (None, "'NoneType' object cannot be converted to 'Sequence'"),
    ({"top.clk"}, "'set' object cannot be converted to 'Sequence'"),
    (iter(["top.clk"]), "'list_iterator' object cannot be converted to 'Sequence'"),
    (["top.clk", 1], "'int' object cannot be converted to 'PyString'"),
    (b"top", "'int' object cannot be converted to 'PyString'"),
]
FUNCTIONS = {"extract": quarnel.extract, "toggles": quarnel.toggles}


@pytest.fixture
def clk(vcd):
    return vcd(body("#0", "1!", "#5", "0!"))


@pytest.mark.parametrize("function", FUNCTIONS.values(), ids=FUNCTIONS.keys())
@pytest.mark.parametrize("signals, message", SIGNAL_ERRORS, ids=[m for _, m in SIGNAL_ERRORS])
def test_signals_conversion_errors(clk, function, signals, message):
    with pytest.raises(TypeError) as info:
        function(clk, signals, start=-1)     # signals converts before start
    assert type(info.value) is TypeError
    assert str(info.value) == "argument 'signals': " + message


@pytest.mark.parametrize("function", FUNCTIONS.values(), ids=FUNCTIONS.keys())
@pytest.mark.parametrize("kwargs, error, message", [
    ({"start": "1"}, TypeError,
     "argument 'start': 'str' object cannot be interpreted as an integer"),
    ({"end": 1.5}, TypeError,
     "argument 'end': 'float' object cannot be interpreted as an integer"),
    ({"start": -1}, OverflowError, None),
    ({"end": 2**64}, OverflowError, None),
    ({"start": Index(-5)}, OverflowError, None),
    ({"start": BadIndex()}, ValueError, "no index"),
    ({"start": "1", "end": -1}, TypeError,
     "argument 'start': 'str' object cannot be interpreted as an integer"),
    ({"start": -1, "end": "1"}, OverflowError, None),
], ids=["str", "float", "negative", "too-large", "index-negative", "index-raises",
        "start-first", "start-first-overflow"])
def test_window_conversion_errors(clk, function, kwargs, error, message):
    with pytest.raises(error) as info:
        function(clk, ["top.clk"], **kwargs)
    assert type(info.value) is error
    if message is None:
        assert not str(info.value).startswith("argument")
    else:
        assert str(info.value) == message


@pytest.mark.parametrize("function", FUNCTIONS.values(), ids=FUNCTIONS.keys())
def test_path_converts_first(function):
    with pytest.raises(TypeError) as info:
        function(Path("x.vcd"), "top.clk", start=-1)
    assert str(info.value) == "argument 'path': 'PosixPath' object cannot be converted to " \
                              "'PyString'"


@pytest.mark.parametrize("signals", [("top.clk",), ["top.clk"], type("L", (list,), {})(
    ["top.clk"])], ids=["tuple", "list", "list-subclass"])
@pytest.mark.parametrize("start, end", [(None, None), (0, 5), (False, 5), (Index(0), Index(5))])
def test_accepted_arguments(clk, signals, start, end):
    assert values_of(quarnel.extract(clk, signals, start, end)) == [(0, "1"), (5, "0")]
    assert quarnel.toggles(path=clk, signals=signals, start=start, end=end) == {"top.clk": 1}


@pytest.mark.parametrize("call, message", [
    (lambda p: quarnel.metadata(), "metadata() missing 1 required positional argument: 'path'"),
    (lambda p: quarnel.metadata(p, p), "metadata() takes 1 positional arguments but 2 were given"),
    (lambda p: quarnel.metadata(1), "argument 'path': 'int' object cannot be converted to "
                                    "'PyString'"),
    (lambda p: quarnel.extract(p), "extract() missing 1 required positional argument: 'signals'"),
    (lambda p: quarnel.toggles(), "toggles() missing 2 required positional arguments: 'path' "
                                  "and 'signals'"),
    (lambda p: quarnel.extract(p, [], 1, 2, 3),
     "extract() takes from 2 to 4 positional arguments but 5 were given"),
    (lambda p: quarnel.toggles(p, [], begin=1),
     "toggles() got an unexpected keyword argument 'begin'"),
])
def test_binding_errors(clk, call, message):
    with pytest.raises(TypeError) as info:
        call(clk)
    assert str(info.value) == message


def fixture(name):
    path = DATA / name
    if not path.exists():
        pytest.skip(f"no {name}")
    return str(path)


def test_simulator_dump_values():
    path = fixture("icarus_hier.vcd")
    assert quarnel.metadata(path) == {"signal_count": 26, "start_time": 0, "end_time": 760,
                                      "timescale": "100 ps"}
    # An instance port that shares the clock's code sees the same changes.
    assert values_of(quarnel.extract(path, ["top.clk"])) == \
        values_of(quarnel.extract(path, ["top.\\u[1].clk"]))
    assert values_of(quarnel.extract(path, ["top.r"])) == [
        (0, "1.5"), (170, "-0.00225"), (270, "NaN"), (570, "-0.00225"), (620, "-0.00225")]
    # The $dumpall at 620 repeats the 0 written at 600.
    assert values_of(quarnel.extract(path, ["top.clk"], 600, 620)) == [(600, "0"), (620, "0")]
    assert quarnel.toggles(path, ["top.clk"], 600, 620) == {"top.clk": 0}


def test_simulator_dump_with_nine_valued_logic():
    path = fixture("ghdl_ninevalue.vcd")
    names = quarnel.list_signals(path)
    for call in [quarnel.metadata, lambda p: quarnel.extract(p, names),
                 lambda p: quarnel.toggles(p, names[-1:])]:
        assert runtime_error(call, path) == "I/O error: invalid VCD logic value at line 2"

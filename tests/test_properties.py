"""Properties of the six functions over random dumps and random damage to them: only the
documented exceptions come out, and the functions agree with each other and with a model
of the dump."""

import math
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quarnel
from idcodes import code_text

# QUARNEL_EXAMPLES=N runs N random examples per property instead of a fixed set.
EXAMPLES = os.environ.get("QUARNEL_EXAMPLES")
SETTINGS = settings(
    max_examples=int(EXAMPLES) if EXAMPLES else 120,
    derandomize=EXAMPLES is None,
    deadline=None,
    database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                           HealthCheck.function_scoped_fixture],
)
MAX_TIME = 2**64 - 1


class Dump:
    """A random dump: its text, its signals and the changes a reader must see."""

    def __init__(self, text, signals, changes, start_time, end_time):
        self.text = text
        self.signals = signals      # (kind, width) in declaration order
        self.names = [full_name(i, kind, width) for i, (kind, width) in enumerate(signals)]
        self.kinds = {name: kind for name, (kind, _) in zip(self.names, signals)}
        self.changes = changes      # (name, time, kind, value) in file order
        self.start_time = start_time
        self.end_time = end_time


def full_name(index, kind, width):
    scope = "top.u." if index % 3 == 2 else "top."
    return f"{scope}s{index}" + (f"[{width - 1}:0]" if kind == "vector" else "")


SECTIONS = ("$dumpvars", "$dumpall", "$dumpoff", "$dumpon")
VAR_TYPES = {"scalar": "wire", "vector": "reg", "real": "real", "string": "string"}
BIT_KINDS = ("scalar", "vector")


@st.composite
def dumps(draw, signals=None):
    """A valid dump; with `signals`, one declaring the same signals as another."""
    if signals is None:
        kinds = draw(st.lists(st.sampled_from(list(VAR_TYPES)), min_size=1, max_size=6))
        signals = [(kind, draw(st.sampled_from([2, 4, 8, 64, 128, 129, 140]))
                    if kind == "vector" else 1) for kind in kinds]
    header = ["$timescale 1 ns $end", "$scope module top $end"]
    for i, (kind, width) in enumerate(signals):
        inner = i % 3 == 2
        index = f" [{width - 1}:0]" if kind == "vector" else ""
        var = f"$var {VAR_TYPES[kind]} {width} {code_text(i * 7)} s{i}{index} $end"
        header += ["$scope module u $end", var, "$upscope $end"] if inner else [var]
    header += ["$upscope $end", "$enddefinitions $end"]

    body, changes = [], []
    time, start_time, end_time = 0, None, 0
    for _ in range(draw(st.integers(0, 40))):
        step = draw(st.integers(0, 9))
        if step == 0:
            jump = draw(st.booleans())
            time = draw(st.integers(0, MAX_TIME)) if jump else time + draw(st.integers(0, 50))
            time = min(time, MAX_TIME)
            body.append(f"#{time}")
            end_time = time
            start_time = time if start_time is None else start_time
            continue
        if step == 1:
            body += [draw(st.sampled_from(SECTIONS)), "$comment a note $end"]
            continue
        if step == 2 and body and body[-1] in SECTIONS:
            body.append("$end")
            continue
        index = draw(st.integers(0, len(signals) - 1))
        kind, width = signals[index]
        code = code_text(index * 7)
        if kind == "scalar":
            char = draw(st.sampled_from("01xXzZ"))
            body.append(f"{char}{code}")
            value = char.lower()
        elif kind == "vector":
            alphabet = "01xzXZ" if draw(st.booleans()) else "01"
            bits = draw(st.text(st.sampled_from(alphabet), min_size=1, max_size=width))
            body.append(f"b{bits} {code}")
            lower = bits.lower()
            value = int(lower, 2) if len(bits) <= 128 and set(lower) <= {"0", "1"} else lower
        elif kind == "real":
            value = draw(st.floats() | st.sampled_from([0.0, -0.0, 1.5, 1e16, 2.5e-7]))
            body.append(f"r{'NaN' if math.isnan(value) else repr(value)} {code}")
        else:
            value = draw(st.text(st.sampled_from("abcXYZ_09"), min_size=1, max_size=8))
            body.append(f"s{value} {code}")
        start_time = time if start_time is None else start_time
        changes.append((full_name(index, kind, width), time, kind, value))
    if body and body[-1] in SECTIONS:
        body.append("$end")
    text = "\n".join(header + body) + "\n"
    return Dump(text, signals, changes, start_time or 0, end_time)


def write(tmp_path, text, name="dump.vcd"):
    path = tmp_path / name
    path.write_bytes(text if isinstance(text, bytes) else text.encode())
    return str(path)


def same_value(kind, expected, shown):
    """Whether `shown`, the text extract gives, is the value the dump wrote."""
    if kind == "real":
        got = float(shown)
        if math.isnan(expected):
            return shown == "NaN"
        return got == expected and math.copysign(1, got) == math.copysign(1, expected)
    return shown == str(expected)


def shorten(bits):
    """Bits without what left extension restores: a leading 0 before 0 or 1, a leading x or
    z before the same letter."""
    while len(bits) > 1 and (bits[0] == "0" and bits[1] in "01" or bits[0] in "xz" and bits[1] == bits[0]):
        bits = bits[1:]
    return bits


def bits_key(shown):
    """The value that the text extract gives for a scalar or vector stands for: a number,
    or the shortened bits when they hold x or z."""
    if len(shown) <= 39 and shown.isdigit():
        return int(shown)
    bits = shorten(shown)
    return int(bits, 2) if set(bits) <= {"0", "1"} else bits


def toggles_of(records, kinds):
    counts, last = {}, {}
    for record in records:
        name = record["signal"]
        value = bits_key(record["value"]) if kinds[name] in BIT_KINDS else record["value"]
        counts.setdefault(name, 0)
        if name in last and last[name] != value:
            counts[name] += 1
        last[name] = value
    return counts


def target_text(text):
    """The text a target stands for, as the search compares it with the lowercased text
    of each change."""
    text = text.strip().lower()
    digits = text[2:] if text.startswith("0x") else text
    digits = digits.removeprefix("+")
    base = 16 if text.startswith("0x") else 10
    try:
        if digits and all(c in "0123456789abcdef"[:base] for c in digits):
            number = int(digits, base)
            if number < 2**128:
                return str(number)
    except ValueError:
        pass
    return text


def matches(kind, shown, target):
    if kind not in BIT_KINDS:
        return shown.lower() == target
    key = bits_key(shown)
    if isinstance(key, int):
        return target == str(key)
    bit_like = set(target) <= set("01xz") and set(target) & set("xz")
    return (shorten(target) if bit_like else target) == key


def check_find(path, records, name, kind):
    own = [r for r in records if r["signal"] == name]
    for wanted in {r["value"] for r in own[:5]}:
        target = target_text(wanted)
        found = [r for r in own if matches(kind, r["value"], target)]
        for occurrence, record in enumerate(found[:3], 1):
            assert quarnel.find(path, name, wanted, occurrence) == {
                "found": True, "signal": name, "time": record["time"], "value": record["value"]}
        assert quarnel.find(path, name, wanted, len(found) + 1) == {
            "found": False, "signal": name, "time": None, "value": None}


def check_mirrored(ab, ba):
    assert ab["passed"] == ba["passed"]
    assert ab["common_signals"] == ba["common_signals"]
    assert ab["signals_only_in_file1"] == ba["signals_only_in_file2"]
    assert ab["signals_only_in_file2"] == ba["signals_only_in_file1"]
    assert ab["total_mismatches"] == ba["total_mismatches"] == len(ab["mismatches"])
    assert ab["signals_with_mismatches"] == ba["signals_with_mismatches"]
    assert [(m["signal"], m["time"], m["value2"], m["value1"], m["is_unknown"])
            for m in ba["mismatches"]] == [
        (m["signal"], m["time"], m["value1"], m["value2"], m["is_unknown"])
        for m in ab["mismatches"]]


@SETTINGS
@given(dump=dumps())
def test_valid_dumps_agree_with_the_model(tmp_path, dump):
    path = write(tmp_path, dump.text)
    assert quarnel.list_signals(path) == dump.names
    assert quarnel.metadata(path) == {"signal_count": len(dump.names),
                                      "start_time": dump.start_time,
                                      "end_time": dump.end_time, "timescale": "1 ns"}
    records = quarnel.extract(path, dump.names)
    model = [(name, time) for name, time, _, _ in dump.changes]
    assert [(r["signal"], r["time"]) for r in records] == model
    for record, (_, _, kind, value) in zip(records, dump.changes):
        assert same_value(kind, value, record["value"]), (record, value)
    kinds = dump.kinds
    counts = quarnel.toggles(path, dump.names)
    assert counts == {name: toggles_of(records, kinds).get(name, 0) for name in dump.names}
    for name in dump.names:
        check_find(path, records, name, kinds[name])
    same = quarnel.compare(path, path)
    assert same["passed"] and same["mismatches"] == []
    assert same["common_signals"] == sorted(dump.names, key=lambda n: n.encode())


@SETTINGS
@given(data=st.data())
def test_comparisons_are_mirrored(tmp_path, data):
    first = data.draw(dumps())
    # The same signals, other changes.
    second = data.draw(dumps(signals=first.signals))
    a, b = write(tmp_path, first.text, "a.vcd"), write(tmp_path, second.text, "b.vcd")
    options = data.draw(st.fixed_dictionaries({}, optional={
        "max_mismatches": st.integers(0, 3), "ignore_unknown": st.booleans(),
        "start": st.integers(0, 100), "end": st.integers(0, 200),
        "signals": st.lists(st.sampled_from(first.names + ["no.such"]), max_size=3)}))
    check_mirrored(quarnel.compare(a, b, **options), quarnel.compare(b, a, **options))


DOCUMENTED = (RuntimeError, TypeError, OverflowError, UnicodeEncodeError, MemoryError,
              KeyboardInterrupt)


def mutate(data, draw):
    data = bytearray(data)
    for _ in range(draw(st.integers(1, 4))):
        if not data:
            break
        at = draw(st.integers(0, len(data) - 1))
        action = draw(st.integers(0, 5))
        if action == 0:
            del data[at:at + draw(st.integers(1, 20))]
        elif action == 1:
            data[at:at] = draw(st.binary(min_size=1, max_size=8))
        elif action == 2:
            data[at] = draw(st.sampled_from(b"01xzb#$ \n\r\t!\"~\x00\xff"))
        elif action == 3:
            del data[at:]
        elif action == 4:
            end = data.find(b"\n", at)
            line = data[data.rfind(b"\n", 0, at) + 1:end + 1 if end >= 0 else len(data)]
            data[at:at] = line
        else:
            data[at:at] = draw(st.sampled_from(
                [b"$end ", b"$scope module ", b"$enddefinitions", b"#99999999999999999999",
                 b"$var wire 1 ! x $end\n", b"\xc3", b"$upscope $end\n", b"b1021 "]))
    return bytes(data)


def outcome(call):
    try:
        return call()
    except DOCUMENTED as error:
        assert type(error) is RuntimeError, repr(error)
        return error


@SETTINGS
@given(data=st.data())
def test_damaged_dumps_raise_only_documented_exceptions(tmp_path, data):
    original = data.draw(dumps())
    damaged = mutate(original.text.encode(), data.draw)
    a = write(tmp_path, original.text, "a.vcd")
    m = write(tmp_path, damaged, "m.vcd")
    names = outcome(lambda: quarnel.list_signals(m))
    if isinstance(names, Exception):
        names = original.names
    outcome(lambda: quarnel.metadata(m))
    outcome(lambda: quarnel.list_signals(m, "s"))
    records = outcome(lambda: quarnel.extract(m, names))
    counts = outcome(lambda: quarnel.toggles(m, names))
    if not isinstance(records, Exception):
        kinds = {name: original.kinds.get(name, "string") for name in names}
        assert counts == {name: toggles_of(records, kinds).get(name, 0) for name in names}
        for name in names[:2]:
            check_find(m, records, name, kinds[name])
    else:
        assert isinstance(counts, Exception) and str(counts) == str(records)
    for name in names[:2]:
        outcome(lambda: quarnel.find(m, name, "1", 2, start=3, end=50))
    same = outcome(lambda: quarnel.compare(m, m))
    if not isinstance(same, Exception):
        assert same["passed"]
    ab = outcome(lambda: quarnel.compare(a, m))
    ba = outcome(lambda: quarnel.compare(m, a))
    if isinstance(ab, Exception) or isinstance(ba, Exception):
        assert str(ab) == str(ba)
    else:
        check_mirrored(ab, ba)


@pytest.mark.parametrize("function", ["list_signals", "metadata", "extract", "toggles",
                                      "find", "compare"])
@SETTINGS
@given(data=st.binary(max_size=300))
def test_arbitrary_bytes_raise_only_runtime_error(tmp_path, function, data):
    path = write(tmp_path, data)
    call = {
        "list_signals": lambda: quarnel.list_signals(path),
        "metadata": lambda: quarnel.metadata(path),
        "extract": lambda: quarnel.extract(path, []),
        "toggles": lambda: quarnel.toggles(path, []),
        "find": lambda: quarnel.find(path, "a", "1"),
        "compare": lambda: quarnel.compare(path, path),
    }[function]
    outcome(call)

"""Properties of the six functions over random dumps and random damage to them: only the
documented exceptions come out, and the functions agree with each other and with a model
of the dump."""

import math
import os
from types import SimpleNamespace

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quarnel
from conftest import MAX, code_text

# QUARNEL_EXAMPLES=N runs N random examples per property instead of a fixed set.
EXAMPLES = os.environ.get("QUARNEL_EXAMPLES")
SETTINGS = settings(max_examples=int(EXAMPLES) if EXAMPLES else 120,
                    derandomize=EXAMPLES is None, deadline=None, database=None,
                    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                                           HealthCheck.function_scoped_fixture])
SECTIONS = ("$dumpvars", "$dumpall", "$dumpoff", "$dumpon")
VAR_TYPES = {"scalar": "wire", "vector": "reg", "real": "real", "string": "string"}


@st.composite
def dumps(draw, signals=None):
    """A valid dump: its text, names, kinds and the changes (name, time, kind, value) a
    reader must see; with `signals`, one declaring the same signals as another."""
    if signals is None:
        signals = [(kind, draw(st.sampled_from([2, 4, 8, 64, 128, 129, 140]))
                    if kind == "vector" else 1)
                   for kind in draw(st.lists(st.sampled_from(list(VAR_TYPES)), min_size=1,
                                             max_size=6))]
    names, header = [], ["$timescale 1 ns $end", "$scope module top $end"]
    for i, (kind, width) in enumerate(signals):
        index = f"[{width - 1}:0]" if kind == "vector" else ""
        names.append(("top.u." if i % 3 == 2 else "top.") + f"s{i}{index}")
        var = f"$var {VAR_TYPES[kind]} {width} {code_text(i * 7)} s{i} {index} $end"
        header += ["$scope module u $end", var, "$upscope $end"] if i % 3 == 2 else [var]
    body, changes, time, times = [], [], 0, []
    for _ in range(draw(st.integers(0, 40))):
        step = draw(st.integers(0, 9))
        if step == 0:
            time = min(MAX, draw(st.integers(0, MAX) | st.integers(time, time + 50)))
            body.append(f"#{time}")
            times.append(time)
            continue
        if step == 1:
            body += [draw(st.sampled_from(SECTIONS)), "$comment a note $end"]
            continue
        if step == 2 and body and body[-1] in SECTIONS:
            body.append("$end")
            continue
        index = draw(st.integers(0, len(signals) - 1))
        (kind, width), code = signals[index], code_text(index * 7)
        if kind == "scalar":
            value = draw(st.sampled_from("01xXzZ"))
            body.append(f"{value}{code}")
            value = value.lower()
        elif kind == "vector":
            bits = draw(st.text(st.sampled_from("01xzXZ" if draw(st.booleans()) else "01"),
                                min_size=1, max_size=width))
            body.append(f"b{bits} {code}")
            value = bits.lower()
            value = str(int(value, 2)) if len(bits) <= 128 and set(value) <= {"0", "1"} else value
        elif kind == "real":
            value = draw(st.floats() | st.sampled_from([0.0, -0.0, 1.5, 1e16, 2.5e-7]))
            body.append(f"r{'NaN' if math.isnan(value) else repr(value)} {code}")
        else:
            value = draw(st.text(st.sampled_from("abcXYZ_09"), min_size=1, max_size=8))
            body.append(f"s{value} {code}")
        times.append(time)
        changes.append((names[index], time, kind, value))
    if body and body[-1] in SECTIONS:
        body.append("$end")
    return SimpleNamespace(
        text="\n".join(header + ["$upscope $end", "$enddefinitions $end"] + body) + "\n",
        signals=signals, names=names, changes=changes, start=times[0] if times else 0,
        end=max([0] + [int(line[1:]) for line in body if line.startswith("#")][-1:]),
        kinds={name: kind for name, (kind, _) in zip(names, signals)})


def bits_key(bits):
    """What a bits text stands for: a number, or the bits with x or z without what left
    extension restores (a leading 0 before 0 or 1, a leading x or z before the same)."""
    if len(bits) <= 39 and bits.isdigit():
        return int(bits)
    while bits[1:2] in ("0", "1") and bits[0] == "0" or bits[0] in "xz" and bits[1:2] == bits[0]:
        bits = bits[1:]
    return int(bits, 2) if set(bits) <= {"0", "1"} else bits


def toggles_of(records, kinds):
    counts, last = {}, {}
    for record in records:
        name, value = record["signal"], record["value"]
        value = bits_key(value) if kinds[name] in ("scalar", "vector") else value
        counts[name] = counts.get(name, 0) + (name in last and last[name] != value)
        last[name] = value
    return counts


def matches(kind, shown, target):
    """Whether the search finds `target` (stripped, lowercased) in a change shown as `shown`."""
    hexadecimal = target.startswith("0x")
    digits = (target[2:] if hexadecimal else target).removeprefix("+")
    if digits and all(c in "0123456789abcdef"[:16 if hexadecimal else 10] for c in digits):
        if int(digits, 16 if hexadecimal else 10) < 2**128:
            target = str(int(digits, 16 if hexadecimal else 10))
    if kind not in ("scalar", "vector"):
        return shown.lower() == target
    key = bits_key(shown)
    if isinstance(key, int):
        return target == str(key)
    return (bits_key(target) if set(target) <= set("01xz") and set(target) & set("xz")
            else target) == key


def check_find(path, records, name, kind):
    own = [r for r in records if r["signal"] == name]
    for wanted in {r["value"] for r in own[:5]}:
        found = [r for r in own if matches(kind, r["value"], wanted.strip().lower())]
        for occurrence, record in enumerate(found[:3], 1):
            assert quarnel.find(path, name, wanted, occurrence) == dict(found=True, **record)
        assert quarnel.find(path, name, wanted, len(found) + 1) == {
            "found": False, "signal": name, "time": None, "value": None}


def check_mirrored(ab, ba):
    swap = {"1": "2", "2": "1"}
    mirror = lambda d: {k[:-1] + swap.get(k[-1], k[-1]): v for k, v in d.items()}  # noqa: E731
    assert mirror(dict(ab, mismatches=[mirror(m) for m in ab["mismatches"]])) == ba


@SETTINGS
@given(dump=dumps())
def test_valid_dumps_agree_with_the_model(vcd, dump):
    path = vcd(dump.text)
    assert quarnel.list_signals(path) == dump.names
    assert quarnel.metadata(path) == {"signal_count": len(dump.names), "start_time": dump.start,
                                      "end_time": dump.end, "timescale": "1 ns"}
    records = quarnel.extract(path, dump.names)
    assert [(r["signal"], r["time"]) for r in records] == [c[:2] for c in dump.changes]
    for record, (_, _, kind, value) in zip(records, dump.changes):  # reals by their bits
        assert record["value"] == value if kind != "real" else \
            repr(float(record["value"])) == repr(value), (record, value)
    assert quarnel.toggles(path, dump.names) == {
        name: toggles_of(records, dump.kinds).get(name, 0) for name in dump.names}
    for name in dump.names:
        check_find(path, records, name, dump.kinds[name])
    same = quarnel.compare(path, path)
    assert same["passed"] and same["common_signals"] == sorted(dump.names, key=str.encode)


def mutate(data, draw):
    data = bytearray(data)
    for _ in range(draw(st.integers(1, 4))):
        at, action = draw(st.integers(0, len(data))), draw(st.integers(0, 4))
        if action == 0:
            del data[at:at + draw(st.integers(1, 20))]
        elif action == 1:
            data[at:at] = draw(st.binary(min_size=1, max_size=8))
        elif action == 2:
            data[at:at + 1] = bytes([draw(st.sampled_from(b"01xzb#$ \n\r\t!\"~\x00\xff"))])
        elif action == 3:
            del data[at:]
        else:
            data[at:at] = draw(st.sampled_from(
                [b"$end ", b"$scope module ", b"$enddefinitions", b"#99999999999999999999",
                 b"$var wire 1 ! x $end\n", b"\xc3", b"$upscope $end\n", b"b1021 "]))
    return bytes(data)


def outcome(call):
    """The result of the call, or the RuntimeError it raised: nothing else may come out."""
    try:
        return call()
    except RuntimeError as error:
        assert type(error) is RuntimeError
        return error


@SETTINGS
@given(data=st.data())
def test_damaged_dumps_raise_only_documented_exceptions(vcd, data):
    original = data.draw(dumps())
    a, m = vcd(original.text), vcd(mutate(original.text.encode(), data.draw))
    names = outcome(lambda: quarnel.list_signals(m))
    names = original.names if isinstance(names, Exception) else names
    outcome(lambda: quarnel.metadata(m))
    records = outcome(lambda: quarnel.extract(m, names))
    counts = outcome(lambda: quarnel.toggles(m, names))
    if isinstance(records, Exception):
        assert str(counts) == str(records)
    else:
        kinds = {name: original.kinds.get(name, "string") for name in names}
        assert counts == {name: toggles_of(records, kinds).get(name, 0) for name in names}
        for name in names[:2]:
            check_find(m, records, name, kinds[name])
    for name in names[:2]:
        outcome(lambda: quarnel.find(m, name, "1", 2, start=3, end=50))
    same = outcome(lambda: quarnel.compare(m, m))
    assert isinstance(same, Exception) or same["passed"]
    ab, ba = outcome(lambda: quarnel.compare(a, m)), outcome(lambda: quarnel.compare(m, a))
    if isinstance(ab, Exception) or isinstance(ba, Exception):
        assert str(ab) == str(ba)
    else:
        check_mirrored(ab, ba)

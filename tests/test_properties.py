"""Properties of the six functions over random dumps and random damage to them: the functions
agree with a model of the dump and with each other, and only RuntimeError comes out."""

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
def dumps(draw):
    """A valid dump: its text, names and the changes (name, time, kind, value) a reader must see."""
    signals = [(kind, draw(st.sampled_from([2, 4, 8, 64, 128, 129, 140])) if kind == "vector"
                else 1) for kind in draw(st.lists(st.sampled_from(list(VAR_TYPES)), min_size=1,
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
        if kind in ("scalar", "vector"):
            bits = draw(st.text(st.sampled_from("01xzXZ" if draw(st.booleans()) else "01"),
                                min_size=1, max_size=width))
            body.append(f"{bits}{code}" if kind == "scalar" else f"b{bits} {code}")
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
        names=names, changes=changes, start=times[0] if times else 0,
        end=max([0] + [int(line[1:]) for line in body if line.startswith("#")][-1:]))


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
    for name in dump.names:  # the first change of a signal is the first time it takes its value
        first = next((r for r in records if r["signal"] == name), None)
        if first:
            assert quarnel.find(path, name, first["value"]) == dict(found=True, **first)
    same = quarnel.compare(path, path)
    assert same["passed"] and same["common_signals"] == sorted(dump.names, key=str.encode)


@SETTINGS
@given(dump=dumps(), at=st.integers(0, 10**4), junk=st.binary(max_size=8), cut=st.booleans())
def test_damaged_dumps_raise_only_runtime_error(vcd, dump, at, junk, cut):
    text = dump.text.encode()
    at %= len(text) + 1
    path = vcd(text[:at] + junk + (b"" if cut else text[at:]))
    for call in (lambda: quarnel.list_signals(path), lambda: quarnel.metadata(path),
                 lambda: quarnel.extract(path, dump.names), lambda: quarnel.toggles(path, []),
                 lambda: quarnel.find(path, dump.names[0], "1"),
                 lambda: quarnel.compare(path, path)):
        try:
            call()
        except RuntimeError as error:
            assert type(error) is RuntimeError

"""value_at: the value each signal holds at a time, against the last record of extract."""

import random

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import DATA, REPO, outcomes
from quarnel import extended
from test_properties import SETTINGS, dumps

DUMPS = sorted([*DATA.glob("*.vcd"), *(REPO / "examples").rglob("*.vcd")])


def last_records(path, names, time):
    """What value_at must give: per name the last record of extract over [0, time]."""
    answer = {}
    for name in names:
        records = extended.extract(path, [name], 0, time)
        answer[name] = records[-1]["value"] if records else None
    return answer


def agree(path, names, time):
    got, want = outcomes([lambda: extended.value_at(path, names, time),
                          lambda: last_records(path, names, time)])
    # An error is that of extract over the same window, whichever name meets it first.
    if isinstance(want, str) or isinstance(got, str):
        want = outcomes([lambda: extended.extract(path, names, 0, time)])[0]
    assert got == want
    assert isinstance(got, str) or list(got) == list(dict.fromkeys(names))


@SETTINGS
@given(dump=dumps(), times=st.lists(st.integers(0, 2**64 - 1) | st.integers(0, 60), max_size=4),
       cut=st.integers(0, 10**4), junk=st.binary(max_size=4))
def test_value_at_is_the_last_record_of_extract(vcd, dump, times, cut, junk):
    text = dump.text.encode()
    for damaged in (False, True):
        if damaged:
            cut %= len(text) + 1
            text = text[:cut] + junk + text[cut:]
        path = vcd(text)
        for time in times + [dump.end]:
            agree(path, dump.names + dump.names[:1], time)


@pytest.mark.parametrize("path", DUMPS, ids=lambda p: p.name)
def test_value_at_on_simulator_dumps(path):
    names = extended.list_signals(path)
    end = extended.metadata(path)["end_time"]
    for time in [0, end, end + 1] + random.Random(str(path.name)).sample(range(end + 1), 3):
        agree(str(path), names, time)


def flipped(text):
    """The dump with every scalar change of 0 or 1 in its body turned to the other value."""
    header, body = text.split("$enddefinitions $end\n")
    return header + "$enddefinitions $end\n" + "\n".join(
        {"0": "1", "1": "0"}[line[0]] + line[1:] if line[:1] in ("0", "1") else line
        for line in body.split("\n"))


@SETTINGS
@given(dump=dumps(), start=st.integers(0, 60), flip=st.booleans())
def test_compare_held_at_start_carries_the_state_into_the_window(vcd, dump, start, flip):
    a, b = vcd(dump.text), vcd(flipped(dump.text) if flip else dump.text)
    held = extended.compare(a, b, start=start, held_at_start=True)["mismatches"]
    whole = extended.compare(a, b)["mismatches"]
    # After start the same as a comparison from the beginning; at start the values held there.
    assert [m for m in held if m["time"] > start] == [m for m in whole if m["time"] > start]
    at = extended.value_at(a, dump.names, start), extended.value_at(b, dump.names, start)
    assert {m["signal"] for m in held if m["time"] == start} <= {
        name for name in dump.names if at[0][name] != at[1][name]}
    assert all(m["time"] >= start for m in held)

"""value_at: the value each signal holds at a time, against the last record of extract."""

import gzip
import os
import random
import time as time_module

import pytest
from hypothesis import given
from hypothesis import strategies as st

from conftest import DATA, REPO, outcomes
import quarnel
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


def answers(path, other, names, start, time):
    """Every function of quarnel.extended that an index may serve, with a window from start."""
    return outcomes([lambda: extended.metadata(path),
                     lambda: extended.extract(path, names, start, time),
                     lambda: extended.toggles(path, names, start),
                     lambda: extended.find(path, names[0], "1", 1, start),
                     lambda: extended.value_at(path, names, time),
                     lambda: extended.compare(path, other, start=start, end=time),
                     lambda: extended.extract_table(path, names, start) and None])


CHANGES = {  # after indexing: the body rewritten in place (size and times kept), cut, grown
    "rewritten": lambda text: text[:-3] + bytes([text[-3] ^ 1]) + text[-2:],
    "truncated": lambda text: text[:len(text) * 2 // 3],
    "appended": lambda text: text + b"#999999\n1!\n0!\n",
    "none": lambda text: text,
}


@SETTINGS
@given(dump=dumps(), times=st.lists(st.integers(0, 60), min_size=2, max_size=2),
       cut=st.integers(0, 10**4), junk=st.binary(max_size=4),
       change=st.sampled_from(list(CHANGES)))
def test_an_index_changes_no_answer(tmp_path_factory, monkeypatch, capsys, dump, times, cut,
                                    junk, change):
    folder = tmp_path_factory.mktemp("dumps")
    monkeypatch.setenv("QUARNEL_THREADS", "2")
    monkeypatch.setenv("QUARNEL_CHUNK_BYTES", "16")
    text = dump.text.encode()
    if junk:  # an error before, inside or after the window
        cut %= len(text) + 1
        text = text[:cut] + junk + text[cut:]
    path, other = folder / "a.vcd", folder / "b.vcd"
    path.write_bytes(text)
    other.write_bytes(flipped(dump.text).encode())
    start, time = sorted(times)
    monkeypatch.setenv("QUARNEL_INDEX_DIR", str(folder))
    for built in outcomes([lambda: extended.index(path), lambda: extended.index(other, folder)]):
        assert isinstance(built, str) or built["index"].startswith(str(folder))
    capsys.readouterr()
    stat = path.stat()
    time_module.sleep(0.01)  # past the granularity of the change time the system sets
    if change != "none":
        path.write_bytes(CHANGES[change](text))
    if change == "rewritten":
        os.utime(path, ns=(stat.st_atime_ns, stat.st_mtime_ns))
    monkeypatch.setenv("QUARNEL_INDEX_DIR", str(tmp_path_factory.mktemp("empty")))
    plain = answers(str(path), str(other), dump.names, start, time)
    monkeypatch.setenv("QUARNEL_INDEX_DIR", str(folder))
    assert answers(str(path), str(other), dump.names, start, time) == plain
    # Read, the header shows the index to be stale.
    header = outcomes([lambda: extended.list_signals(path)])[0]
    stale = change in ("rewritten", "truncated") and not isinstance(header, str)
    assert ("does not match" in capsys.readouterr().err) == stale


def test_index_refuses_what_it_cannot_index_and_ignores_a_damaged_one(tmp_path, capsys):
    gz = tmp_path / "a.vcd.gz"
    gz.write_bytes(gzip.compress((DATA / "icarus_hier.vcd").read_bytes()))
    assert "only a regular, uncompressed dump" in str(pytest.raises(RuntimeError, extended.index,
                                                                    gz).value)
    path = tmp_path / "d.vcd"
    path.write_bytes((DATA / "icarus_hier.vcd").read_bytes())
    names = extended.list_signals(path)
    plain = extended.value_at(path, names, 2**64 - 1), quarnel.metadata(str(path))
    # A byte of the summary, which metadata reads alone, and one after it.
    for at, warnings in ((20, 2), (-1, 1)):
        index = extended.index(path)["index"]
        with open(index, "r+b") as file:
            file.seek(at, os.SEEK_END if at < 0 else os.SEEK_SET)
            byte = file.read(1)[0]
            file.seek(-1, os.SEEK_CUR)
            file.write(bytes([byte ^ 1]))
        assert (extended.value_at(path, names, 2**64 - 1), extended.metadata(path)) == plain
        assert capsys.readouterr().err == f"quarnel: {index}: not an index of this version, " \
            "or damaged; ignored\n" * warnings
    # A path that is not UTF-8 comes back as os.fsdecode gives it.
    odd = os.fsdecode(bytes(tmp_path) + b"/\xff.vcd")
    os.link(path, odd)
    assert extended.index(odd)["index"] == odd + ".qidx"


def test_value_at_from_snapshots_of_a_long_dump(tmp_path, monkeypatch, capsys):
    monkeypatch.setenv("QUARNEL_THREADS", "2")
    monkeypatch.setenv("QUARNEL_CHUNK_BYTES", "64")
    draw = random.Random(7)
    body = []
    for time in range(0, 30000, 10):
        body.append(f"#{time}")
        for code, change in (("!", lambda: draw.choice("01xz") + "!"),
                             ('"', lambda: f"b{draw.getrandbits(12):b} \""),
                             ("#", lambda: f"r{draw.random():.6g} #"),
                             ("$", lambda: f"s{draw.choice(['a', 'bc', 'X'])} $"),
                             ("&", lambda: f"b{draw.getrandbits(40):b} &"),
                             ("'", lambda: draw.choice("01") + "'")):
            if draw.random() < 0.3:
                body.append(change())
    path = tmp_path / "long.vcd"
    path.write_text("$scope module t $end\n$var wire 1 ! a $end\n$var reg 12 \" v [11:0] $end\n"
                    "$var real 64 # r $end\n$var string 1 $ s $end\n$var wire 1 % never $end\n"
                    "$var reg 40 & w [39:0] $end\n$var wire 1 ' bus [0] $end\n"
                    "$var wire 1 ( bus [1] $end\n"
                    "$upscope $end\n$enddefinitions $end\n" + "\n".join(body) + "\n")
    other = tmp_path / "other.vcd"
    other.write_text(flipped(path.read_text()))
    names = extended.list_signals(path)
    times = [draw.randrange(30010) for _ in range(40)]

    def answers():
        return ([extended.value_at(path, names, time) for time in times],
                [extended.compare(path, other, start=time, held_at_start=True)
                 for time in times[:8]],
                [extended.value_at(path, ["t.a", "t.bus[1:0]"], time, buses=True)
                 for time in times[:8]])

    plain = answers()
    assert extended.index(path)["snapshots"] > 8
    assert answers() == plain
    # Read with its buses, the dump still matches its index.
    assert capsys.readouterr().err == ""

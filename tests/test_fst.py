"""FST dumps through quarnel.extended: each FST file answers the six questions as the VCD
dump of the same simulation does, but for the differences README's table names (declaration
order, the order of changes within one time, bits at full width). Pairs: the simulators'
own FST beside their VCD in tests/data, and vcd2fst conversions of every VCD there and in
examples, with each of its packings of the value changes."""

import gzip
import os
import re
import shutil
import subprocess

import pytest

from conftest import DATA, REPO, outcomes
from quarnel import extended

SIMULATED = sorted(DATA.glob("*.fst"))
CONVERTED = sorted(DATA.glob("*.vcd")) + sorted((REPO / "examples").rglob("*.vcd")) + ["long"]
PACKINGS = {"lz4": "-4", "fastlz": "-F", "zlib": "-Z", "gzip-wrapped": "-c"}
STATES = re.compile(r"[01xzuwlh-]+")
UPPER_SCALAR = re.compile(rb"^[UXZWLH](?=\S+$)", re.MULTILINE)
# GHDL's FST holds no scope for the top entity, which its VCD names, its integers and reals
# lose their values, and it adds its enumerations and characters (README's table).
TOP_SCOPES = {"ghdl_hier.fst": "top.", "ghdl_ninevalue.fst": "ninevalue."}
LOST = {"cnt", "r"}


def long_vcd(path):
    """Enough changes of one vector for a value-change run past 64 KiB (FastLZ's level 2), and
    of another whose random values repeat only after more than 8 KiB of its run (FastLZ's
    level 2 copies from that far back with a longer distance)."""
    lines = ["$timescale 1 ps $end", "$scope module t $end", "$var wire 16 ! n [15:0] $end",
             "$var wire 1 \" c $end", "$var wire 64 # r [63:0] $end", "$upscope $end",
             "$enddefinitions $end"]
    state = 1
    repeated = []
    for _ in range(3000):  # xorshift64
        state ^= state << 13 & 2**64 - 1
        state ^= state >> 7
        state ^= state << 17 & 2**64 - 1
        repeated.append(f"b{state:b} #")
    lines += [f"#{t}\nb{t * 7919 % 512:b} !\n{t % 2}\"" + ("\n" + repeated[t % 3000]) * (t < 9000)
              for t in range(60000)]
    path.write_text("\n".join(lines) + "\n")


def convert(vcd, fst, option):
    """vcd2fst loses a scalar change written in upper case (GHDL's `X1`): it gets lower case."""
    lowered = fst.with_suffix(".lowered.vcd")
    lowered.write_bytes(UPPER_SCALAR.sub(lambda m: m[0].lower(), vcd.read_bytes()))
    subprocess.run([shutil.which("vcd2fst"), option, str(lowered), str(fst)], check=True,
                   stdout=subprocess.DEVNULL)


def shortened(value):
    """Bits without the leading bits that left extension restores: one text per value."""
    if not isinstance(value, str) or not STATES.fullmatch(value) or len(value) < 2:
        return value
    extends = {"0": "0", "1": "0"}
    i = 0
    while i + 1 < len(value) and value[i] == extends.get(value[i + 1], value[i + 1]):
        i += 1
    return value[i:]


def answers(path, names, ghdl=False):
    """The six answers, in the forms README's table says an FST file shares with its VCD."""
    def extract(start=None, end=None):
        records = extended.extract(path, names, start=start, end=end)
        return sorted(((r["time"], r["signal"]), shortened(r["value"])) for r in records)

    def middle():
        """A window that starts and ends inside the dump: blocks before it are passed over."""
        end = extended.metadata(path)["end_time"]
        return extract(end // 3, 2 * end // 3), extended.toggles(path, names, end // 3, end // 2)

    def find(name):
        found = extended.find(path, name, "1", 2)
        return dict(found, value=shortened(found["value"]))
    return outcomes([
        lambda: sorted(set(extended.list_signals(path)) & set(names)),
        lambda: dict(extended.metadata(path), signal_count=None if ghdl else 0),
        extract, middle, lambda: extended.toggles(path, names, start=1),
        lambda: [find(name) for name in names],
        lambda: ghdl or dict(extended.compare(path, path), file1=None, file2=None)])


def assert_same(vcd, fst, top=""):
    names = [name for name in extended.list_signals(str(vcd))
             if not (top and name.removeprefix(top) in LOST)]
    fst_names = [name.removeprefix(top) for name in names]
    expected = repr(answers(str(vcd), names, bool(top))).replace("'" + top, "'")
    assert repr(answers(str(fst), fst_names, bool(top))) == expected
    if top:
        return
    report = extended.compare(str(vcd), str(fst))
    assert (report["passed"], report["signals_only_in_file1"], report["signals_only_in_file2"]) \
        == (True, [], [])


@pytest.mark.parametrize("fst", SIMULATED, ids=lambda p: p.name)
def test_simulator_fst_answers_as_its_vcd(fst):
    assert_same(fst.with_suffix(".vcd"), fst, TOP_SCOPES.get(fst.name, ""))


@pytest.mark.parametrize("packing", PACKINGS)
@pytest.mark.parametrize("vcd", CONVERTED, ids=lambda p: getattr(p, "name", p))
def test_converted_fst_answers_as_its_vcd(tmp_path, vcd, packing):
    if vcd == "long":
        vcd = tmp_path / "long.vcd"
        long_vcd(vcd)
    fst = tmp_path / "dump.fst"
    convert(vcd, fst, PACKINGS[packing])
    assert_same(vcd, fst)


def packed_as_long():
    """With zlib, a signal's run whose packed size is its size is still packed: only a size
    of 0 says a run is stored as it is. The run of `ii` here packs so."""
    ii = {0: 531, 2000: -998, 21000: -869, 27000: -508, 409614000: -294, 409657000: -782,
          1255311000: -894}
    d = {0: 0, 409630000: 1, 409650000: 0, 409676000: 1, 1255312000: 0}
    return ("$timescale 1ps $end\n$scope module top $end\n$var integer 32 % ii [31:0] $end\n"
            "$var wire 1 d d $end\n$upscope $end\n$enddefinitions $end\n" +
            "".join(f"#{t}\n" + (f"b{ii[t] % 2**32:b} %\n" if t in ii else "") +
                    (f"{d[t]}d\n" if t in d else "") for t in sorted({*ii, *d}))).encode()


@pytest.mark.parametrize("text, packing", [
    (packed_as_long(), "-Z"),
    # A name that is not UTF-8 gets the replacement character, as in the VCD.
    (b"$timescale 1ns $end\n$scope module top $end\n$var wire 1 ! a\xb1 $end\n$upscope $end\n"
     b"$enddefinitions $end\n#0\n1!\n", "-4"),
], ids=["zlib run as long as packed", "name not UTF-8"])
def test_conversions_that_once_read_otherwise(tmp_path, text, packing):
    vcd, fst = tmp_path / "dump.vcd", tmp_path / "dump.fst"
    vcd.write_bytes(text)
    convert(vcd, fst, packing)
    assert_same(vcd, fst)


def test_compare_of_fst_and_vcd_finds_the_changed_bit(tmp_path):
    fst = tmp_path / "counter.fst"
    convert(REPO / "examples" / "counter.vcd", fst, "-4")
    changed = str(REPO / "examples" / "counter_changed.vcd")
    expected = extended.compare(str(REPO / "examples" / "counter.vcd"), changed)
    assert dict(extended.compare(str(fst), changed), file1=None) == dict(expected, file1=None)


def test_damaged_and_cut_fst_files_are_errors(tmp_path):
    fst = tmp_path / "counter.fst"
    convert(REPO / "examples" / "counter.vcd", fst, "-Z")
    data = fst.read_bytes()
    cut = tmp_path / "cut.fst"
    for size in range(9, len(data), 7):
        cut.write_bytes(data[:size])
        with pytest.raises(RuntimeError):
            extended.metadata(str(cut))
            extended.extract(str(cut), ["tb.count[3:0]"])
    cut.write_bytes(data[:-30] + bytes(30))
    with pytest.raises(RuntimeError, match="^I/O error: damaged FST file: hierarchy$"):
        extended.list_signals(str(cut))
    # The first value-change block follows the header; its last words size its time table.
    end = 330 + 1 + int.from_bytes(data[331:339], "big")
    cut.write_bytes(data[:end - 16] + b"\xff" * 8 + data[end - 8:])
    with pytest.raises(RuntimeError, match="^I/O error: damaged FST file: time table$"):
        extended.metadata(str(cut))


@pytest.mark.parametrize("timezero, times",
                         [(100, [105, 110, 115]), (-5, [0, 5, 10]), (-6, None)])
def test_timezero_shifts_the_times(tmp_path, timezero, times):
    vcd = tmp_path / "tz.vcd"
    vcd.write_text(f"$timescale 1 ns $end\n$timezero {timezero} $end\n$scope module t $end\n"
                   "$var wire 1 ! c $end\n$upscope $end\n$enddefinitions $end\n"
                   "#5\n0!\n#10\n1!\n#15\n0!\n")
    fst = tmp_path / "tz.fst"
    convert(vcd, fst, "-4")
    if times is None:
        with pytest.raises(RuntimeError, match=r"FST time 5 shifted by its \$timezero -6 is out"):
            extended.metadata(str(fst))
        return
    assert [r["time"] for r in extended.extract(str(fst), ["t.c"], start=times[0])] == times
    assert extended.metadata(str(fst))["end_time"] == times[-1]


def test_fst_through_a_pipe_answers_as_its_file(tmp_path, monkeypatch):
    """The stream is copied to a temporary file in $TMPDIR, the reader reading out of order."""
    fst = tmp_path / "counter.fst"
    convert(REPO / "examples" / "counter.vcd", fst, "-4")
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)

    def through_fifo(call, size=0):
        # A process of its own writes: the call holds the interpreter lock.
        size = size or fst.stat().st_size
        writer = subprocess.Popen(["sh", "-c", f'head -c {size} "$0" > "$1"', fst, fifo])
        try:
            return call(str(fifo))
        finally:
            writer.wait(timeout=60)
    calls = [extended.metadata, lambda p: extended.extract(p, ["tb.count[3:0]"], 100, 200),
             lambda p: extended.compare(p, str(fst))["passed"]]
    assert [through_fifo(call) for call in calls] == [call(str(fst)) for call in calls]
    with pytest.raises(RuntimeError, match="^I/O error: FST file cut short$"):
        through_fifo(extended.metadata, 200)
    monkeypatch.setenv("TMPDIR", str(tmp_path / "absent"))
    with pytest.raises(RuntimeError, match="^I/O error: FST file through a pipe, copied to a "
                       f"temporary file in {tmp_path}/absent: No such file"):
        through_fifo(extended.metadata)


def test_blocks_read_ahead_on_threads_answer_as_one_thread(monkeypatch):
    """Windows that start and end inside blocks, and find's match in a later block, where the
    blocks read ahead are let go and the rest is read on the calling thread."""
    path = str(DATA / "icarus_blocks.fst")
    names = extended.list_signals(path)
    calls = [lambda: extended.extract(path, names, 40, 120),
             lambda: extended.toggles(path, names, 60, 170), lambda: extended.metadata(path),
             lambda: extended.find(path, "tb.clk", "1", 15), lambda: extended.toggles(path, names),
             lambda: extended.compare(path, path.replace(".fst", ".vcd"))["passed"]]
    monkeypatch.setenv("QUARNEL_THREADS", "1")
    expected = outcomes(calls)
    monkeypatch.setenv("QUARNEL_THREADS", "3")
    assert outcomes(calls) == expected


@pytest.mark.parametrize("text", [b"\xfe\x00tb", b"\xfe\x00tb\x00", b"\xfc\x00\x01a\x00",
                                  b"\x05\x00", b"\xff"])
def test_a_hierarchy_cut_inside_an_entry_is_damaged(tmp_path, text):
    """Entries cut short in a hierarchy whose packing is sound: a scope without its name or
    component, an attribute without its value, a variable without its name, an upscope too many."""
    data = bytearray()
    converted = tmp_path / "counter.fst"
    convert(REPO / "examples" / "counter.vcd", converted, "-4")
    rest = converted.read_bytes()
    while rest:
        kind, size = rest[0], int.from_bytes(rest[1:9], "big")
        if kind in (4, 6, 7):  # the hierarchy, packed with gzip, LZ4 or LZ4 twice
            payload = len(text).to_bytes(8, "big") + gzip.compress(text)
            rest = bytes([4]) + (len(payload) + 8).to_bytes(8, "big") + payload + rest[1 + size:]
            size = len(payload) + 8
        data += rest[:1 + size]
        rest = rest[1 + size:]
    (tmp_path / "cut.fst").write_bytes(data)
    with pytest.raises(RuntimeError, match="^I/O error: damaged FST file: hierarchy$"):
        extended.list_signals(str(tmp_path / "cut.fst"))

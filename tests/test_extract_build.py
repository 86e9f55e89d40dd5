"""How extract builds its result: the dicts against a model of the dump over every kind of
value, their independence from one another, and the garbage collector's state, which the
call pauses while it builds and must leave as it found it on every way out."""

import gc
import random
import signal
import struct

import pytest

import quarnel

HEAD = """\
$timescale 1 ns $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 1 ! clk_alias $end
$var wire 8 " byte [7:0] $end
$var wire 64 # word [63:0] $end
$var wire 65 $ wide [64:0] $end
$var wire 128 % quad [127:0] $end
$var wire 130 & huge [129:0] $end
$var real 64 ' r $end
$var string 1 ( s $end
$upscope $end
$enddefinitions $end
"""
CODES = {"top.clk": ("!", 1), "top.clk_alias": ("!", 1), "top.byte[7:0]": ('"', 8),
         "top.word[63:0]": ("#", 64), "top.wide[64:0]": ("$", 65), "top.quad[127:0]": ("%", 128),
         "top.huge[129:0]": ("&", 130), "top.r": ("'", None), "top.s": ("(", None)}


def real_text(value):
    """The display text of a real, from repr's shortest digits."""
    if value != value:
        return "NaN"
    if value in (float("inf"), float("-inf")):
        return "inf" if value > 0 else "-inf"
    digits = repr(value)
    if "e" not in digits and "E" not in digits:
        return digits[:-2] if digits.endswith(".0") else digits
    from decimal import Decimal
    text = format(Decimal(digits), "f")
    return text[:-2] if text.endswith(".0") else text


def random_dump(seed, steps=3000):
    """A body with every kind of change, many repeated values and timestamps; returns the
    text and the model's changes as (code, time, value text)."""
    rng = random.Random(seed)
    lines, changes = [], []
    seen = {}  # width -> bits written before, so that values recur

    def vector(width):
        earlier = seen.setdefault(width, [])
        if earlier and rng.random() < 0.4:
            bits = rng.choice(earlier)
        elif rng.random() < 0.1:
            bits = "".join(rng.choice("01xzXZ") for _ in range(width))
        else:
            bits = "".join(rng.choice("01") for _ in range(width))
            if rng.random() < 0.5:
                bits = bits.lstrip("0") or "0"  # as simulators write them
        earlier.append(bits)
        # The vector as written decides, not the declared width.
        if set(bits) <= {"0", "1"} and len(bits) <= 128:
            return bits, str(int(bits, 2))
        return bits, bits.lower()

    time = 0
    for _ in range(steps):
        if rng.random() < 0.6:
            time += rng.choice([1, 1, 2, 5, 1000, 2**33])
            lines.append(f"#{time}")
        code, width = rng.choice(list(CODES.values()))
        if code == "!":
            v = rng.choice("01xzXZ")
            lines.append(f"{v}!")
            changes.append((code, time, v.lower()))
        elif code == "'":
            value = rng.choice([0.0, -0.0, 2.5, 1e21, 1.5e-7, 0.1, float("inf"), -float("inf"),
                                float("nan"), rng.uniform(-1e6, 1e6),
                                struct.unpack("d", struct.pack("Q", rng.getrandbits(62)))[0]])
            lines.append(f"r{value!r} '")
            changes.append((code, time, real_text(value)))
        elif code == "(":
            value = rng.choice(["idle", "RUN", "Run", "x", "0", "\u00e9", "a" * 70])
            lines.append(f"s{value} (")
            changes.append((code, time, value))
        else:
            bits, text = vector(width)
            lines.append(f"b{bits} {code}")
            changes.append((code, time, text))
    return HEAD + "\n".join(lines) + "\n", changes


def model(changes, names):
    return [{"signal": name, "time": time, "value": value}
            for code, time, value in changes
            for name in names if CODES[name][0] == code]


@pytest.mark.parametrize("seed", range(6))
def test_records_match_the_model(vcd, seed):
    text, changes = random_dump(seed)
    path = vcd(text)
    names = list(CODES) + ["top.clk", "top.quad[127:0]"]
    got = quarnel.extract(path, names)
    assert got == model(changes, names)
    assert all(type(d) is dict and list(d) == ["signal", "time", "value"] for d in got)
    assert all(type(d["time"]) is int and type(d["value"]) is str for d in got)


def test_records_are_independent_dicts(vcd):
    path = vcd(HEAD + "#1\n1!\nb101 \"\n#2\n1!\nb101 \"\n")
    got = quarnel.extract(path, ["top.clk", "top.byte[7:0]", "top.clk"])
    assert len({id(d) for d in got}) == len(got) == 6
    got[0]["value"] = "changed"
    got[0]["extra"] = 1
    del got[1]["time"]
    assert got[2:] == [
        {"signal": "top.byte[7:0]", "time": 1, "value": "5"},
        {"signal": "top.clk", "time": 2, "value": "1"},
        {"signal": "top.clk", "time": 2, "value": "1"},
        {"signal": "top.byte[7:0]", "time": 2, "value": "5"},
    ]
    again = quarnel.extract(path, ["top.clk", "top.byte[7:0]", "top.clk"])
    assert again[0] == {"signal": "top.clk", "time": 1, "value": "1"}


@pytest.fixture
def collector():
    """Leaves the collector as the test found it."""
    was = gc.isenabled()
    yield
    if was:
        gc.enable()
    else:
        gc.disable()


@pytest.mark.parametrize("enabled", [True, False])
def test_collector_state_is_kept_on_success_and_errors(vcd, collector, enabled):
    good = vcd(HEAD + "#1\n1!\n#2\n0!\n")
    bad_body = vcd(HEAD + "#1\n1!\nq\n")
    (gc.enable if enabled else gc.disable)()
    assert quarnel.extract(good, ["top.clk"])
    assert gc.isenabled() is enabled
    with pytest.raises(RuntimeError, match="signals not found"):
        quarnel.extract(good, ["top.nope"])
    assert gc.isenabled() is enabled
    with pytest.raises(RuntimeError, match="I/O error"):
        quarnel.extract(bad_body, ["top.clk"])
    assert gc.isenabled() is enabled
    with pytest.raises(RuntimeError, match="I/O error"):
        quarnel.extract(str(vcd(HEAD)) + ".missing", ["top.clk"])
    assert gc.isenabled() is enabled


class Stop(Exception):
    pass


def test_collector_state_is_kept_when_a_signal_handler_raises(tmp_path, collector):
    path = tmp_path / "long.vcd"
    with open(path, "wb") as f:
        f.write(HEAD.encode())
        f.write(b"#1\n1!\n0!\n" * (20 * 2**20 // 9))

    def stop(signum, frame):
        raise Stop

    previous = signal.signal(signal.SIGALRM, stop)
    try:
        for enabled in (True, False):
            (gc.enable if enabled else gc.disable)()
            signal.setitimer(signal.ITIMER_REAL, 0.05)
            with pytest.raises(Stop):
                quarnel.extract(str(path), ["top.clk"])
            assert gc.isenabled() is enabled
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def test_no_collection_runs_while_records_are_built(vcd):
    """Collections would run Python code (the callbacks) in the middle of the build."""
    path = vcd(HEAD + "".join(f"#{t}\n{t % 2}!\n" for t in range(50000)))
    during = []
    inside = [False]
    callback = lambda phase, info: during.append(inside[0])  # noqa: E731
    gc.callbacks.append(callback)
    try:
        inside[0] = True
        # The flag is only read by collections; the call itself runs no Python code.
        got = quarnel.extract(path, ["top.clk", "top.clk_alias"])
        inside[0] = False
    finally:
        gc.callbacks.remove(callback)
    assert len(got) == 100000
    assert not any(during)

"""The verification flow of examples/uart: the dump of a serial transmitter checked against the
golden dump of its reference model, as a CI job checks a simulation after every change."""

import shutil
import subprocess
import sysconfig
from pathlib import Path

import pytest

import quarnel

UART = Path(__file__).resolve().parent.parent / "examples" / "uart"
DESIGN = str(UART / "uart_tx.vcd")
GOLDEN = str(UART / "uart_tx_golden.vcd")
FAULTY = str(UART / "uart_tx_msb_first.vcd")  # the design with its bits sent in reverse order
DUMPS = {"design": DESIGN, "golden": GOLDEN}

SIGNALS = ["tb.busy", "tb.clk", "tb.data[7:0]", "tb.rst", "tb.start", "tb.tx"]
BIT = 40  # ns per bit: 4 clocks of 10 ns
SENT = [0x55, 0xA3]  # the bytes the testbench sends


def frame_starts(path):
    """The times at which busy rises, each the start of a frame."""
    starts = []
    while (hit := quarnel.find(path, "tb.busy", "1", occurrence=len(starts) + 1))["found"]:
        starts.append(hit["time"])
    return starts


def line_level(path, time):
    """The value of tb.tx at `time`: that of its last change at or before it."""
    return quarnel.extract(path, ["tb.tx"], end=time)[-1]["value"]


def decode(path, start):
    """The byte of the frame starting at `start`, sampling the line in the middle of each bit."""
    bits = [line_level(path, start + BIT * n + BIT // 2) for n in range(10)]
    assert (bits[0], bits[9]) == ("0", "1"), f"framing error: {bits}"
    return int("".join(reversed(bits[1:9])), 2)


@pytest.mark.parametrize("path", DUMPS.values(), ids=DUMPS.keys())
def test_frames_carry_the_bytes_sent(path):
    starts = frame_starts(path)
    assert [decode(path, start) for start in starts] == SENT
    # The start bit begins with the frame, one clock after start is raised with the byte.
    assert quarnel.find(path, "tb.tx", "0")["time"] == starts[0]
    offered = quarnel.find(path, "tb.data[7:0]", "0x55")
    assert offered["time"] == quarnel.find(path, "tb.start", "1")["time"] == starts[0] - 5


@pytest.mark.parametrize("path", DUMPS.values(), ids=DUMPS.keys())
def test_frame_timing(path):
    start = frame_starts(path)[0]
    # busy falls for the 2nd time (the 1st is the reset) after 10 bits of 4 clocks each.
    end = quarnel.find(path, "tb.busy", "0", occurrence=2)["time"]
    assert end - start == 10 * BIT
    assert quarnel.toggles(path, ["tb.clk"], start, end) == {"tb.clk": 2 * 10 * 4}
    # 0x55 sent least significant bit first alternates 1 and 0, so every bit edge is a toggle.
    assert quarnel.toggles(path, ["tb.tx"], start, end) == {"tb.tx": 9}
    assert not quarnel.find(path, "tb.tx", "x", start=start)["found"]


def test_design_matches_the_golden_dump():
    result = quarnel.compare(GOLDEN, DESIGN)
    assert result["passed"], result["mismatches"][:5]
    assert result["common_signals"] == SIGNALS
    assert result["signals_only_in_file1"] == result["signals_only_in_file2"] == []


def test_fault_is_caught():
    result = quarnel.compare(GOLDEN, FAULTY, max_mismatches=1)
    assert not result["passed"]
    assert result["signals_with_mismatches"] == 1
    # The first data bit of 0x55 is 1, which the faulty design sends last.
    assert result["mismatches"] == [
        {"signal": "tb.tx", "time": 35 + BIT, "value1": "1", "value2": "0", "is_unknown": False}]
    assert [decode(FAULTY, start) for start in frame_starts(FAULTY)] == [0xAA, 0xC5]


@pytest.mark.parametrize("path, status", [(DESIGN, 0), (FAULTY, 1)], ids=["design", "faulty"])
def test_ci_gate(path, status):
    script = Path(sysconfig.get_path("scripts")) / "quarnel"
    result = subprocess.run([script, "compare", GOLDEN, path, "--max-mismatches", "3"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert (result.returncode, result.stderr) == (status, "")
    assert result.stdout.startswith("passed: " if status == 0 else "FAILED: ")


@pytest.mark.skipif(shutil.which("iverilog") is None, reason="needs Icarus Verilog")
def test_committed_dumps_are_what_the_sources_simulate_to(tmp_path):
    subprocess.run(["sh", str(UART / "regenerate.sh"), str(tmp_path)], check=True)
    for committed in (DESIGN, GOLDEN, FAULTY):
        fresh = str(tmp_path / Path(committed).name)
        assert quarnel.metadata(fresh) == quarnel.metadata(committed)
        assert quarnel.extract(fresh, SIGNALS) == quarnel.extract(committed, SIGNALS)

"""The verification flow of examples/uart: the dump of a serial transmitter checked against the
golden dump of its reference model, as a CI job checks a simulation after every change."""

from pathlib import Path

import pytest

import quarnel

UART = Path(__file__).resolve().parent
GOLDEN, DESIGN, FAULTY = (str(UART / f"uart_tx{n}.vcd") for n in ("_golden", "", "_msb_first"))
BIT = 40  # ns per bit: 4 clocks of 10 ns
# What the design must reproduce of its model.
SIGNALS = ["tb.tx", "tb.busy", "tb.data[7:0]"]


def compare_with_golden(design, signals=SIGNALS, **options):
    """quarnel.compare of the golden dump and the design's on ``signals``. compare() compares
    the signals that both dumps declare and passes when there are none, so a misspelt name
    would shrink the check without a word: each name must be in both dumps."""
    result = quarnel.compare(GOLDEN, design, signals=signals, **options)
    missing = sorted(set(signals) - set(result["common_signals"]))
    assert not missing, f"not declared in both dumps: {missing}"
    return result


@pytest.mark.parametrize("path, sent, edges", [
    (GOLDEN, [0x55, 0xA3], 9), (DESIGN, [0x55, 0xA3], 9), (FAULTY, [0xAA, 0xC5], 7)])
def test_frames_and_timing(path, sent, edges):
    """Each frame starts when busy rises; the line is sampled in the middle of each bit."""
    starts = [quarnel.find(path, "tb.busy", "1", occurrence=n)["time"] for n in (1, 2, 3)]
    assert starts[2] is None
    for start, byte in zip(starts, sent):
        bits = [quarnel.extract(path, ["tb.tx"], end=start + BIT * i + BIT // 2)[-1]["value"]
                for i in range(10)]
        assert (bits[0], bits[9], int("".join(reversed(bits[1:9])), 2)) == ("0", "1", byte)
    end = quarnel.find(path, "tb.busy", "0", occurrence=2)["time"]  # the 1st is the reset
    assert end - starts[0] == 10 * BIT
    assert quarnel.toggles(path, ["tb.clk", "tb.tx"], starts[0], end) == {"tb.clk": 80,
                                                                          "tb.tx": edges}
    assert quarnel.find(path, "tb.data[7:0]", "0x55")["time"] == starts[0] - 5


def test_design_matches_the_golden_dump_and_the_fault_is_caught():
    assert compare_with_golden(DESIGN)["passed"]
    result = compare_with_golden(FAULTY, max_mismatches=1)
    assert (result["passed"], result["signals_with_mismatches"]) == (False, 1)
    # The first data bit of 0x55 is 1, which the faulty design sends last.
    assert result["mismatches"] == [
        {"signal": "tb.tx", "time": 35 + BIT, "value1": "1", "value2": "0", "is_unknown": False}]


@pytest.mark.parametrize("signals", [["tb.tx", "tb.bsy"], ["tb.TX"]])
def test_a_name_not_in_both_dumps_fails_the_check(signals):
    assert quarnel.compare(GOLDEN, DESIGN, signals=signals)["passed"]  # what the check guards
    with pytest.raises(AssertionError, match="not declared in both dumps"):
        compare_with_golden(DESIGN, signals)

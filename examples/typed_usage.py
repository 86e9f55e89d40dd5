"""Every quarnel function with its result types, checked by mypy in strict mode.

quarnel ships type stubs (quarnel.pyi, installed beside the extension), so a type checker
knows the parameters of each function and the keys of each result dict:

    python -m mypy --strict examples/typed_usage.py
    python examples/typed_usage.py

The result types (VcdMetadata, TimeValue, FindResult, ComparisonResult, SignalMismatch) exist
only in the stubs, so they are imported for the type checker alone. quarnel_batch carries its
own annotations (and the py.typed marker).
"""

from __future__ import annotations

from pathlib import Path
from typing import TYPE_CHECKING

import quarnel
import quarnel.extended
import quarnel_batch

if TYPE_CHECKING:
    from quarnel import ComparisonResult, FindResult, SignalMismatch, TimeValue, VcdMetadata

VCD = str(Path(__file__).resolve().parent / "counter.vcd")


def describe(path: str) -> str:
    meta: VcdMetadata = quarnel.metadata(path)
    timescale = meta["timescale"] or "no timescale"
    span = f"from {meta['start_time']} to {meta['end_time']}"
    return f"{meta['signal_count']} signals {span} ({timescale})"


def first_rise(path: str, signal: str) -> int | None:
    result: FindResult = quarnel.find(path, signal, "1", occurrence=1, start=0)
    if result["found"]:
        return result["time"]  # an int here: testing "found" narrows the result type
    return None


def busiest(path: str, signals: list[str], end: int) -> str:
    counts: dict[str, int] = quarnel.toggles(path, signals, end=end)
    return max(counts, key=lambda name: counts[name])


def changes(path: str, signal: str) -> list[tuple[int, str]]:
    records: list[TimeValue] = quarnel.extract(path, (signal,), None, 100)
    return [(record["time"], record["value"]) for record in records]


def first_mismatch(result: ComparisonResult) -> SignalMismatch | None:
    return result["mismatches"][0] if result["mismatches"] else None


def failures(paths: list[str]) -> dict[str, str]:
    report: quarnel_batch.Report = quarnel_batch.metadata(paths, jobs=1)
    return {o.name: o.message for o in report.outcomes if o.status != quarnel_batch.PASSED}


def main() -> None:
    names: list[str] = quarnel.list_signals(VCD, filter="count")
    print(names)
    print(describe(VCD))
    print("read as the extended dialect:", quarnel.extended.metadata(VCD) == quarnel.metadata(VCD))
    print("clock rises first at", first_rise(VCD, "tb.clk"))
    print("busiest:", busiest(VCD, ["tb.clk", "tb.en", "tb.dut.count[3:0]"], end=200))
    print("count:", changes(VCD, "tb.count[3:0]"))
    result = quarnel.compare(VCD, VCD, signals=names, max_mismatches=1, ignore_unknown=True)
    passed: bool = result["passed"]
    print("compare with itself:", "passed" if passed else first_mismatch(result))
    print("failures:", failures([VCD, "nosuch.vcd"]))


if __name__ == "__main__":
    main()

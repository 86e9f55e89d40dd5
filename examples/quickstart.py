"""Quick tour of quarnel on the example dump shipped in this directory.

Run from the repository root after installing the package:

    python3 -m venv .venv && . .venv/bin/activate && python -m pip install . && python examples/quickstart.py
"""

from pathlib import Path

import quarnel

# quarnel takes paths as str (a pathlib.Path is refused with TypeError).
HERE = Path(__file__).resolve().parent
VCD = str(HERE / "counter.vcd")
CHANGED = str(HERE / "counter_changed.vcd")  # the same dump with one bit changed
COUNT = "tb.dut.count[3:0]"


def main() -> None:
    # Every declared signal, by full hierarchical name, in declaration order.
    print("signals: ", quarnel.list_signals(VCD))
    print("metadata:", quarnel.metadata(VCD))
    # The counter's changes between times 100 and 130, both included.
    for record in quarnel.extract(VCD, [COUNT], start=100, end=130):
        print(f"  t={record['time']:>4}  {record['signal']} = {record['value']}")
    print("toggles: ", quarnel.toggles(VCD, ["tb.clk", "tb.rst", COUNT]))
    # When does the counter read 10 (written here in hexadecimal)?
    print("find:    ", quarnel.find(VCD, COUNT, "0xA"))
    result = quarnel.compare(VCD, CHANGED)
    print("compare: ", "passed" if result["passed"] else "FAILED", result["mismatches"])


if __name__ == "__main__":
    main()

"""Quick tour of quarnel on the example dump shipped in this directory.

Run from the repository root after installing the package:

    python -m pip install . && python examples/quickstart.py
"""

from pathlib import Path

import quarnel

# quarnel takes paths as str (a pathlib.Path is refused with TypeError).
VCD = str(Path(__file__).resolve().parent / "counter.vcd")


def main() -> None:
    # Every declared signal, by full hierarchical name, in declaration order.
    print(quarnel.list_signals(VCD))


if __name__ == "__main__":
    main()

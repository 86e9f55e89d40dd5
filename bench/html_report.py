#!/usr/bin/env python3
"""Times `quarnel compare --html` against `quarnel compare` on a large pair of dumps whose one
mismatch lies near the end, and reports the size of the page.

The dump comes from gen_vcd.py (made once, kept in bench/out/); its copy has one scalar value
flipped at the given fraction of the body. Each command is timed as a whole process, best of
--runs, interleaved; the ratio is the time the page adds over the time of the comparison.

    python bench/html_report.py --size 1G          # the issue's target: ratio <= 1.5, <= 2 MB
    python bench/html_report.py --size 64M --keep  # keeps the dumps for later runs
"""

from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent


def flip_near(source: Path, out: Path, fraction: float) -> int:
    """Copies ``source`` to ``out`` with the first scalar change after ``fraction`` of the
    file flipped; returns its offset."""
    shutil.copyfile(source, out)
    with open(out, "r+b") as file:
        file.seek(int(source.stat().st_size * fraction))
        window = file.read(1 << 20)
        hit = re.search(rb"\n([01])[!-~]+\n", window)
        if hit is None:
            raise SystemExit(f"{source}: no scalar change after {fraction:.0%}")
        at = int(source.stat().st_size * fraction) + hit.start(1)
        file.seek(at)
        file.write(b"1" if hit.group(1) == b"0" else b"0")
    return at


def timed(argv: list[str]) -> float:
    began = time.perf_counter()
    status = subprocess.run(argv, stdout=subprocess.DEVNULL).returncode
    if status != 1:
        raise SystemExit(f"{' '.join(argv)}: exit status {status}, expected 1 (a mismatch)")
    return time.perf_counter() - began


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--size", default="1G", help="size of the dump (gen_vcd.py --size)")
    parser.add_argument("--at", type=float, default=0.97, help="where the mismatch lies")
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--keep", action="store_true", help="keep the dumps in bench/out/")
    args = parser.parse_args()
    out = HERE / "out"
    out.mkdir(exist_ok=True)
    golden, new = out / f"html_{args.size}.vcd", out / f"html_{args.size}_late.vcd"
    page = out / "html_report.html"
    quarnel = shutil.which("quarnel") or sys.exit("quarnel is not on PATH: pip install . first")
    if not golden.exists():
        subprocess.run([sys.executable, str(HERE / "gen_vcd.py"), "--size", args.size, "--out",
                        str(golden)], check=True, stdout=subprocess.DEVNULL)
    offset = flip_near(golden, new, args.at)
    try:
        for path in (golden, new):  # into the page cache
            with open(path, "rb") as file:
                while file.read(1 << 24):
                    pass
        compare = [quarnel, "compare", str(golden), str(new)]
        plain, html = [], []
        for _ in range(args.runs):
            plain.append(timed(compare))
            html.append(timed([*compare, "--html", str(page)]))
        best, with_page = min(plain), min(html)
        size = page.stat().st_size
        print(f"dumps: {golden.stat().st_size:,} bytes each, mismatch at byte {offset:,} "
              f"({args.at:.0%})")
        print(f"compare: {best:.2f} s; compare --html: {with_page:.2f} s; the page adds "
              f"{with_page - best:.2f} s = {(with_page - best) / best:.2f} x compare; "
              f"page {size:,} bytes; load average {os.getloadavg()[0]:.1f}")
    finally:
        if not args.keep:
            for path in (golden, new, Path(f"{golden}.json")):
                path.unlink(missing_ok=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

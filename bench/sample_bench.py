"""Sampling at clock edges against toggles of the same signals, on the bench dump.

Generates the 1 GB bench dump (in $TMPDIR; deleted afterwards), then measures, each the best
of a few runs with the file in the page cache: sample of 10 signals at the rising edges of the
1-bit clock, read to its end through pyarrow one batch at a time, and toggles of the same 11
signals; each in a fresh process, whose peak resident memory is reported too. Prints a
Markdown table.

    python bench/sample_bench.py [--size 1G] [--runs 3]
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

# Run in a child process: times the call and reports its peak memory.
CHILD = r"""
import json, resource, sys, time
import pyarrow
import quarnel.extended as extended
path, clock, names, job = sys.argv[1], sys.argv[2], json.loads(sys.argv[3]), sys.argv[4]
began = time.perf_counter()
if job == "sample":
    rows = 0
    for batch in pyarrow.RecordBatchReader.from_stream(extended.sample(path, clock, names)):
        rows += batch.num_rows
else:
    rows = sum(extended.toggles(path, [clock, *names]).values())
seconds = time.perf_counter() - began
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({"seconds": seconds, "peak": peak, "rows": rows}))
"""


def measure(path, clock, names, job, runs):
    results = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", CHILD, path, clock, json.dumps(names), job],
                             check=True, stdout=subprocess.PIPE, text=True).stdout
        results.append(json.loads(out))
    return min(results, key=lambda r: r["seconds"])


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="1G", help="size of the dump (default 1G)")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args(argv)
    import quarnel.extended as extended

    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR")) as folder:
        path = os.path.join(folder, "bench.vcd")
        subprocess.run([sys.executable, os.path.join(HERE, "gen_vcd.py"), "--size", args.size,
                        "--out", path, "-q"], check=True)
        names = extended.list_signals(path)
        clock = "tb.clk" if "tb.clk" in names else next(n for n in names if n.endswith(".clk"))
        counts = extended.toggles(path, names[:200])
        busy = sorted((n for n in counts if n != clock), key=lambda n: -counts[n])[:10]
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # into the cache
        sample = measure(path, clock, busy, "sample", args.runs)
        toggles = measure(path, clock, busy, "toggles", args.runs)
        size = os.path.getsize(path)
    print(f"Dump of {size / 2**30:.2f} GiB, clock {clock}, {sample['rows']:,} rising edges, "
          f"{os.cpu_count()} cores\n")
    print("| job | seconds | peak memory (MB) | note |\n|---|---|---|---|")
    print(f"| sample of 10 at the rising edges | {sample['seconds']:.2f} | "
          f"{sample['peak'] / 2**20:.0f} | {sample['seconds'] / toggles['seconds']:.2f} x "
          f"toggles (target <= 1.5) |")
    print(f"| toggles of the 11 | {toggles['seconds']:.2f} | {toggles['peak'] / 2**20:.0f} | |")
    return 0


if __name__ == "__main__":
    sys.exit(main())

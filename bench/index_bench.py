"""Indexes: what they cost and what they save, on a dump of the bench design.

Generates a dump (10 GB by default; deleted afterwards), then measures, each the best of a few
runs with the file in the page cache: metadata without an index (the raw pace of a read), the
index build, and with the index value_at of 10 signals at the last time, extract of a short
window near the end and metadata; without it, value_at and toggles of the same signals. Also
reports the size of the index of a dump of 1,000,000 signals. Prints a Markdown table.

    python bench/index_bench.py [--size 10G] [--signals-dump-size 256M] [--runs 3] [--dump PATH]

With --dump, an existing dump of the bench design is measured instead (and kept), so that two
builds can be measured on the same file.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time

import quarnel.extended as extended

HERE = os.path.dirname(os.path.abspath(__file__))


def best(call, runs):
    times = []
    for _ in range(runs):
        began = time.perf_counter()
        result = call()
        times.append(time.perf_counter() - began)
    return min(times), result


def best_of_both(first, second, runs):
    """Each call's best time, the runs taken in turns, so that both meet the same load and the
    same page cache."""
    times = ([], [])
    results = [None, None]
    for _ in range(runs):
        for i, call in enumerate((first, second)):
            began = time.perf_counter()
            results[i] = call()
            times[i].append(time.perf_counter() - began)
    return (min(times[0]), results[0]), (min(times[1]), results[1])


def generate(path, size, *options):
    subprocess.run([sys.executable, os.path.join(HERE, "gen_vcd.py"), "--size", size, "--out",
                    path, "-q", *options], check=True)


def without_index(call):
    """Runs call() with no index to be found."""
    saved = os.environ.get("QUARNEL_INDEX_DIR")
    with tempfile.TemporaryDirectory() as empty:
        os.environ["QUARNEL_INDEX_DIR"] = empty
        try:
            return call()
        finally:
            if saved is None:
                del os.environ["QUARNEL_INDEX_DIR"]
            else:
                os.environ["QUARNEL_INDEX_DIR"] = saved


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="10G", help="size of the main dump (default 10G)")
    parser.add_argument("--signals-dump-size", default="256M",
                        help="size of the dump of 1,000,000 signals (default 256M)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--dump", help="measure this dump instead of generating one")
    args = parser.parse_args(argv)
    os.environ.pop("QUARNEL_INDEX_DIR", None)
    rows = []
    with tempfile.TemporaryDirectory(dir=os.environ.get("TMPDIR")) as folder:
        path = args.dump or os.path.join(folder, "bench.vcd")
        if not args.dump:
            generate(path, args.size)
        dump_bytes = os.path.getsize(path)
        names = extended.list_signals(path)[:10]
        subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # into the cache
        (meta_plain, meta), (build, built) = best_of_both(
            lambda: without_index(lambda: extended.metadata(path)),
            lambda: extended.index(path), args.runs)
        last = meta["end_time"]
        meta_indexed, _ = best(lambda: extended.metadata(path), args.runs)
        value_indexed, values = best(lambda: extended.value_at(path, names, last), args.runs)
        extract_indexed, records = best(
            lambda: extended.extract(path, names, max(last - 1000, 0), last), args.runs)
        (value_plain, plain_values), (toggles_plain, _) = best_of_both(
            lambda: without_index(lambda: extended.value_at(path, names, last)),
            lambda: without_index(lambda: extended.toggles(path, names)), args.runs)
        assert values == plain_values
        assert records == without_index(
            lambda: extended.extract(path, names, max(last - 1000, 0), last))
        rows += [
            ("metadata, no index (the read)", meta_plain, ""),
            ("index build", build, f"{build / meta_plain:.2f} x metadata (target <= 1.2)"),
            ("index size", None, f"{built['bytes']:,} B = {built['bytes'] / dump_bytes:.4%} of "
                                 f"the dump (target <= 1%)"),
            ("metadata, index", meta_indexed, "target <= 10 ms"),
            ("value_at of 10 at the end, index", value_indexed, "target <= 50 ms"),
            ("extract of 1000 ticks at the end, index", extract_indexed, "target <= 50 ms"),
            ("value_at of 10 at the end, no index", value_plain,
             f"{value_plain / toggles_plain:.2f} x toggles (target <= 1)"),
            ("toggles of the 10, no index", toggles_plain, ""),
        ]
        if not args.dump:
            os.remove(path)
        os.remove(built["index"])

        wide = os.path.join(folder, "wide.vcd")
        generate(wide, args.signals_dump_size, "--signals", "1000000")
        wide_built = extended.index(wide)
        wide_bytes = os.path.getsize(wide)
        rows.append(("index size, 1,000,000 signals", None,
                     f"{wide_built['bytes']:,} B = {wide_built['bytes'] / wide_bytes:.3%} of a "
                     f"{wide_bytes / 2**20:.0f} MiB dump, {wide_built['snapshots']} snapshots"))
    print(f"Dump of {dump_bytes / 2**30:.1f} GiB, {meta['signal_count']} signals, "
          f"{os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f} at the end\n")
    print("| measure | seconds | note |\n|---|---|---|")
    for label, seconds, note in rows:
        print(f"| {label} | {'' if seconds is None else f'{seconds:.4f}'} | {note} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())

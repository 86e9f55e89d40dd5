#!/usr/bin/env python3
"""quarnel benchmark: one run, the same page-cached files, every job against `wc -l` and peers.

Prepares (or reuses) the dumps in bench/out/, reads them all once so they sit in the page
cache, then times each job as the best of several runs, each run in a fresh process so that
its peak RSS can be measured (growth of VmHWM over the process after importing the library).
Writes bench/results.md and bench/results.png and prints the same tables.

    bench/.venv/bin/python bench/run.py            # full run: 1 GB main dump
    bench/.venv/bin/python bench/run.py --quick    # one run of each job on small files

See bench/README.md for what each table means.
"""

from __future__ import annotations

import argparse
import datetime
import json
import os
import platform
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from gen_vcd import FORMAT_VERSION, parse_size  # noqa: E402

PEERS = ("pyvcd", "vcdvcd", "pywellen")
MiB = 1 << 20
CORES = len(os.sched_getaffinity(0))
GB = 1e9


def size_label(n: int) -> str:
    for unit, scale in (("G", 1 << 30), ("M", 1 << 20), ("k", 1 << 10)):
        if n >= scale and n % scale == 0:
            return f"{n // scale}{unit}"
    return str(n)


def human_bytes(n: float) -> str:
    for unit, scale in (("GB", 1e9), ("MB", 1e6), ("kB", 1e3)):
        if n >= scale:
            return f"{n / scale:.3g} {unit}"
    return f"{n:.0f} B"


def log(msg: str) -> None:
    print(msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------------------------
# Inputs


class Inputs:
    def __init__(self, args):
        self.args = args
        self.out = args.out_dir
        os.makedirs(self.out, exist_ok=True)

    def gen(self, name: str, extra_args: list[str], want: dict) -> str:
        path = os.path.join(self.out, name)
        meta = path + ".json"
        if os.path.exists(path) and os.path.exists(meta):
            with open(meta) as f:
                have = json.load(f).get("args", {})
            want = dict(want, format=FORMAT_VERSION)
            if all(have.get(k, 1 if k == "format" else None) == v for k, v in want.items()):
                return path
        log(f"generating {name} ...")
        subprocess.run([sys.executable, os.path.join(HERE, "gen_vcd.py"), *extra_args,
                        "--seed", str(self.args.seed), "--out", path], check=True)
        return path

    def body(self, size: int, extra: int = 0) -> str:
        name = f"gen_{size_label(size)}" + (f"_x{extra}" if extra else "") + ".vcd"
        return self.gen(name, ["--size", str(size), "--extra-signals", str(extra)],
                        {"size": size, "extra_signals": extra, "seed": self.args.seed,
                         "header_only_signals": None})

    def mutated(self, src: str) -> str:
        name = os.path.basename(src)[:-4] + "_mut.vcd"
        k = self.args.mutations
        return self.gen(name, ["--mutate", str(k), "--source", src],
                        {"mutate": k, "source": os.path.basename(src), "seed": self.args.seed})

    def compressed(self, path: str) -> tuple[str, str]:
        """gzip (level 6) and zstd (level 3) copies of `path`, made once."""
        made = []
        for suffix, command in ((".gz", ["gzip", "-6", "-c"]),
                                (".zst", ["zstd", "-3", "-q", "-c"])):
            out = path + suffix
            if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(path):
                log(f"compressing {os.path.basename(out)} ...")
                with open(out + ".part", "wb") as f:
                    subprocess.run([*command, path], stdout=f, check=True)
                os.replace(out + ".part", out)
            made.append(out)
        return made[0], made[1]

    def header(self, n: int) -> str:
        return self.gen(f"header_{n}.vcd", ["--header-only-signals", str(n)],
                        {"header_only_signals": n, "seed": self.args.seed})

    def sim(self, cycles: int, fmt: str = "vcd") -> str | None:
        path = os.path.join(self.out, f"sim.{fmt}")
        stamp = path + ".cycles"
        if os.path.exists(path) and os.path.exists(stamp):
            with open(stamp) as f:
                if f.read().strip() == str(cycles):
                    return path
        log(f"simulating {cycles} cycles with Icarus Verilog ...")
        env = dict(os.environ, OUT_DIR=self.out, FORMAT=fmt)
        r = subprocess.run(["bash", os.path.join(HERE, "make_sim_dump.sh"), str(cycles)], env=env)
        if r.returncode != 0 or not os.path.exists(path):
            log("simulator dump not available (is iverilog installed?)")
            return None
        with open(stamp, "w") as f:
            f.write(str(cycles))
        return path


def file_info(path: str) -> dict:
    """Size and value-change count (from the generator's notes, else by counting lines)."""
    meta = path + ".json"
    if os.path.exists(meta):
        with open(meta) as f:
            info = json.load(f)
        return {"bytes": os.path.getsize(path), "changes": info["value_changes"],
                "requests": info.get("requests")}
    r = subprocess.run(["grep", "-c", "^[01xzXZbBrRsS]", path], capture_output=True, text=True)
    return {"bytes": os.path.getsize(path), "changes": int(r.stdout.strip() or 0),
            "requests": None}


def warm(paths) -> None:
    for p in paths:
        with open(p, "rb", buffering=0) as f:
            while f.read(16 << 20):
                pass


# ---------------------------------------------------------------------------------------------
# Measuring


def run_wc(path: str, timeout: float) -> dict:
    t0 = time.perf_counter()
    p = subprocess.Popen(["wc", "-l", path], stdout=subprocess.PIPE)
    _, status, ru = os.wait4(p.pid, 0)
    seconds = time.perf_counter() - t0
    out = p.stdout.read().decode()
    p.stdout.close()
    p.returncode = status
    # No RSS: a forked child's maxrss starts from the parent's, so it says nothing about wc.
    return {"status": "ok", "seconds": seconds, "rss_base": None, "rss_peak": None,
            "n": int(out.split()[0]), "summary": {}}


def run_shell(command: list[str], timeout: float) -> dict:
    """A command whose output goes to /dev/null, timed as a whole process."""
    t0 = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True, timeout=timeout)
    return {"status": "ok", "seconds": time.perf_counter() - t0, "rss_base": None,
            "rss_peak": None, "n": 0, "summary": {}}


def run_job(lib: str, job: str, params: dict, timeout: float, threads: int | None = None) -> dict:
    if lib == "wc":
        return run_wc(params["path"], timeout)
    if lib == "shell":
        return run_shell(params["command"], timeout)
    env = dict(os.environ, RUST_BACKTRACE="0")
    env.pop("QUARNEL_THREADS", None)
    if threads:
        env["QUARNEL_THREADS"] = str(threads)
    cmd = [sys.executable, os.path.join(HERE, "jobs.py"), lib, job, json.dumps(params)]
    try:
        r = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout, env=env)
    except subprocess.TimeoutExpired:
        return {"status": "timeout", "error": f"over {timeout:.0f} s"}
    lines = [ln for ln in r.stdout.splitlines() if ln.startswith("{")]
    if not lines:
        tail = (r.stderr.strip().splitlines() or ["no output"])[-1]
        return {"status": "error", "error": f"exit {r.returncode}: {tail}"[:300]}
    return json.loads(lines[-1])


def run_rounds(rows, runs: int, min_time: float, max_runs: int = 10) -> None:
    """Runs every row once per round, round after round, so that rows compared with one another
    see the same load on the machine. A row stops after `runs` runs once its runs add up to
    `min_time` seconds (else after `max_runs`), or once they add up to its budget, or at its
    first failure. Keeps the best time and the largest RSS growth."""
    state = {id(r): {"done": 0, "spent": 0.0, "best": None, "growth": 0} for r in rows}
    active = [r for r in rows if not r.result]
    while active:
        for r in list(active):
            st = state[id(r)]
            res = run_job(r.lib, r.job, r.params, r.timeout, r.threads)
            if res["status"] != "ok":
                r.result = res
                active.remove(r)
                log(f"  {r.group:9} {r.lib:8} {r.label:31} {os.path.basename(r.files[0])}: "
                    f"{r.status_text()}")
                continue
            st["done"] += 1
            st["spent"] += res["seconds"]
            if res["rss_peak"] is None or st["growth"] is None:
                st["growth"] = None
            else:
                st["growth"] = max(st["growth"], res["rss_peak"] - res["rss_base"])
            if st["best"] is None or res["seconds"] < st["best"]["seconds"]:
                st["best"] = res
            r.result = dict(st["best"], runs=st["done"], growth=st["growth"])
            enough = st["done"] >= runs and (st["spent"] >= min_time or st["done"] >= max_runs)
            if enough or st["spent"] >= r.budget:
                active.remove(r)
                log(f"  {r.group:9} {r.lib:8} {r.label:31} {os.path.basename(r.files[0])}: "
                    f"best {r.seconds:.3f} s of {st['done']}")


class Row:
    def __init__(self, group, label, lib, job, params, files, records, note="", timeout=900.0,
                 budget=60.0, threads=None):
        self.group, self.label, self.lib, self.job, self.params = group, label, lib, job, params
        self.threads = threads  # quarnel's QUARNEL_THREADS; None: every core
        self.timeout, self.budget = timeout, budget
        self.files = files  # paths read, for GB/s
        self.records = records  # None: use the job's own count
        self.note = note
        self.result: dict = {}

    def one_thread(self) -> Row:
        """The same job with the body read on one thread."""
        return Row(self.group, self.label, self.lib, self.job, self.params, self.files,
                   self.records, self.note, self.timeout, self.budget, threads=1)

    @property
    def ok(self):
        return self.result.get("status") == "ok"

    @property
    def seconds(self):
        return self.result["seconds"] if self.ok else None

    def bytes(self):
        return sum(os.path.getsize(p) for p in self.files)

    def n_records(self):
        return self.records if self.records is not None else self.result.get("n", 0)

    def gbps(self):
        return self.bytes() / self.seconds / GB if self.ok and self.seconds > 0 else None

    def rate(self):
        return self.n_records() / self.seconds if self.ok and self.seconds > 0 else None

    def growth_mib(self):
        g = self.result.get("growth")
        return g / MiB if self.ok and g is not None else None

    def status_text(self):
        s = self.result.get("status", "not run")
        if s == "ok":
            return ""
        err = self.result.get("error", "")
        return "n/a" if s == "n/a" else f"{s}: {err}"


# ---------------------------------------------------------------------------------------------
# Formatting


def fmt(x, form=".3g", none="n/a"):
    if x is None:
        return none
    return format(x, form)


def fmt_rate(x):
    if x is None:
        return "n/a"
    for unit, scale in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if x >= scale:
            return f"{x / scale:.3g} {unit}"
    return f"{x:.3g}"


def single_thread_row(rows, r):
    """The one-thread twin of a quarnel row read on every core, if measured."""
    if r.lib != "quarnel" or r.threads is not None:
        return None
    for x in rows:
        if x.threads == 1 and x.label == r.label and x.files == r.files:
            return x
    return None


def with_one_thread(rows):
    """Each streaming job on every core followed by its run on one thread."""
    out = []
    for r in rows:
        out.append(r)
        if r.job != "list_signals":
            out.append(r.one_thread())
    return out


def md_table(headers, rows) -> str:
    out = ["| " + " | ".join(headers) + " |",
           "|" + "|".join("---" if i == 0 else "---:" for i in range(len(headers))) + "|"]
    for r in rows:
        out.append("| " + " | ".join(str(c) for c in r) + " |")
    return "\n".join(out)


def job_table(rows: list[Row], wc: dict[str, Row], peer_rows=None, peers=()) -> str:
    headers = ["job", "threads", "file", "best s", "GB/s", "records/s", "peak RSS growth MiB",
               "× wc -l", "speed-up over 1 thread", "runs", "note"]
    q = (peer_rows or {}).get("quarnel")
    if q and peers:
        headers.insert(9, f"× faster than {' / '.join(peers)} (peer table)")
    out = []
    for r in rows:
        w = wc.get(r.files[0])
        ratio = r.seconds / w.seconds if r.ok and w is not None and w.ok else None
        note = r.note if r.ok else r.status_text()
        names = " + ".join(os.path.basename(p) for p in r.files)
        one = single_thread_row(rows, r)
        speedup = one.seconds / r.seconds if one and one.ok and r.ok else None
        threads = "" if r.lib != "quarnel" else r.threads or f"{CORES} (all)"
        out.append([r.label, threads, f"{names} ({human_bytes(r.bytes())})",
                    fmt(r.seconds, ".3f"), fmt(r.gbps(), ".3f"), fmt_rate(r.rate()),
                    fmt(r.growth_mib(), ".1f", "–"), fmt(ratio, ".2f") if r.lib != "wc" else "1",
                    fmt(speedup, ".2f", ""), r.result.get("runs", ""), note])
        if q and peers:
            cells = []
            for p in peers:
                x = None
                for i, qr in enumerate(q):
                    pr = peer_rows.get(p, [None] * len(q))[i]
                    if (qr.label == r.label and r.lib == "quarnel" and r.threads is None and qr.ok
                            and pr and pr.ok):
                        x = pr.seconds / qr.seconds
                cells.append(fmt(x, ".3g", "–"))
            out[-1].insert(9, " / ".join(cells) if r.lib == "quarnel" else "")
    return md_table(headers, out)


# ---------------------------------------------------------------------------------------------
# The benchmark


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true",
                    help="one run of each job on small files (64M main dump, 4M peer dump)")
    ap.add_argument("--runs", type=int, help="runs per job, the best is kept (default 3)")
    ap.add_argument("--size", type=parse_size, help="main dump size (default 1G)")
    ap.add_argument("--linearity-sizes", help="body sizes for the linearity check "
                    "(default 256M,512M,1G)")
    ap.add_argument("--peer-size", type=parse_size, help="dump for the peers (default 16M)")
    ap.add_argument("--header-signals", type=int,
                    help="signals declared in the list_signals header (default 1000000)")
    ap.add_argument("--extra-signals", type=int, help="declared but never requested signals "
                    "for the header-independence check (default 100000)")
    ap.add_argument("--compare-all-size", type=parse_size,
                    help="dump size for compare over all signals (default 64M)")
    ap.add_argument("--sim-cycles", type=int, help="cycles of the simulator dump "
                    "(default 250000, about 320 MB; 0 skips it)")
    ap.add_argument("--mutations", type=int, default=5, help="values changed in the copy "
                    "that compare reads (default 5)")
    ap.add_argument("--peers", default=",".join(PEERS), help="peers to run (comma list, or '')")
    ap.add_argument("--only", default="main,sim,linearity,header,peers,compressed,fst",
                    help="sections to run (default all: main,sim,linearity,header,peers,"
                    "compressed,fst)")
    ap.add_argument("--timeout", type=float, default=900, help="seconds per quarnel run")
    ap.add_argument("--peer-timeout", type=float, default=300, help="seconds per peer run")
    ap.add_argument("--budget", type=float, default=60,
                    help="stop repeating a job once its runs took this many seconds")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--out-dir", default=os.path.join(HERE, "out"))
    ap.add_argument("--results", help="report to write (default bench/results.md; with --only, "
                    "bench/out/results-partial.md)")
    ap.add_argument("--chart", help="chart to write (default bench/results.png; with --only, "
                    "bench/out/results-partial.png)")
    args = ap.parse_args(argv)
    partial = set(args.only.split(",")) != {"main", "sim", "linearity", "header", "peers",
                                            "compressed", "fst"}
    args.results = args.results or (os.path.join(args.out_dir, "results-partial.md") if partial
                                    else os.path.join(HERE, "results.md"))
    args.chart = args.chart or (os.path.join(args.out_dir, "results-partial.png") if partial
                                else os.path.join(HERE, "results.png"))
    q = args.quick
    args.runs = args.runs or (1 if q else 3)
    args.size = args.size or parse_size("64M" if q else "1G")
    lin = args.linearity_sizes or ("16M,32M,64M" if q else "256M,512M,1G")
    args.linearity_sizes = [parse_size(s) for s in lin.split(",") if s]
    args.peer_size = args.peer_size or parse_size("4M" if q else "16M")
    args.header_signals = args.header_signals or (200_000 if q else 1_000_000)
    args.extra_signals = args.extra_signals or (20_000 if q else 100_000)
    args.compare_all_size = args.compare_all_size or parse_size("16M" if q else "64M")
    if args.sim_cycles is None:
        args.sim_cycles = 20_000 if q else 250_000
    sections = set(args.only.split(","))
    peers = [p for p in args.peers.split(",") if p]
    started = time.time()
    load_before = os.getloadavg()

    # -- inputs
    inp = Inputs(args)
    main_vcd = inp.body(args.size)
    main_mut = inp.mutated(main_vcd)
    header_vcd = inp.header(args.header_signals)
    files = [main_vcd, main_mut, header_vcd]
    if "main" in sections:
        all_vcd = inp.body(args.compare_all_size)
        all_mut = inp.mutated(all_vcd)
        files += [all_vcd, all_mut]
    lin_files = {}
    if "linearity" in sections:
        for s in args.linearity_sizes:
            lin_files[s] = inp.body(s)
        files += list(lin_files.values())
    if "header" in sections:
        base_size = min(args.linearity_sizes)
        hdr_base = inp.body(base_size)
        hdr_wide = inp.body(base_size, args.extra_signals)
        files += [hdr_base, hdr_wide]
    if "peers" in sections:
        peer_vcd = inp.body(args.peer_size)
        peer_mut = inp.mutated(peer_vcd)
        files += [peer_vcd, peer_mut]
    if "compressed" in sections:
        main_gz, main_zst = inp.compressed(main_vcd)
    sim_vcd = inp.sim(args.sim_cycles) \
        if ("sim" in sections or "fst" in sections) and args.sim_cycles else None
    if sim_vcd:
        files.append(sim_vcd)
    sim_fst = inp.sim(args.sim_cycles, "fst") if "fst" in sections and sim_vcd else None
    files = list(dict.fromkeys(files))
    log("reading the inputs into the page cache ...")
    warm(files)
    info = {p: file_info(p) for p in files}

    def reqs(path):
        r = info[path]["requests"]
        if r is None:
            with open(os.path.join(HERE, "design", "requests.json")) as f:
                r = json.load(f)
        return r

    def body_rows(group, lib, path, path2, all1, all2, hdr):
        """The standard jobs on one dump."""
        r = reqs(path)
        ch = info[path]["changes"]
        params = {"path": path}
        rows = [
            Row(group, "metadata", lib, "metadata", params, [path], ch),
            Row(group, "toggles, 1 signal", lib, "toggles", dict(params, signals=r["one"]),
                [path], ch),
            Row(group, "toggles, 10 signals", lib, "toggles", dict(params, signals=r["ten"]),
                [path], ch),
            Row(group, "find, no match", lib, "find",
                dict(params, signal=r["find"]["signal"], value=r["find"]["value"]), [path], ch),
            Row(group, "extract, 1 signal", lib, "extract", dict(params, signals=r["one"]),
                [path], None, "records/s: dicts returned"),
            Row(group, "extract, 10 signals", lib, "extract", dict(params, signals=r["ten"]),
                [path], None, "records/s: dicts returned"),
        ]
        if lib == "quarnel" and group != "peers":  # the peer rows pair up by position
            for n in ("1", "10"):
                signals = r["one" if n == "1" else "ten"]
                rows += [Row(group, f"extract_table, {n} signal(s)", lib, "extract_table",
                             dict(params, signals=signals), [path], None,
                             "records/s: rows of the Arrow table, held whole"),
                         Row(group, f"extract + pandas.DataFrame, {n} signal(s)", lib,
                             "dataframe", dict(params, signals=signals), [path], None,
                             "records/s: rows of the DataFrame")]
        if path2:
            rows.append(Row(group, "compare, 10 signals", lib, "compare",
                            dict(params, path2=path2, signals=r["ten"]), [path, path2],
                            info[path]["changes"] + info[path2]["changes"],
                            "reads both files; × wc -l of one"))
        if all1:
            rows.append(Row(group, "compare, all signals", lib, "compare",
                            {"path": all1, "path2": all2, "signals": None}, [all1, all2],
                            info[all1]["changes"] + info[all2]["changes"],
                            "reads both files; × wc -l of one"))
        if hdr:
            rows.append(Row(group, f"list_signals, {info_signals(hdr):,} signals", lib,
                            "list_signals", {"path": hdr}, [hdr], None,
                            "records/s: names returned"))
        return rows

    def info_signals(path):
        with open(path + ".json") as f:
            return json.load(f)["declared_signals"]

    min_time = 0.0 if args.quick else 5.0

    def run(rows):
        run_rounds(rows, args.runs, min_time)

    def quarnel_rows(rows):
        for r in rows:
            r.timeout, r.budget = args.timeout, args.budget
        return rows

    wc_rows: dict[str, Row] = {}

    def wc_row(group, path):
        """`wc -l` of a file, the reference of every ratio, measured once per file."""
        if path not in wc_rows:
            wc_rows[path] = Row(group, "wc -l", "wc", "wc", {"path": path}, [path], None,
                                "records/s: lines", 600, 30)
        return wc_rows[path]

    # -- main dump
    main_rows = []
    if "main" in sections:
        log(f"main dump: {main_vcd}")
        refs = [wc_row("main", p) for p in dict.fromkeys((main_vcd, all_vcd, header_vcd))]
        rows = with_one_thread(quarnel_rows(body_rows("main", "quarnel", main_vcd, main_mut,
                                                      all_vcd, all_mut, header_vcd)))
        run(refs + rows)
        main_rows = refs[:1] + rows + refs[1:]

    # -- simulator dump
    sim_rows = []
    if sim_vcd and "sim" in sections:
        log(f"simulator dump: {sim_vcd}")
        refs = [wc_row("sim", sim_vcd)]
        rows = with_one_thread(quarnel_rows(body_rows("sim", "quarnel", sim_vcd, None, None,
                                                      None, None)))
        run(refs + rows)
        sim_rows = refs + rows

    # -- linearity: the same jobs over growing bodies
    lin_rows = {}
    if "linearity" in sections:
        log("linearity")
        todo = []
        for s, p in sorted(lin_files.items()):
            todo.append(wc_row("linearity", p))
            r = reqs(p)
            for label, job, params in (
                    ("metadata", "metadata", {"path": p}),
                    ("toggles, 1 signal", "toggles", {"path": p, "signals": r["one"]}),
                    ("find, no match", "find", {"path": p, "signal": r["find"]["signal"],
                                                "value": r["find"]["value"]})):
                row = Row("linearity", label, "quarnel", job, params, [p], info[p]["changes"],
                          timeout=args.timeout, budget=args.budget)
                todo.append(row)
                lin_rows[(s, label)] = row
        # Every size afresh and in the same rounds, so that all of them see the same load.
        run(todo)

    # -- header independence: same body, many more declared signals
    hdr_rows = {}
    if "header" in sections:
        log("header independence")
        todo = []
        for tag, p in (("base", hdr_base), ("wide", hdr_wide)):
            r = reqs(p)
            for label, job, params in (
                    ("toggles, 1 signal", "toggles", {"path": p, "signals": r["one"]}),
                    ("find, no match", "find", {"path": p, "signal": r["find"]["signal"],
                                                "value": r["find"]["value"]}),
                    ("header pass", "find", {"path": p, "signal": r["find"]["signal"],
                                             "value": r["find"]["value"], "end": 0})):
                row = Row("header", label, "quarnel", job, params, [p], info[p]["changes"],
                          timeout=args.timeout, budget=args.budget)
                todo.append(row)
                hdr_rows[(tag, label)] = row
        # Measured afresh, base and wide in the same rounds, so both see the same load.
        run(todo)

    # -- peers: the same jobs on a smaller dump
    peer_rows: dict[str, list[Row]] = {}
    if "peers" in sections:
        log(f"peers on {peer_vcd}")
        todo = [wc_row("peers", peer_vcd)]
        for lib in ["quarnel"] + peers:
            rows = body_rows("peers", lib, peer_vcd, peer_mut, peer_vcd, peer_mut, header_vcd)
            for r in rows:
                r.timeout = args.timeout if lib == "quarnel" else args.peer_timeout
                r.budget = args.budget if lib == "quarnel" else min(args.budget, 20)
            peer_rows[lib] = rows
            todo += rows
        run(todo)

    # -- compressed copies of the main dump, against their decompressors
    comp_rows = []
    if "compressed" in sections:
        log("compressed dumps")
        warm([main_gz, main_zst])
        ch = info[main_vcd]["changes"]
        comp_rows = [
            Row("compressed", "zcat > /dev/null", "shell", "shell",
                {"command": ["zcat", main_gz], "path": main_gz}, [main_gz], ch),
            Row("compressed", "zstd -dc > /dev/null", "shell", "shell",
                {"command": ["zstd", "-dc", main_zst], "path": main_zst}, [main_zst], ch),
        ] + quarnel_rows([
            Row("compressed", f"metadata, {name}", "quarnel", "metadata",
                {"path": path, "extended": True}, [path], ch)
            for name, path in (("plain", main_vcd), ("gzip", main_gz), ("zstd", main_zst))])
        run(comp_rows)

    # -- the simulator's dump as FST and as VCD, and pywellen on the FST
    fst_rows = []
    if sim_fst:
        log(f"FST dump: {sim_fst}")
        warm([sim_fst])
        r = reqs(sim_vcd)
        for label, job, extra in (("metadata", "metadata", {}),
                                  ("toggles, 1 signal", "toggles", {"signals": r["one"]}),
                                  ("toggles, 10 signals", "toggles", {"signals": r["ten"]}),
                                  ("extract, 1 signal", "extract", {"signals": r["one"]}),
                                  ("extract, 10 signals", "extract", {"signals": r["ten"]})):
            fst_rows += quarnel_rows([
                Row("fst", label, "quarnel", job, dict(extra, path=sim_vcd, extended=True),
                    [sim_vcd], None),
                Row("fst", label, "quarnel", job, dict(extra, path=sim_fst, extended=True),
                    [sim_fst], None)])
            if "pywellen" in peers:
                fst_rows.append(Row("fst", label, "pywellen", job, dict(extra, path=sim_fst),
                                    [sim_fst], None, timeout=args.peer_timeout,
                                    budget=min(args.budget, 20)))
        run(fst_rows)

    finished = time.time()
    report = build_report(args, info, main_rows, sim_rows, lin_rows, hdr_rows, peer_rows,
                          wc_rows, peers, started, finished, load_before, files,
                          comp_rows, fst_rows)
    print(report)
    with open(args.results, "w") as f:
        f.write(report)
    raw = {"args": {k: v for k, v in vars(args).items()},
           "rows": [dict(group=r.group, label=r.label, lib=r.lib, threads=r.threads,
                         files=r.files, result=r.result) for r in
                    main_rows + sim_rows + list(lin_rows.values()) + list(hdr_rows.values())
                    + [x for v in peer_rows.values() for x in v] + list(wc_rows.values())
                    + comp_rows + fst_rows]}
    with open(os.path.join(args.out_dir, "results.json"), "w") as f:
        json.dump(raw, f, indent=1, default=str)
    try:
        draw_chart(args.chart, main_rows, wc_rows, peer_rows, peers, args)
        log(f"wrote {args.results} and {args.chart}")
    except ImportError:
        log(f"wrote {args.results}; matplotlib is missing, so no chart (bench/setup_peers.sh)")
    return 0


# ---------------------------------------------------------------------------------------------
# Report


def machine_info() -> list[str]:
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    mem = ""
    try:
        with open("/proc/meminfo") as f:
            mem = f"{int(f.readline().split()[1]) / (1 << 20):.1f} GiB"
    except OSError:
        pass
    lines = [f"- CPU: {cpu}, {os.cpu_count()} logical cores; memory {mem}",
             f"- OS: {platform.system()} {platform.release()}; Python {platform.python_version()}"]
    versions = []
    try:
        import quarnel
        path = quarnel.__file__
        built = datetime.datetime.fromtimestamp(os.path.getmtime(path)).strftime("%Y-%m-%d %H:%M")
        versions.append(f"quarnel ({os.path.basename(path)}, built {built}, "
                        f"functions: {', '.join(quarnel.__all__)})")
    except ImportError:
        versions.append("quarnel not installed")
    from importlib.metadata import PackageNotFoundError, version
    for name in PEERS:
        try:
            versions.append(f"{name} {version(name)}")
        except PackageNotFoundError:
            versions.append(f"{name} not installed")
    lines.append("- Libraries: " + "; ".join(versions))
    try:
        rev = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"],
                             capture_output=True, text=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", ROOT, "status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True).stdout.strip()
        if rev:
            lines.append(f"- Source: commit {rev}" + (" with local changes" if dirty else ""))
    except OSError:
        pass
    return lines


def verdict(ok) -> str:
    return "n/a" if ok is None else ("PASS" if ok else "FAIL")


def build_report(args, info, main_rows, sim_rows, lin_rows, hdr_rows, peer_rows, wc_rows,
                 peers, started, finished, load_before, files, comp_rows=(),
                 fst_rows=()) -> str:
    now = datetime.datetime.fromtimestamp(started).strftime("%Y-%m-%d %H:%M")
    load_after = os.getloadavg()
    out = ["# quarnel benchmark results", "",
           f"Run of {now}, {(finished - started) / 60:.1f} minutes"
           f"{' (--quick)' if args.quick else ''}: best of {args.runs} run(s) per job, each run "
           "in a fresh process, all inputs read into the page cache first. *best s* is the "
           "time of the call alone (interpreter start and import excluded; `wc -l` is timed as "
           "a whole process). *records/s* counts the value changes in the file(s) read unless "
           "the note says otherwise. *peak RSS growth* is the rise of the process's peak "
           "resident set (VmHWM) over its peak after importing the library, the largest over the "
           "runs. *× wc -l* is the time over `wc -l` on the same file.", ""]
    out += ["## Machine", ""] + machine_info() + [
        f"- Load average (1 min) before / after: {load_before[0]:.2f} / {load_after[0]:.2f}", ""]
    out += ["## Inputs", ""]
    for p in files:
        i = info[p]
        out.append(f"- `{os.path.relpath(p, ROOT)}`: {human_bytes(i['bytes'])}, "
                   f"{i['changes']:,} value changes")
    out.append("")

    targets = []
    if main_rows:
        main_vcd = main_rows[0].files[0]
        out += [f"## quarnel on the main dump ({human_bytes(info[main_vcd]['bytes'])})", "",
                job_table(main_rows, wc_rows, peer_rows, peers), ""]
        targets = check_targets(main_rows, sim_rows, wc_rows, lin_rows, peer_rows, peers)
    if sim_rows:
        out += [f"## quarnel on the simulator's dump ({human_bytes(sim_rows[0].bytes())}, "
                "Icarus Verilog running bench/design/soc.v)", "",
                job_table(sim_rows, wc_rows), ""]
    if peer_rows:
        out += peer_section(peer_rows, peers, wc_rows)
    if lin_rows:
        out += linearity_section(lin_rows, wc_rows, args)
    if hdr_rows:
        out += header_section(hdr_rows, args)
    if comp_rows:
        section, comp_targets = compressed_section(comp_rows)
        out += section
        targets += comp_targets
    if fst_rows:
        section, fst_targets = fst_section(fst_rows)
        out += section
        targets += fst_targets
    if targets:
        out += ["## Targets", "", md_table(["target", "measured", "verdict"], targets), ""]
    return "\n".join(out)


def compressed_section(rows) -> tuple[list[str], list[list[str]]]:
    """quarnel.extended's metadata of the main dump and of its gzip and zstd copies, against
    the decompressors writing to /dev/null."""
    zcat, zstd, plain, gz, zst = rows
    table = [[r.label, os.path.basename(r.files[0]), human_bytes(r.bytes()),
              fmt(r.seconds, ".3f"), r.result.get("runs", ""), r.status_text()] for r in rows]
    out = ["## Compressed dumps", "",
           "`metadata` through `quarnel.extended` of the main dump and of its gzip (level 6) and "
           "zstd (level 3) copies, against the decompressors alone.", "",
           md_table(["job", "file", "size", "best s", "runs", "note"], table), ""]
    targets = []
    ok = all(r.ok for r in rows)
    if ok:
        x = gz.seconds / zcat.seconds
        targets.append(["`metadata` of the .gz ≤ 1.3 × `zcat`", f"{x:.2f} ×",
                        verdict(x <= 1.3)])
        y = zst.seconds / (zstd.seconds + plain.seconds)
        targets.append(["`metadata` of the .zst ≤ 1.3 × (`zstd -dc` + plain `metadata`)",
                        f"{y:.2f} ×", verdict(y <= 1.3)])
    return out, targets


def fst_section(rows) -> tuple[list[str], list[list[str]]]:
    """quarnel.extended on the simulator's dump as VCD and as FST, and pywellen on the FST."""
    table, targets = [], []
    for label in dict.fromkeys(r.label for r in rows):
        group = [r for r in rows if r.label == label]
        vcd, fst = group[0], group[1]
        peer = group[2] if len(group) > 2 else None
        for r in group:
            table.append([label, f"{r.lib}, {os.path.splitext(r.files[0])[1][1:]}",
                          fmt(r.seconds, ".3f"), fmt(r.growth_mib(), ".1f"), r.status_text()])
        if vcd.ok and fst.ok:
            x = vcd.seconds / fst.seconds
            targets.append([f"`{label}`: FST ≥ 5 × faster than its VCD", f"{x:.2f} ×",
                            verdict(x >= 5)])
        if peer is not None and peer.ok and fst.ok:
            y = peer.seconds / fst.seconds
            targets.append([f"`{label}`: FST faster than pywellen on it", f"{y:.2f} ×",
                            verdict(y > 1)])
    out = ["## FST dumps", "",
           "The simulator's dump written as FST by Icarus Verilog (`vvp -fst`) and as VCD, through "
           "`quarnel.extended` on every core, and pywellen on the FST; memory is the growth of "
           "the peak resident set over the imported library's.", "",
           md_table(["job", "library, file", "best s", "memory MiB", "note"], table), ""]
    return out, targets


def by_label(rows, label, threads=None):
    for r in rows:
        if r.label.startswith(label) and r.threads == threads:
            return r
    return None


def check_targets(main_rows, sim_rows, wc_rows, lin_rows, peer_rows, peers):
    t = []
    wc = wc_rows.get(main_rows[0].files[0])

    def ratio(r):
        return r.seconds / wc.seconds if r and r.ok and wc and wc.ok else None

    scans = ("metadata", "toggles, 1 signal", "toggles, 10 signals", "find, no match")
    for label in scans:
        one, every = by_label(main_rows, label, 1), by_label(main_rows, label)
        x, y = ratio(one), ratio(every)
        speedup = one.seconds / every.seconds if one and one.ok and every and every.ok else None
        t.append([f"`{label}`, 1 thread ≤ 6 × wc -l", fmt(x, ".2f", "n/a") + " ×",
                  verdict(None if x is None else x <= 6)])
        t.append([f"`{label}`, {CORES} threads ≤ 3.5 × wc -l", fmt(y, ".2f", "n/a") + " ×",
                  verdict(None if y is None else y <= 3.5)])
        t.append([f"`{label}`, speed-up from 1 to {CORES} threads ≥ 1.8 ×",
                  fmt(speedup, ".2f", "n/a") + " ×",
                  verdict(None if speedup is None else speedup >= 1.8)])
    if sim_rows:
        sim_wc = wc_rows.get(sim_rows[0].files[0])
        for label in scans:
            r = by_label(sim_rows, label)
            x = r.seconds / sim_wc.seconds if r and r.ok and sim_wc and sim_wc.ok else None
            t.append([f"`{label}` on the simulator's dump, {CORES} threads ≤ 1.5 × wc -l",
                      fmt(x, ".2f", "n/a") + " ×", verdict(None if x is None else x <= 1.5)])
    for n in ("1", "10"):
        ex = by_label(main_rows, f"extract, {n} signal")
        scan = by_label(main_rows, f"toggles, {n} signal")
        if ex and ex.ok and scan and scan.ok:
            extra = ex.seconds - scan.seconds
            rate = ex.n_records() / extra if extra > 0 else float("inf")
            t.append([f"`extract`, {n} signal(s): ≥ 6 M dicts/s over the scan (toggles)",
                      f"{ex.n_records():,} dicts in {extra:.3f} s over the scan = "
                      f"{fmt_rate(rate)}/s", verdict(rate >= 6e6)])
        else:
            t.append([f"`extract`, {n} signal(s): ≥ 6 M dicts/s over the scan", "n/a", "n/a"])
    for n in ("1", "10"):
        table = by_label(main_rows, f"extract_table, {n} signal", threads=1)
        scan = by_label(main_rows, f"toggles, {n} signal", threads=1)
        if table and table.ok and scan and scan.ok and table.n_records():
            ns = (table.seconds - scan.seconds) / table.n_records() * 1e9
            held = table.result.get("growth", 0) / table.n_records()
            t.append([f"`extract_table`, {n} signal(s), one thread: ≤ 20 ns a row over the "
                      "scan, ≤ 32 bytes a row held", f"{ns:.1f} ns, {held:.1f} bytes (peak RSS growth)",
                      verdict(ns <= 20 and held <= 32)])
        else:
            t.append([f"`extract_table`, {n} signal(s): ≤ 20 ns a row over the scan", "n/a",
                      "n/a"])
    r = by_label(main_rows, "compare, 10 signals")
    x = ratio(r)
    t.append(["`compare` of two dumps, 10 signals ≤ 6 × wc -l of one",
              fmt(x, ".2f", "n/a") + " ×", verdict(None if x is None else x <= 6)])
    r = by_label(main_rows, "list_signals")
    rate = r.rate() if r and r.ok else None
    t.append([f"`{r.label if r else 'list_signals'}` ≥ 1 M names/s",
              fmt_rate(rate) + "/s" if rate else "n/a",
              verdict(None if rate is None else rate >= 1e6)])
    growth = []
    for label in ("metadata", "toggles", "find"):
        rows = [x for x in main_rows if x.label.startswith(label)]
        rows += [x for (s, lab), x in lin_rows.items() if lab.startswith(label)]
        growth += [x.growth_mib() / (x.threads or CORES) for x in rows if x.ok]
    g = max(growth) if growth else None
    t.append(["peak RSS growth of `metadata`, `toggles`, `find` ≤ 16 MiB per thread (every size)",
              fmt(g, ".1f", "n/a") + " MiB max", verdict(None if g is None else g <= 16)])
    if peer_rows.get("quarnel"):
        for p in peers:
            need = 1.0 if p == "pywellen" else 50.0
            worst = None
            for qr, pr in zip(peer_rows["quarnel"], peer_rows.get(p, [])):
                if qr.ok and pr.ok:
                    x = pr.seconds / qr.seconds
                    worst = x if worst is None or x < worst else worst
            cmp = "faster than" if p == "pywellen" else "≥ 50 × faster than"
            t.append([f"{cmp} {p} on every job it can do", fmt(worst, ".1f", "n/a") +
                      " × (slowest job)", verdict(None if worst is None else worst > need
                                                   if p == "pywellen" else worst >= need)])
    return t


def peer_section(peer_rows, peers, wc_rows):
    q = peer_rows["quarnel"]
    peer_file = q[0].files[0]
    wc = wc_rows.get(peer_file)
    hdr = [r for r in q if r.job == "list_signals"]
    out = [f"## Against peers: the same jobs on a smaller dump ({os.path.basename(peer_file)}, "
           f"{human_bytes(q[0].bytes())})", "",
           "The peers are too slow for the 1 GB dump, so every library, quarnel included, runs "
           "here on the same smaller dump (and `list_signals` on the same "
           f"{hdr[0].label.split(', ')[1] if hdr else ''} header). Cells are throughput in "
           "**GB/s** of file read, best of the runs; *× quarnel* is the peer's time over "
           "quarnel's on the same file, which is the throughput ratio. pyvcd uses its streaming "
           "tokenizer, vcdvcd loads the file with the signals selected, pywellen loads the "
           f"Waveform and the requested signals. `wc -l` on this file: "
           f"{fmt(wc.gbps() if wc else None, '.3f')} GB/s.", ""]
    headers = ["job", "quarnel GB/s"]
    for p in peers:
        headers += [f"{p} GB/s", f"{p} × quarnel"]
    headers += ["peak RSS growth MiB (quarnel / " + " / ".join(peers) + ")"]
    rows = []
    for i, qr in enumerate(q):
        line = [qr.label, fmt(qr.gbps(), ".4g") if qr.ok else qr.status_text()]
        growth = [fmt(qr.growth_mib(), ".0f")]
        for p in peers:
            pr = peer_rows.get(p, [None] * len(q))[i]
            if pr is None or not pr.ok:
                line += [pr.status_text() if pr else "n/a", "n/a"]
                growth.append("n/a")
                continue
            agree = ""
            if qr.ok and qr.result.get("summary") != pr.result.get("summary"):
                agree = " ≠"
            line += [fmt(pr.gbps(), ".4g") + agree,
                     fmt(pr.seconds / qr.seconds, ".1f") + " ×" if qr.ok else "n/a"]
            growth.append(fmt(pr.growth_mib(), ".0f"))
        line.append(" / ".join(growth))
        rows.append(line)
    out += [md_table(headers, rows), "",
            "≠ marks a peer whose answer (toggle total, match, record or mismatch count) differs "
            "from quarnel's; the peers' own conventions (for example pywellen merging a repeated "
            "value, or which first change a toggle count starts from) explain such gaps.", ""]
    return out


def linearity_section(lin_rows, wc_rows, args):
    sizes = sorted({s for s, _ in lin_rows})
    labels = list(dict.fromkeys(lab for _, lab in lin_rows))
    headers = ["job"] + [f"{size_label(s)}: s (s/GB)" for s in sizes] + [
        "spread of s/GB", "linear?", "peak RSS growth MiB"]
    rows = []
    for lab in labels:
        per = []
        cells = [lab]
        growth = []
        for s in sizes:
            r = lin_rows.get((s, lab))
            if r and r.ok:
                per.append(r.seconds / (r.bytes() / GB))
                cells.append(f"{r.seconds:.3f} ({per[-1]:.2f})")
                growth.append(f"{r.growth_mib():.1f}")
            else:
                cells.append(r.status_text() if r else "n/a")
                growth.append("n/a")
        if len(per) == len(sizes) and per:
            spread = (max(per) - min(per)) / (sum(per) / len(per))
            cells += [f"{spread * 100:.0f}%", "yes" if spread <= 0.15 else "NO"]
        else:
            cells += ["n/a", "n/a"]
        cells.append(" / ".join(growth))
        rows.append(cells)
    wcs = []
    for s in sizes:
        r = [w for p, w in wc_rows.items() if w.ok and w.bytes() and abs(w.bytes() - s) < s * 0.01]
        wcs.append(f"{size_label(s)}: {r[0].seconds:.3f} s" if r else f"{size_label(s)}: n/a")
    return ["## Linearity in body size", "",
            "The same job on bodies of growing size (same generator, same seed). Linear means "
            "the seconds per GB stay within ±15% of each other (spread = (max − min) / mean); "
            "the RSS growth must not rise with the size either. `wc -l` for reference: "
            + ", ".join(wcs) + ".", "", md_table(headers, rows), ""]


def header_section(hdr_rows, args):
    def s(tag, label):
        r = hdr_rows.get((tag, label))
        return r.seconds if r and r.ok else None

    base_l, wide_l = s("base", "header pass"), s("wide", "header pass")
    rows = []
    for label in ("toggles, 1 signal", "find, no match"):
        b, w = s("base", label), s("wide", label)
        if b is None or w is None or wide_l is None or base_l is None:
            rows.append([label, fmt(b, ".3f"), fmt(w, ".3f"), "n/a", "n/a", "n/a"])
            continue
        body_b = b - base_l
        body_w = w - wide_l
        rel = body_w / body_b if body_b > 0 else None
        rows.append([label, f"{b:.3f}", f"{w:.3f}", f"{wide_l - base_l:.3f}",
                     fmt(rel, ".3f"),
                     "yes" if rel is not None and abs(rel - 1) <= 0.10 else "NO"])
    r = hdr_rows.get(("base", "header pass"))
    size = human_bytes(r.bytes()) if r else "?"
    return ["## Independence from signals declared but not requested", "",
            f"Two dumps with the same body ({size}): one declares its 1,000 signals, the other "
            f"{args.extra_signals:,} more that never change. The header pass is timed as "
            "`find` with `end=0`, which stops after the `$dumpvars` section; independent means "
            "that the time left after it (the body scan) stays within ±10%.", "",
            md_table(["job", "1,000 declared: s", f"+{args.extra_signals:,} declared: s",
                      "header pass: extra s", "body time ratio", "independent?"], rows), ""]


# ---------------------------------------------------------------------------------------------
# Chart


def draw_chart(path, main_rows, wc_rows, peer_rows, peers, args):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 2, figsize=(15, 6.5))
    for ax, rows in zip(axes, (main_rows, peer_rows)):
        if not rows:
            ax.axis("off")
            ax.text(0.5, 0.5, "not run", ha="center", transform=ax.transAxes)
    if main_rows:
        draw_wc_panel(axes[0], main_rows, wc_rows)
    if peer_rows:
        draw_peer_panel(axes[1], peer_rows, wc_rows, peers)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


def draw_wc_panel(ax, main_rows, wc_rows):
    rows = [r for r in main_rows if r.lib == "quarnel" and r.threads is None]
    labels, values, colors = [], [], []
    limits = {"metadata": 5, "toggles": 5, "find": 5, "compare, 10": 12}
    for r in rows:
        wc = wc_rows.get(r.files[0])
        labels.append(r.label if r.files[0] == rows[0].files[0]
                      else f"{r.label} ({human_bytes(os.path.getsize(r.files[0]))})")
        if not (r.ok and wc and wc.ok):
            values.append(None)
            colors.append("#ccc")
            continue
        values.append(r.seconds / wc.seconds)
        lim = next((v for k, v in limits.items() if r.label.startswith(k)), None)
        colors.append("#999" if lim is None else "#2a7" if values[-1] <= lim else "#d43")
    y = list(range(len(labels)))
    ax.barh(y, [v or 0 for v in values], color=colors)
    ax.set_yticks(y, labels)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlim(left=0.8)
    for lim, style in ((5, "--"), (12, ":")):
        ax.axvline(lim, color="#555", linestyle=style, linewidth=1)
        ax.text(lim, 0.01, f" {lim}×", fontsize=8, color="#555",
                transform=ax.get_xaxis_transform())
    for i, v in enumerate(values):
        ax.text(v or 1, i, f" {v:.1f}×" if v else " n/a", va="center", fontsize=8)
    size = human_bytes(main_rows[0].bytes()) if main_rows else ""
    ax.set_title(f"quarnel time / wc -l time, {size} dump (lower is better)", fontsize=10)
    ax.set_xlabel("× wc -l (log scale); green/red: within/over its target of 5× or 12×, "
                  "grey: target is a rate", fontsize=8)



def draw_peer_panel(ax, peer_rows, wc_rows, peers):
    q = peer_rows.get("quarnel", [])
    libs = ["quarnel"] + list(peers)
    palette = {"quarnel": "#2a7", "pyvcd": "#999", "vcdvcd": "#c93", "pywellen": "#37c"}
    height = 0.8 / len(libs)
    for k, lib in enumerate(libs):
        rows = peer_rows.get(lib, [])
        ys, xs = [], []
        for i, r in enumerate(rows):
            if r.ok and r.gbps():
                ys.append(i + k * height - 0.4 + height / 2)
                xs.append(r.gbps())
        ax.barh(ys, xs, height=height, label=lib, color=palette.get(lib))
        if lib == "quarnel":
            for i, r in enumerate(rows):
                if not r.ok:
                    ax.text(0, i + k * height - 0.4 + height / 2, " quarnel: n/a",
                            va="center", fontsize=7, transform=ax.get_yaxis_transform())
    ax.set_yticks(range(len(q)), [r.label for r in q])
    ax.invert_yaxis()
    ax.set_xscale("log")
    wc = wc_rows.get(q[0].files[0]) if q else None
    if wc and wc.ok:
        ax.axvline(wc.gbps(), color="#555", linestyle="--", linewidth=1)
        ax.text(wc.gbps(), 0.99, " wc -l ", fontsize=8, color="#555", ha="right", va="top",
                transform=ax.get_xaxis_transform())
    ax.legend(loc="lower right", fontsize=8)
    psize = human_bytes(q[0].bytes()) if q else ""
    ax.set_title(f"Throughput against peers, {psize} dump (higher is better)", fontsize=10)
    ax.set_xlabel("GB/s of file read (log scale)")


if __name__ == "__main__":
    sys.exit(main())

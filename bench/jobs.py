#!/usr/bin/env python3
"""One benchmark job in a fresh process: `jobs.py LIBRARY JOB ARGS_JSON`.

Imports the library, notes the peak resident set (VmHWM) as the baseline, runs the job once
and prints one JSON line: the seconds the job took, the baseline and final peak RSS in bytes,
a record count and a short summary of the answer so that libraries can be checked against
each other. Each peer does the job the way a user of that library would write it.

ARGS_JSON holds the job's arguments: "path", "path2", "signals", "signal", "value" and, for
quarnel's find only, "end".
"""

from __future__ import annotations

import json
import re
import sys
import time


def vm_hwm() -> int:
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return 0


def toggle_count(values) -> int:
    n, prev, first = 0, None, True
    for v in values:
        if not first and v != prev:
            n += 1
        prev, first = v, False
    return n


def merge_mismatches(a: list, b: list) -> int:
    """Times at which two (time, value) change lists disagree, both starting unknown."""
    i = j = 0
    va = vb = None
    n = 0
    while i < len(a) or j < len(b):
        ta = a[i][0] if i < len(a) else None
        tb = b[j][0] if j < len(b) else None
        t = ta if tb is None or (ta is not None and ta <= tb) else tb
        while i < len(a) and a[i][0] == t:
            va = a[i][1]
            i += 1
        while j < len(b) and b[j][0] == t:
            vb = b[j][1]
            j += 1
        if va != vb:
            n += 1
    return n


# ---------------------------------------------------------------------------------------------
# quarnel


def quarnel_job(job: str, params: dict):
    import quarnel
    import quarnel.extended

    module = quarnel.extended if params.get("extended") or job == "extract_table" else quarnel
    name = "compare" if job.startswith("compare") else "extract" if job == "dataframe" else job
    fn = getattr(module, name, None)
    if fn is None:
        raise NotImplementedError(job)
    if job in ("extract_table", "dataframe"):
        import pandas
        import pyarrow  # imported before the peak is noted

    def run():
        p = params["path"]
        if job == "metadata":
            r = fn(p)
            return 0, {"end_time": r["end_time"], "signal_count": r["signal_count"]}
        if job == "toggles":
            r = fn(p, params["signals"])
            return len(r), {"total": sum(r.values())}
        if job == "find":
            r = fn(p, params["signal"], params["value"], end=params.get("end"))
            return 1, {"found": r["found"], "time": r["time"]}
        if job == "extract":
            r = fn(p, params["signals"])
            return len(r), {"records": len(r)}
        if job == "extract_table":  # the table held whole, as pyarrow reads it
            table = pyarrow.table(fn(p, params["signals"]))
            return table.num_rows, {"records": table.num_rows, "bytes": table.nbytes}
        if job == "dataframe":  # what a user does without the table
            frame = pandas.DataFrame(fn(p, params["signals"]))
            return len(frame), {"records": len(frame)}
        if job == "compare":
            r = fn(p, params["path2"], signals=params.get("signals"))
            return r["total_mismatches"], {"passed": r["passed"],
                                           "mismatches": r["total_mismatches"]}
        if job == "list_signals":
            r = fn(p)
            return len(r), {"names": len(r)}
        raise NotImplementedError(job)

    return run


# ---------------------------------------------------------------------------------------------
# pyvcd: the streaming tokenizer


def pyvcd_job(job: str, params: dict):
    from vcd.reader import TokenKind, tokenize

    VAR, SCOPE, UPSCOPE, ENDDEF = (TokenKind.VAR, TokenKind.SCOPE, TokenKind.UPSCOPE,
                                   TokenKind.ENDDEFINITIONS)
    TIME = TokenKind.CHANGE_TIME
    CHANGES = (TokenKind.CHANGE_SCALAR, TokenKind.CHANGE_VECTOR, TokenKind.CHANGE_REAL,
               TokenKind.CHANGE_STRING)

    def changes_of(path, names):
        """{name: [(time, value), ...]} for the requested names, from one streaming pass."""
        wanted = set(names)
        code_names: dict[str, list[str]] = {}
        out = {n: [] for n in names}
        scope: list[str] = []
        t = 0
        with open(path, "rb") as f:
            for tok in tokenize(f):
                k = tok.kind
                if k is TIME:
                    t = tok.data
                elif k in CHANGES:
                    ns = code_names.get(tok.data.id_code)
                    if ns:
                        v = tok.data.value
                        for n in ns:
                            out[n].append((t, v))
                elif k is SCOPE:
                    scope.append(tok.data.ident)
                elif k is UPSCOPE:
                    scope.pop()
                elif k is VAR:
                    full = ".".join(scope + [tok.data.ref_str])
                    if full in wanted:
                        code_names.setdefault(tok.data.id_code, []).append(full)
        return out

    def run():
        p = params["path"]
        if job == "metadata":
            count, first, last = 0, None, 0
            with open(p, "rb") as f:
                for tok in tokenize(f):
                    k = tok.kind
                    if k is TIME:
                        if first is None:
                            first = tok.data
                        last = tok.data
                    elif k is VAR:
                        count += 1
            return 0, {"end_time": last, "signal_count": count}
        if job == "toggles":
            ch = changes_of(p, params["signals"])
            counts = {n: toggle_count(v for _, v in c) for n, c in ch.items()}
            return len(counts), {"total": sum(counts.values())}
        if job == "find":
            sig, target = params["signal"], params["value"].lower()
            for t, v in changes_of(p, [sig])[sig]:
                if str(v).lower() == target:
                    return 1, {"found": True, "time": t}
            return 1, {"found": False, "time": None}
        if job == "extract":
            names = params["signals"]
            ch = changes_of(p, names)
            recs = [{"signal": n, "time": t, "value": str(v)} for n in names for t, v in ch[n]]
            return len(recs), {"records": len(recs)}
        if job == "compare":
            names = params.get("signals") or pyvcd_names(p)
            a, b = changes_of(p, names), changes_of(params["path2"], names)
            n = sum(merge_mismatches(a[s], b[s]) for s in names)
            return n, {"passed": n == 0, "mismatches": n}
        if job == "list_signals":
            names = pyvcd_names(p)
            return len(names), {"names": len(names)}
        raise NotImplementedError(job)

    def pyvcd_names(path):
        names, scope = [], []
        with open(path, "rb") as f:
            for tok in tokenize(f):
                k = tok.kind
                if k is VAR:
                    names.append(".".join(scope + [tok.data.ref_str]))
                elif k is SCOPE:
                    scope.append(tok.data.ident)
                elif k is UPSCOPE:
                    scope.pop()
                elif k is ENDDEF:
                    break
        return names

    return run


# ---------------------------------------------------------------------------------------------
# vcdvcd: load the file with the signals selected


def vcdvcd_job(job: str, params: dict):
    from vcdvcd import VCDVCD

    def run():
        p = params["path"]
        if job == "metadata":
            v = VCDVCD(p, store_tvs=False)
            return 0, {"end_time": v.endtime, "signal_count": len(v.signals)}
        if job == "toggles":
            v = VCDVCD(p, signals=params["signals"])
            counts = {n: toggle_count(x for _, x in v[n].tv) for n in params["signals"]}
            return len(counts), {"total": sum(counts.values())}
        if job == "find":
            sig, target = params["signal"], params["value"].lower()
            v = VCDVCD(p, signals=[sig])
            for t, x in v[sig].tv:
                if x.lower() == target:
                    return 1, {"found": True, "time": t}
            return 1, {"found": False, "time": None}
        if job == "extract":
            names = params["signals"]
            v = VCDVCD(p, signals=names)
            recs = [{"signal": n, "time": t, "value": x} for n in names for t, x in v[n].tv]
            return len(recs), {"records": len(recs)}
        if job == "compare":
            names = params.get("signals") or []
            a = VCDVCD(p, signals=names)
            b = VCDVCD(params["path2"], signals=names)
            names = names or a.signals
            n = sum(merge_mismatches(a[s].tv, b[s].tv) for s in names)
            return n, {"passed": n == 0, "mismatches": n}
        if job == "list_signals":
            v = VCDVCD(p, only_sigs=True)
            return len(v.signals), {"names": len(v.signals)}
        raise NotImplementedError(job)

    return run


# ---------------------------------------------------------------------------------------------
# pywellen: the Waveform API, loading the requested signals

_INDEX = re.compile(r"\[-?[0-9]+(?::-?[0-9]+)?\]$")


def pywellen_job(job: str, params: dict):
    import pywellen

    def variables(w):
        # pywellen's full names leave out the bit range written after the reference.
        return {v.full_name: v for v in w.all_vars()}

    def var(vs, name):
        return vs[_INDEX.sub("", name)]

    def run():
        p = params["path"]
        if job == "metadata":
            w = pywellen.Waveform(p, stream_only=True)
            vs = list(w.all_vars())
            span = []

            def step(t, *_):
                if not span:
                    span.append(t)
                span[1:] = [t]

            w.stream_time_steps(step, vs)
            return 0, {"end_time": span[-1] if span else 0, "signal_count": len(vs)}
        if job == "toggles":
            w = pywellen.Waveform(p)
            vs = variables(w)
            counts = {n: toggle_count(x for _, x in var(vs, n).signal) for n in params["signals"]}
            return len(counts), {"total": sum(counts.values())}
        if job == "find":
            sig, target = params["signal"], params["value"].lower()
            w = pywellen.Waveform(p)
            for t, x in var(variables(w), sig).signal:
                if str(x).lower() == target:
                    return 1, {"found": True, "time": t}
            return 1, {"found": False, "time": None}
        if job == "extract":
            names = params["signals"]
            w = pywellen.Waveform(p)
            vs = variables(w)
            recs = [{"signal": n, "time": t, "value": str(x)} for n in names
                    for t, x in var(vs, n).signal]
            return len(recs), {"records": len(recs)}
        if job == "compare":
            wa, wb = pywellen.Waveform(p), pywellen.Waveform(params["path2"])
            va, vb = variables(wa), variables(wb)
            names = params.get("signals") or list(va)
            n = sum(merge_mismatches(list(var(va, s).signal), list(var(vb, s).signal))
                    for s in names)
            return n, {"passed": n == 0, "mismatches": n}
        if job == "list_signals":
            w = pywellen.Waveform(p, stream_only=True)
            names = [v.full_name for v in w.all_vars()]
            return len(names), {"names": len(names)}
        raise NotImplementedError(job)

    return run


LIBRARIES = {"quarnel": quarnel_job, "pyvcd": pyvcd_job, "vcdvcd": vcdvcd_job,
             "pywellen": pywellen_job}


def main() -> int:
    lib, job, params = sys.argv[1], sys.argv[2], json.loads(sys.argv[3])
    try:
        run = LIBRARIES[lib](job, params)
    except (ImportError, NotImplementedError) as e:
        print(json.dumps({"status": "n/a", "error": f"{type(e).__name__}: {e}"}))
        return 0
    base = vm_hwm()
    t0 = time.perf_counter()
    try:
        n, summary = run()
    except NotImplementedError as e:
        print(json.dumps({"status": "n/a", "error": f"not supported: {e}"}))
        return 0
    except BaseException as e:  # a peer that fails on the file is reported, not fatal
        print(json.dumps({"status": "error", "error": f"{type(e).__name__}: {e}"[:300]}))
        return 0
    seconds = time.perf_counter() - t0
    print(json.dumps({"status": "ok", "seconds": seconds, "rss_base": base, "rss_peak": vm_hwm(),
                      "n": n, "summary": summary}))
    return 0


if __name__ == "__main__":
    sys.exit(main())

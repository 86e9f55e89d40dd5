#!/usr/bin/env python3
"""Deterministic generator of large, realistic VCD dumps for the benchmarks.

The dump looks like what an RTL simulator writes for a small multi-core design: nested
module scopes with task, function, begin and fork scopes inside, mostly one-bit nets and
narrow vectors, some integer counters, a few reals, wide buses, parameters and events,
ports that share the identifier code of the net they connect to (aliases), a `$dumpvars`
section with every net's initial value, and a body in which registered nets change on the
rising clock edge and the rest whenever they like.

Speed: a pool of simulated time steps (at most --pool bytes) is rendered once into byte
strings, and the body is written by cycling through that pool with fresh timestamps, in
large chunks. Only the timestamp lines are formatted per step.

Beside every dump it writes `<out>.json`: the arguments, the sizes, the number of value
changes, and the names to request in the benchmarks.

Examples:
    gen_vcd.py --size 1G --out bench/out/main.vcd
    gen_vcd.py --size 256M --extra-signals 100000 --out bench/out/wide_header.vcd
    gen_vcd.py --header-only-signals 1000000 --out bench/out/header_1m.vcd
    gen_vcd.py --mutate 5 --source bench/out/main.vcd --out bench/out/main_mutated.vcd
"""

from __future__ import annotations

import argparse
import json
import math
import os
import random
import re
import shutil
import sys
import time

CODE_ALPHABET = [chr(c) for c in range(33, 127)]  # '!' .. '~', as simulators use
# Raised whenever the same arguments would write different bytes, so that old dumps are redone.
FORMAT_VERSION = 1


def parse_size(text: str) -> int:
    """Bytes from '123', '64k', '256M', '1G', '1.5G' (binary multiples)."""
    m = re.fullmatch(r"\s*([0-9]+(?:\.[0-9]+)?)\s*([kKmMgGtT]?)(?:i?[bB])?\s*", text)
    if not m:
        raise argparse.ArgumentTypeError(f"not a size: {text!r}")
    scale = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30, "t": 1 << 40}[m.group(2).lower()]
    return int(float(m.group(1)) * scale)


def id_code(n: int) -> str:
    """The n-th short identifier code: '!', '"', ..., '~', '!!', ..."""
    digits = []
    n += 1
    while n:
        n -= 1
        digits.append(CODE_ALPHABET[n % 94])
        n //= 94
    return "".join(digits)


# ----------------------------------------------------------------------------------------
# The design: nets (one per identifier code) and declared variables (several may share a net)


class Net:
    __slots__ = ("code", "kind", "width", "p", "registered", "mode", "full", "state", "xz")

    def __init__(self, code, kind, width, p, registered, mode, full, xz):
        self.code = code
        self.kind = kind  # 'clock', 'scalar', 'vector', 'real', 'event', 'param'
        self.width = width
        self.p = p  # probability of a change per eligible step
        self.registered = registered  # changes only on rising-edge steps
        self.mode = mode  # vector: 'counter', 'random', 'state'
        self.full = full  # vector written at full width (else leading zeros dropped)
        self.xz = xz  # scalar: sometimes goes to x or z
        self.state = None


BIT_NAMES = ("valid ready stall flush irq ack req busy done err en we re sel hit miss full "
             "empty lock grant start stop halt wake sleep dirty parity vld rdy kill retire "
             "commit spec taken mispredict fault trap").split()
VEC_NAMES = ("addr data wdata rdata opcode state count ptr tag idx mask id len burst resp size "
             "funct rd rs1 rs2 imm csr wptr rptr level credit prio vc way set").split()
WIDE_NAMES = "line cacheline vreg payload key block".split()
REAL_NAMES = "vdd temp ipc util freq".split()
SUBSCOPES = [  # (name, scope type) of sub-blocks inside a core-like module
    ("fetch", "module"), ("decode", "module"), ("alu", "module"), ("lsu", "module"),
    ("regfile", "module"), ("csr", "module"), ("icache", "module"), ("dcache", "module"),
]
INNER_SCOPES = [("f_add_sat", "function"), ("t_load", "task"), ("rf_loop", "begin"),
                ("par_issue", "fork"), ("f_parity", "function"), ("blk_retry", "begin")]


def activity(rng: random.Random) -> float:
    r = rng.random()
    if r < 0.50:
        return rng.uniform(0.0005, 0.01)
    if r < 0.85:
        return rng.uniform(0.01, 0.12)
    return rng.uniform(0.12, 0.45)


class Design:
    """Builds the scope tree with exactly `total` declared variables."""

    def __init__(self, total: int, rng: random.Random, first_code: int = 0,
                 top_name: str = "top", with_clock: bool = True):
        self.rng = rng
        self.nets: list[Net] = []
        self.lines: list[str] = []  # header lines of the scope tree
        self.decls: list[tuple[str, Net]] = []  # (full name, net) in declaration order
        self.total = total
        self.next_code = first_code
        self.clock = None
        self.reset = None
        self._build(top_name, with_clock)
        # A net whose declaration did not fit in `total` is never written.
        declared = {id(net) for _, net in self.decls}
        self.nets = [n for n in self.nets if id(n) in declared]

    # -- helpers
    def _net(self, kind, width, p=0.0, registered=True, mode="random", full=True, xz=False):
        net = Net(id_code(self.next_code), kind, width, p, registered, mode, full, xz)
        self.next_code += 1
        self.nets.append(net)
        return net

    def _left(self) -> int:
        return self.total - len(self.decls)

    def _var(self, path, used, vtype, width, name, net, index=None):
        if self._left() <= 0:
            return
        base, k = name, 1
        while name in used:
            k += 1
            name = f"{base}{k}"
        used.add(name)
        if index is None and width > 1 and vtype in ("wire", "reg"):
            index = f"[{width - 1}:0]"
        line = f"$var {vtype} {width} {net.code} {name}"
        full = f"{path}.{name}"
        if index:
            line += f" {index}"
            full += index
        self.lines.append(line + " $end")
        self.decls.append((full, net))

    def _new_var(self, path, used):
        """One fresh variable of a randomly chosen, realistic kind."""
        rng = self.rng
        r = rng.random()
        if r < 0.58:
            xz = rng.random() < 0.03
            net = self._net("scalar", 1, activity(rng), rng.random() < 0.8, xz=xz)
            vtype = "reg" if net.registered else "wire"
            self._var(path, used, vtype, 1, rng.choice(BIT_NAMES), net)
        elif r < 0.86:
            w = rng.choice((2, 2, 3, 3, 4, 4, 4, 5, 6, 7, 8, 8, 8, 12, 16, 16))
            mode = rng.choice(("counter", "random", "random", "state", "state"))
            net = self._net("vector", w, activity(rng), rng.random() < 0.85, mode,
                            full=rng.random() < 0.6)
            self._var(path, used, rng.choice(("wire", "reg")), w, rng.choice(VEC_NAMES), net)
        elif r < 0.93:
            mode = rng.choice(("counter", "random"))
            net = self._net("vector", 32, activity(rng) * 0.5, True, mode, full=rng.random() < 0.5)
            if rng.random() < 0.5:
                self._var(path, used, "integer", 32, rng.choice(("i", "n", "cnt", "j", "k")), net)
            else:
                self._var(path, used, "reg", 32, rng.choice(VEC_NAMES), net)
        elif r < 0.955:
            w = rng.choice((64, 64, 128, 128, 256))
            net = self._net("vector", w, rng.uniform(0.002, 0.03), True, "random", full=True)
            self._var(path, used, "wire", w, rng.choice(WIDE_NAMES), net)
        elif r < 0.975:
            net = self._net("real", 64, rng.uniform(0.001, 0.05), False)
            self._var(path, used, "real", 64, rng.choice(REAL_NAMES), net)
        elif r < 0.985:
            net = self._net("event", 1, rng.uniform(0.001, 0.02), True)
            self._var(path, used, "event", 1, "ev_" + rng.choice(BIT_NAMES), net)
        elif r < 0.993:
            net = self._net("vector", 64, rng.uniform(0.0005, 0.005), True, "counter", full=False)
            self._var(path, used, "time", 64, "t_" + rng.choice(("last", "start", "stamp")), net)
        else:
            net = self._net("param", 32, 0.0)
            net.state = rng.getrandbits(8)
            self._var(path, used, "parameter", 32, rng.choice(("WIDTH", "DEPTH", "ID", "LAT")), net)

    def _scope(self, name, stype, path, ports, own, depth):
        """A scope with `ports` aliased nets, `own` fresh variables and, at depth 1 and 2,
        sub-scopes."""
        if self._left() <= 0:
            return
        full_path = f"{path}.{name}" if path else name
        self.lines.append(f"$scope {stype} {name} $end")
        used: set[str] = set()
        for pname, pnet in ports:
            if pnet.kind == "vector":
                self._var(full_path, used, "wire", pnet.width, pname, pnet)
            else:
                self._var(full_path, used, "wire", 1, pname, pnet)
        for _ in range(own):
            self._new_var(full_path, used)
        if depth == 1:  # a core: sub-blocks
            for sub, stype2 in SUBSCOPES:
                if self._left() <= 0:
                    break
                here = [d for d in self.decls[-own:]] if own else []
                shared = [("clk", self.clock), ("rst_n", self.reset)]
                for full, net in self.rng.sample(here, min(len(here), 3)):
                    base = full.rsplit(".", 1)[1].split("[")[0]
                    if net.kind in ("scalar", "vector"):
                        shared.append((base, net))
                self._scope(sub, stype2, full_path, shared, self.rng.randint(6, 18), depth + 1)
        elif depth == 2 and self.rng.random() < 0.5:
            sub, stype2 = self.rng.choice(INNER_SCOPES)
            self._scope(sub, stype2, full_path, [], self.rng.randint(2, 6), depth + 1)
        self.lines.append("$upscope $end")

    def _build(self, top_name, with_clock):
        rng = self.rng
        self.lines.append(f"$scope module {top_name} $end")
        used: set[str] = set()
        if with_clock:
            self.clock = self._net("clock", 1, 1.0, False)
            self.reset = self._net("scalar", 1, 0.0, False)
            self.reset.state = "0"
            self._var(top_name, used, "reg", 1, "clk", self.clock)
            self._var(top_name, used, "reg", 1, "rst_n", self.reset)
            slow = self._net("clock", 1, 0.5, False)  # clock divided by two
            self._var(top_name, used, "reg", 1, "clk_div2", slow)
        else:
            self.clock = self.reset = self._net("scalar", 1, 0.0, False)
            self._var(top_name, used, "wire", 1, "tie0", self.clock)
        for _ in range(8):
            self._new_var(top_name, used)
        k = 0
        while self._left() > 0:
            if k % 5 == 4:
                name = f"noc{k // 5}"
                self._scope(name, "module", top_name,
                            [("clk", self.clock), ("rst_n", self.reset)],
                            rng.randint(10, 30), 2)
            else:
                name = f"core{k - k // 5}"
                self._scope(name, "module", top_name,
                            [("clk", self.clock), ("rst_n", self.reset)],
                            rng.randint(15, 35), 1)
            k += 1
        self.lines.append("$upscope $end")


# ----------------------------------------------------------------------------------------
# Values


def vec_text(net: Net, value: int) -> str:
    bits = format(value, "b")
    if net.full:
        bits = bits.rjust(net.width, "0")
    return f"b{bits} {net.code}\n"


def initial_line(net: Net, rng: random.Random) -> str:
    if net.kind == "clock":
        net.state = "0"
        return f"0{net.code}\n"
    if net.kind == "scalar":
        if net.state is None:
            net.state = "x" if net.registered and rng.random() < 0.3 else "0"
        return f"{net.state}{net.code}\n"
    if net.kind == "event":
        return f"1{net.code}\n"
    if net.kind == "real":
        net.state = 0.0
        return f"r0 {net.code}\n"
    if net.kind == "param":
        return vec_text(net, net.state)
    if net.registered and rng.random() < 0.3:
        net.state = 0
        return f"bx {net.code}\n"
    net.state = 0
    return vec_text(net, 0)


def change_line(net: Net, rng: random.Random) -> str:
    kind = net.kind
    if kind == "clock":
        net.state = "1" if net.state == "0" else "0"
        return f"{net.state}{net.code}\n"
    if kind == "scalar":
        if net.xz and rng.random() < 0.15:
            new = rng.choice("xz")
        else:
            new = "1" if net.state == "0" else "0"
        net.state = new
        return f"{new}{net.code}\n"
    if kind == "event":
        return f"1{net.code}\n"
    if kind == "real":
        net.state = round(net.state * 0.7 + rng.gauss(1.0, 0.4), 6)
        return f"r{net.state:.6g} {net.code}\n"
    mask = (1 << net.width) - 1
    if net.mode == "counter":
        net.state = (net.state + 1) & mask
    elif net.mode == "state":
        net.state = rng.randrange(min(mask + 1, 12))
    else:
        new = rng.getrandbits(net.width)
        net.state = new if new != net.state else (new ^ 1)
    return vec_text(net, net.state)


# ----------------------------------------------------------------------------------------
# Writing


def header_text(design: Design, extra: Design | None, seed: int) -> str:
    lines = [
        "$date",
        "\tMon Jan  6 09:00:00 2025",
        "$end",
        "$version",
        f"\tquarnel bench generator (seed {seed})",
        "$end",
        "$timescale",
        "\t1ps",
        "$end",
    ]
    lines += design.lines
    if extra is not None:
        lines += extra.lines
    lines.append("$enddefinitions $end")
    return "\n".join(lines) + "\n"


def simulate_pool(design: Design, rng: random.Random, pool_bytes: int):
    """Renders consecutive time steps until about `pool_bytes` of change text exist."""
    nets = [n for n in design.nets if n.kind not in ("param",) and n.p > 0]
    # Estimate how many steps fit in the pool, then schedule every net's changes.
    est = 0.0
    for n in nets:
        per = n.p * (0.5 if n.registered else 1.0)
        est += per * (n.width + 10 if n.kind == "vector" else 5 if n.kind != "real" else 16)
    steps = max(64, int(pool_bytes / max(est + 12, 1.0)))
    steps += steps % 2  # even, so the clock is back where it started when the pool wraps
    buckets: list[list[Net]] = [[] for _ in range(steps)]
    for n in nets:
        if n.kind == "clock":
            stride = max(1, round(1 / n.p))
            for s in range(0, steps, stride):
                buckets[s].append(n)
            continue
        logq = math.log(1.0 - min(n.p, 0.999))
        unit, s = (2, 0) if n.registered else (1, 1)
        while True:
            s += unit * (1 + int(math.log(1.0 - rng.random()) / logq))
            if s >= steps:
                break
            buckets[s].append(n)
    chunks, counts = [], []
    for b in buckets:
        chunks.append("".join(change_line(n, rng) for n in b).encode())
        counts.append(len(b))
    return chunks, counts


def generate(args) -> dict:
    rng = random.Random(args.seed)
    t0 = time.perf_counter()
    header_only = args.header_only_signals is not None
    total = args.header_only_signals if header_only else args.signals
    design = Design(total, rng)
    extra = None
    if args.extra_signals:
        # Declared after the real design, with codes after its codes, and never dumped:
        # the body stays byte for byte the same as without them.
        extra = Design(args.extra_signals, random.Random(args.seed + 1),
                       first_code=design.next_code, top_name="unused", with_clock=False)
    head = header_text(design, extra, args.seed).encode()
    # The size counts the header without the extra declarations, so the body is the same.
    limit = args.size + len(head) - len(header_text(design, None, args.seed).encode())
    out = args.out
    os.makedirs(os.path.dirname(os.path.abspath(out)) or ".", exist_ok=True)
    tmp = out + ".part"
    changes = 0
    steps_written = 0
    last_time = 0
    with open(tmp, "wb", buffering=0) as f:
        f.write(head)
        dump = ["#0\n$dumpvars\n"]
        for n in design.nets:
            dump.append(initial_line(n, rng))
            changes += 1
        dump.append("$end\n")
        f.write("".join(dump).encode())
        written = len(head) + sum(len(s) for s in dump)
        if not header_only:
            pool_rng = random.Random(args.seed + 2)
            chunks, counts = simulate_pool(design, pool_rng, min(args.pool, args.size))
            n = len(chunks)
            buf: list[bytes] = []
            buffered = 0
            t = 0
            i = 0
            step_dt = args.step
            while written + buffered < limit:
                t += step_dt
                c = chunks[i]
                stamp = b"#%d\n" % t
                buf.append(stamp)
                buf.append(c)
                buffered += len(stamp) + len(c)
                changes += counts[i]
                steps_written += 1
                i += 1
                if i == n:
                    i = 0
                if buffered >= 8 << 20:
                    f.write(b"".join(buf))
                    written += buffered
                    buf, buffered = [], 0
            if buf:
                f.write(b"".join(buf))
                written += buffered
            last_time = t
    os.replace(tmp, out)
    elapsed = time.perf_counter() - t0
    info = {
        "generator": "gen_vcd.py",
        "args": args_key(args),
        "bytes": os.path.getsize(out),
        "header_bytes": len(head),
        "declared_signals": total + (args.extra_signals or 0),
        "nets": len(design.nets),
        "value_changes": changes,
        "time_steps": steps_written,
        "end_time": last_time,
        "seconds": round(elapsed, 2),
        "requests": requests(design, rng),
    }
    with open(out + ".json", "w") as f:
        json.dump(info, f, indent=1)
    return info


def requests(design: Design, rng: random.Random) -> dict:
    """Names the benchmarks ask for: the clock, a mixed set of ten, and a search with no match."""
    decls = design.decls
    by_kind: dict[str, list[str]] = {}
    first_of_net: dict[int, str] = {}
    for full, net in decls:
        if id(net) in first_of_net:
            continue
        first_of_net[id(net)] = full
        key = net.kind
        if net.kind == "vector":
            key = "wide" if net.width > 32 else "narrow"
        if net.kind == "scalar" and net.p > 0.05:
            key = "busy_scalar"
        by_kind.setdefault(key, []).append(full)
    pick = random.Random(7)

    def take(kind, k):
        names = by_kind.get(kind, [])
        return pick.sample(names, min(k, len(names)))

    clock = first_of_net.get(id(design.clock), decls[0][0])
    ten = [clock] + take("busy_scalar", 4) + take("narrow", 3) + take("real", 1) + take("wide", 1)
    for full, _ in decls:
        if len(ten) >= 10:
            break
        if full not in ten:
            ten.append(full)
    no_z = [full for full, net in decls if net.kind == "scalar" and not net.xz and net.p > 0.05]
    find_signal = no_z[0] if no_z else clock
    mutate = sorted({net.code for full, net in decls if full in ten and net.kind == "scalar"})
    return {
        "one": [clock],
        "ten": ten[:10],
        "find": {"signal": find_signal, "value": "z"},
        "mutate_codes": mutate,
    }


# ----------------------------------------------------------------------------------------
# Mutation: a copy of a dump with K scalar values flipped


def mutate(args) -> dict:
    src, out, k = args.source, args.out, args.mutate
    t0 = time.perf_counter()
    with open(src + ".json") as f:
        info = json.load(f)
    codes = set(info["requests"].get("mutate_codes") or [])
    body_start = info["header_bytes"]
    size = os.path.getsize(src)
    tmp = out + ".part"
    shutil.copyfile(src, tmp)
    pattern = re.compile(rb"\n([01])([!-~]+)\n")
    done = []
    with open(src, "rb") as fin, open(tmp, "r+b") as fout:
        for j in range(k):
            pos = body_start + (size - body_start) * (j + 1) // (k + 1)
            while pos < size:
                fin.seek(pos)
                window = fin.read(1 << 20)
                if not window:
                    break
                hit = None
                for m in pattern.finditer(window):
                    if not codes or m.group(2).decode() in codes:
                        hit = m
                        break
                if hit:
                    at = pos + hit.start(1)
                    flipped = b"0" if hit.group(1) == b"1" else b"1"
                    fout.seek(at)
                    fout.write(flipped)
                    done.append({"offset": at, "code": hit.group(2).decode(),
                                 "from": hit.group(1).decode(), "to": flipped.decode()})
                    break
                pos += len(window) - 64
    os.replace(tmp, out)
    info = dict(info)
    info["mutated_from"] = os.path.basename(src)
    info["mutations"] = done
    info["args"] = args_key(args)
    info["seconds"] = round(time.perf_counter() - t0, 2)
    with open(out + ".json", "w") as f:
        json.dump(info, f, indent=1)
    return info


def args_key(args) -> dict:
    keys = ("size", "signals", "extra_signals", "header_only_signals", "seed", "pool", "step",
            "mutate")
    d = {k: getattr(args, k) for k in keys}
    d["format"] = FORMAT_VERSION
    if args.mutate:
        d["source"] = os.path.basename(args.source)
    return d


def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--size", type=parse_size, default=parse_size("1G"),
                    help="file size to reach, bytes or with suffix k/M/G (default 1G)")
    ap.add_argument("--signals", type=int, default=1000, help="declared variables (default 1000)")
    ap.add_argument("--extra-signals", type=int, default=0,
                    help="also declare this many variables that never change (default 0)")
    ap.add_argument("--header-only-signals", type=int, default=None, metavar="N",
                    help="write a header of N declared variables and only the $dumpvars body")
    ap.add_argument("--mutate", type=int, default=0, metavar="K",
                    help="copy --source to --out with K scalar values flipped")
    ap.add_argument("--source", help="the dump to copy for --mutate")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--pool", type=parse_size, default=parse_size("48M"),
                    help="distinct body text simulated before it repeats (default 48M)")
    ap.add_argument("--step", type=int, default=500, help="time between steps (default 500)")
    ap.add_argument("--out", required=True)
    ap.add_argument("-q", "--quiet", action="store_true")
    args = ap.parse_args(argv)
    if args.mutate:
        if not args.source:
            ap.error("--mutate needs --source")
        info = mutate(args)
    else:
        info = generate(args)
    if not args.quiet:
        print(f"{args.out}: {info['bytes']:,} bytes, {info['declared_signals']:,} signals, "
              f"{info['value_changes']:,} changes, {info.get('seconds', 0)} s", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

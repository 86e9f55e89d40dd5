"""Waveform pictures: the changes of signals drawn as SVG the way waveform viewers draw them,
and the reading of those changes from a dump.

One-bit signals are lines (high, low, a middle line for z, a red band for x), vectors are bus
hexagons with their values, and a pixel column that holds more than one change is drawn as
one solid block: the picture is drawn to the pixel, not to the change, so its size depends
on its width, never on the number of changes.
"""

from __future__ import annotations

import gzip
import importlib
import math
import os
import re
import stat
from bisect import bisect_left, bisect_right
from dataclasses import dataclass
from typing import Any, Iterable, Optional, Sequence, Tuple

from .report import _xml_text

# Value letters drawn as unknown (x and the nine-state letters read as unknown).
_UNKNOWN = frozenset("xuw-")
_HIGH = frozenset("1h")
_LOW = frozenset("0l")
_RANGE = re.compile(r"\[(\d+):(\d+)\]$")
_UNITS = {"s": 10**15, "ms": 10**12, "us": 10**9, "ns": 10**6, "ps": 10**3, "fs": 1}
_TIMESCALE = re.compile(rb"\$timescale\s+(1|10|100)\s*([munpf]?s)\s+\$end")

ROW = 30  # height of one trace
LABEL = 90  # width of the label column
AXIS = 26  # height of the time axis

CSS = """\
svg.wave{font:11px monospace;background:#fff}
svg.wave .level{fill:none;stroke:#1a7f37;stroke-width:1.5}
svg.wave .hiz{fill:none;stroke:#bf8700;stroke-width:1.5}
svg.wave .unknown{fill:#f3c1c1;stroke:#cf222e}
svg.wave .bus{fill:none;stroke:#1a7f37}
svg.wave .busy{fill:#1a7f37;stroke:none}
svg.wave .busy.unknown{fill:#cf222e}
svg.wave .mismatch{fill:#cf222e;fill-opacity:.15;stroke:none}
svg.wave .first{stroke:#cf222e;stroke-dasharray:4 3}
svg.wave .axis{stroke:#666}
svg.wave .grid{stroke:#ddd}
"""


@dataclass(frozen=True)
class Trace:
    """One row of a picture: ``changes`` are (time, value text) in time order; the last one
    at or before the window's start is the value the window begins with."""

    label: str
    changes: Sequence[tuple[int, str]]
    bus: bool
    role: str = ""
    hex: bool = False


def trace(label: str, name: str, changes: Sequence[tuple[int, str]], role: str = "") -> Trace:
    """A trace of the signal ``name``: a bus when its name gives a range of more than one
    bit or any value is more than one letter, its values in hexadecimal when it has a range."""
    ranged = _RANGE.search(name)
    wide = ranged is not None and ranged.group(1) != ranged.group(2)
    bus = wide or any(len(value) != 1 for value in {value for _, value in changes})
    return Trace(label, changes, bus, role, hex=wide)


def draw_svg(traces: Sequence[Trace], start: int, end: int, *, timescale: str | None = None,
             marks: Iterable[tuple[int, int]] = (), first: int | None = None, width: int = 900,
             label: int = LABEL, ident: str = "", standalone: bool = False) -> str:
    """The SVG picture of ``traces`` from ``start`` to ``end`` (inclusive, in ticks of
    ``timescale``), ``width`` pixels wide; ``marks`` are stretches drawn shaded over all rows,
    ``first`` a time marked by a dashed line; the labels take the first ``label`` pixels.
    With ``standalone`` the picture carries its style, else the page that holds it must."""
    end = max(end, start + 1)
    plot = width - label - 50  # room for the last label of the time axis
    scale = plot / (end - start)
    height = ROW * len(traces) + AXIS + 4
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" class="wave" width="{width}" '
           f'height="{height}" viewBox="0 0 {width} {height}"'
           + (f' id="{ident}"' if ident else "") + ">"]
    if standalone:
        out.append(f"<style>{CSS}</style>")
    out.append(f'<g transform="translate({label},2)">')
    for a, b in marks:
        x0, x1 = max(0.0, (a - start) * scale), min(plot, (b - start) * scale)
        if x1 > x0:
            out.append(f'<rect class="mismatch" x="{x0:.1f}" y="0" width="{max(x1 - x0, 1):.1f}"'
                       f' height="{ROW * len(traces)}"/>')
    out += _axis(start, end, scale, plot, ROW * len(traces), timescale)
    for row, one in enumerate(traces):
        runs = _runs(one.changes, start, end, plot)
        y = row * ROW
        out.append(f'<g class="trace {one.role}" transform="translate(0,{y})">')
        out += _bus(runs, one.hex) if one.bus else _line(runs)
        out.append("</g>")
        out.append(f'<text x="-{label - 4}" y="{y + ROW / 2 + 4:.0f}">'
                   f"{_text(one.label, label // 7, tail=True)}"
                   f"<title>{_escape(one.label)}</title></text>")
    if first is not None and start <= first <= end:
        x = (first - start) * scale
        out.append(f'<line class="first" x1="{x:.1f}" x2="{x:.1f}" y1="0" '
                   f'y2="{ROW * len(traces)}"/>')
    out.append("</g></svg>")
    return "\n".join(out) + "\n"


# A run: (x0, x1, value) of a value held from x0 to x1, or (x0, x1, None) of a pixel block
# of several changes, with unknown: whether any of them is unknown.
Run = Tuple[float, float, Optional[str], bool]


def _runs(changes: Sequence[tuple[int, str]], start: int, end: int, plot: int) -> list[Run]:
    span = end - start
    scale = plot / span
    times = [t for t, _ in changes]
    values = [v for _, v in changes]
    unknowns = {v for v in set(values) if _unknown(v)}
    lo, hi = bisect_right(times, start), bisect_right(times, end)
    value = values[lo - 1] if lo else None
    runs: list[Run] = []
    x = 0.0

    def hold(x1: float) -> None:  # nothing is drawn before the first value
        if x1 > x and value is not None:
            runs.append((x, x1, value, False))

    i = lo
    while i < hi:
        # Every change that falls in this pixel column: those before the first tick of the
        # next one (in whole numbers: the columns of 2**64 ticks are exact).
        column = (times[i] - start) * plot // span
        bound = start - (-(column + 1) * span // plot)
        j = bisect_left(times, bound, i, hi)
        if j - i == 1:
            at = (times[i] - start) * scale
            hold(at)
            x = at
        else:
            hold(column)
            unknown = bool(unknowns) and not unknowns.isdisjoint(values[i:j])
            if runs and runs[-1][2] is None and runs[-1][1] >= column:  # one block goes on
                x0, _, _, before = runs.pop()
                unknown = unknown or before
            else:
                x0 = column
            runs.append((float(x0), column + 1.0, None, unknown))
            x = column + 1.0
        value = values[j - 1]
        i = j
    hold(plot)
    return runs


def _unknown(value: str) -> bool:
    return bool(value) and all(c in _UNKNOWN for c in value.lower())


def _line(runs: list[Run]) -> list[str]:
    """A one-bit trace: 1 high, 0 low, z in the middle, x as a red band."""
    top, bottom, middle = 4, ROW - 8, (ROW - 4) / 2
    path: list[str] = []
    hiz: list[str] = []
    out: list[str] = []
    level: float | None = None
    for x0, x1, value, unknown in runs:
        if value is None or _unknown(value):
            out.append(_block(x0, x1, value, unknown, top, bottom))
            level = None
            continue
        low = value.lower()
        y = top if low in _HIGH else bottom if low in _LOW else middle
        if low == "z":
            hiz.append(f"M{x0:.1f},{y}H{x1:.1f}")
            level = None
            continue
        path.append(f"V{y}H{x1:.1f}" if level is not None else f"M{x0:.1f},{y}H{x1:.1f}")
        level = y
    if path:
        out.append(f'<path class="level" d="{"".join(path)}"/>')
    if hiz:
        out.append(f'<path class="hiz" d="{"".join(hiz)}"/>')
    return out


def _block(x0: float, x1: float, value: str | None, unknown: bool, top: int,
           bottom: int) -> str:
    """A band over the full height: a value x, or a pixel block of changes (red when any of
    them is unknown)."""
    cls = "unknown" if value is not None else "busy unknown" if unknown else "busy"
    return (f'<rect class="{cls}" x="{x0:.1f}" y="{top}" width="{max(x1 - x0, 1):.1f}" '
            f'height="{bottom - top}"/>')


def _bus(runs: list[Run], hexadecimal: bool) -> list[str]:
    """A vector: hexagons holding their values, z as a middle line, x filled red."""
    top, bottom = 3, ROW - 7
    middle = (top + bottom) / 2
    out = []
    for x0, x1, value, unknown in runs:
        if value is None:
            out.append(_block(x0, x1, value, unknown, top, bottom))
            continue
        if value.lower() and all(c == "z" for c in value.lower()):
            out.append(f'<path class="hiz" d="M{x0:.1f},{middle}H{x1:.1f}"/>')
            continue
        slant = min(3.0, (x1 - x0) / 2)
        # A vector with any unknown bit is drawn as unknown, its bits shown.
        partly = hexadecimal and not _UNKNOWN.isdisjoint(value.lower())
        cls = "unknown" if partly or _unknown(value) else "bus"
        out.append(f'<polygon class="{cls}" points="{x0:.1f},{middle} {x0 + slant:.1f},{top} '
                   f'{x1 - slant:.1f},{top} {x1:.1f},{middle} {x1 - slant:.1f},{bottom} '
                   f'{x0 + slant:.1f},{bottom}"/>')
        shown = format(int(value), "x") if hexadecimal and value.isdigit() else value
        room = int((x1 - x0 - 2 * slant) // 7)
        if room >= 1:
            out.append(f'<text x="{(x0 + x1) / 2:.1f}" y="{middle + 4}" text-anchor="middle">'
                       f"{_text(shown, room)}</text>")
    return out


def _axis(start: int, end: int, scale: float, plot: float, bottom: int,
          timescale: str | None) -> list[str]:
    """Ticks at steps of 1, 2 or 5 times a power of ten, labelled in the dump's time unit."""
    span = end - start
    step = 10 ** max(0, math.floor(math.log10(max(span / 8, 1))))
    for factor in (1, 2, 5, 10):
        if span / (step * factor) <= 8:
            step *= factor
            break
    size = femtoseconds(timescale) or 1
    unit = _unit(step * size, end * size)
    out = [f'<line class="axis" x1="0" x2="{plot}" y1="{bottom}" y2="{bottom}"/>']
    tick = -(-start // step) * step
    while tick <= end:
        x = (tick - start) * scale
        out.append(f'<line class="grid" x1="{x:.1f}" x2="{x:.1f}" y1="0" y2="{bottom + 4}"/>'
                   f'<text x="{x:.1f}" y="{bottom + 16}" text-anchor="middle">'
                   f"{time_text(tick, timescale, unit)}</text>")
        tick += step
    return out


def time_text(ticks: int, timescale: str | None, unit: tuple[str, int] | None = None) -> str:
    """A time in ticks of ``timescale`` in ``unit`` (a name and its femtoseconds), by default
    the largest unit that shows it exactly ('1.5 us'); plain ticks without a timescale."""
    if timescale is None:
        return str(ticks)
    femto = ticks * (femtoseconds(timescale) or 1)
    if femto == 0 and unit is None:
        return f"0 {timescale.split()[1]}"
    name, size = unit or _unit(femto, femto)
    return f"{femto / size:.3f}".rstrip("0").rstrip(".") + f" {name}"


def _unit(exact: int, largest: int) -> tuple[str, int]:
    """The largest unit that shows a multiple of ``exact`` femtoseconds with at most three
    decimals and ``largest`` as at least 1."""
    for name, size in _UNITS.items():
        if exact % (size // 1000 or 1) == 0 and max(exact, largest) >= size:
            return name, size
    return "fs", 1


def _text(text: str, room: int, tail: bool = False) -> str:
    """XML text of at most ``room`` characters: a longer text is cut with a '…', keeping its
    start, or its end (``tail``: the last names of a signal's scope)."""
    if len(text) > room:
        keep = room - 1
        text = "…" + text[len(text) - keep:] if tail else text[:keep] + "…"
    return _escape(text)


def _escape(text: str) -> str:
    return _xml_text(text).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


# Reading the changes to draw.


def timescale_of(path: str) -> str | None:
    """The timescale written in the declaration section of a regular file ('10 ns'), or None
    when it has none or the file cannot be read so (a pipe, a zstd dump without the package
    zstandard)."""
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            return None
        with open(path, "rb") as raw:
            magic = raw.read(4)
            raw.seek(0)
            if magic[:2] == b"\x1f\x8b":
                return _scan_timescale(gzip.GzipFile(fileobj=raw))
            if magic == b"\x28\xb5\x2f\xfd":
                zstandard = importlib.import_module("zstandard")
                return _scan_timescale(zstandard.ZstdDecompressor().stream_reader(raw))
            return _scan_timescale(raw)
    except Exception:  # unreadable or damaged: the dump's reader reports that
        return None


def _scan_timescale(file: Any) -> str | None:
    tail = b""
    while True:
        chunk = file.read(1 << 20)
        if not chunk:
            return None
        text = tail + chunk
        found = _TIMESCALE.search(text)
        if found:
            return f"{found.group(1).decode()} {found.group(2).decode()}"
        if b"$enddefinitions" in text:
            return None
        tail = text[-64:]


def femtoseconds(timescale: str | None) -> int | None:
    if timescale is None:
        return None
    number, unit = timescale.split()
    return int(number) * _UNITS[unit]


def read_changes(module: Any, path: str, names: Sequence[str], start: int, end: int | None,
                 factor: int = 1) -> dict[str, list[tuple[int, str]]]:
    """The changes of ``names`` from ``start`` to ``end``, in ticks ``factor`` times finer
    than the dump's."""
    changes: dict[str, list[tuple[int, str]]] = {name: [] for name in names}
    last = None if end is None else min(-(-end // factor), 2**64 - 1)
    for record in module.extract(path, list(changes), start // factor, last):
        changes[record["signal"]].append((record["time"] * factor, record["value"]))
    return changes


def carry_in(module: Any, path: str, changes: dict[str, list[tuple[int, str]]],
             needed: dict[str, int], read_from: int, reach: int, factor: int = 1) -> None:
    """Puts before the changes of each name, read from ``read_from`` on, the last change
    before that when the name has none at or before the time ``needed`` says: the value its
    picture begins with. It is looked for ``reach`` ticks back, then sixteen times as far
    back each time, so that only a few changes are read even of a busy signal."""
    lacking = [name for name, at in needed.items()
               if not changes[name] or changes[name][0][0] > at]
    end, step = read_from // factor, max(reach // factor, 1)
    while lacking and end > 0:
        begin = max(0, end - step)
        carried: dict[str, tuple[int, str]] = {}
        for record in module.extract(path, lacking, begin, end - 1):
            carried[record["signal"]] = (record["time"] * factor, record["value"])
        for name, change in carried.items():
            changes[name].insert(0, change)
        lacking = [name for name in lacking if name not in carried]
        end, step = begin, step * 16


def plot(module: Any, path: str, names: Sequence[str], start: int | None, end: int | None,
         width: int = 900) -> str:
    """The SVG picture of the signals ``names`` of one dump from ``start`` (default 0) to
    ``end`` (default its last change of them)."""
    names = list(dict.fromkeys(names))
    first = start or 0
    # A pipe is read once, from its beginning, for the value each signal holds at ``start``.
    regular = stat.S_ISREG(os.stat(path).st_mode)
    changes = read_changes(module, path, names, first if regular else 0, end)
    if end is None:
        end = max((side[-1][0] for side in changes.values() if side), default=first)
    if regular:
        carry_in(module, path, changes, dict.fromkeys(names, first), first, end - first)
    traces = [trace(name, name, changes[name]) for name in names]
    label = min(max(len(name) for name in names) * 7 + 8, 400)
    return draw_svg(traces, first, end, timescale=timescale_of(path), width=width + label,
                    label=label, standalone=True)


def save(svg: str, path: str) -> None:
    """Writes a picture as SVG, or as PNG when ``path`` ends in .png (needs cairosvg: the
    extra quarnel[plot])."""
    if path.lower().endswith(".png"):
        cairosvg = importlib.import_module("cairosvg")
        cairosvg.svg2png(bytestring=svg.encode("utf-8"), write_to=path)
        return
    with open(path, "w", encoding="utf-8") as file:
        file.write(svg)

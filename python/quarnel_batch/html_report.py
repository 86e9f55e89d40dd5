"""The HTML report of a comparison: one self-contained page, a section per failing pair with
the golden and the new waveform of each mismatching signal around its first mismatch."""

from __future__ import annotations

import functools
import html
import os
import stat
from typing import Any, Sequence

from . import waveform
from .checks import Timescales, module_for
from .report import ERROR, FAILED, PASSED, Outcome, Report, _xml_text, anchor
from .scheduling import run

# Changes of either dump shown before the first mismatch, and at least after it.
_BEFORE = 8
_AFTER = 16


def write_html(report: Report, path: str, *, signals: int = 8, extended: bool = False,
               timescales: Timescales = "ticks", window: int | None = None,
               jobs: int | None = None, progress: bool = False, buses: bool = False) -> None:
    """Writes the page of a report of compare() to ``path``: for each failing pair, the
    waveforms of its first ``signals`` mismatching signals (in the order of their first
    mismatch), around that mismatch, ``window`` ticks wide or, by default, wide enough for a
    few changes on either side; then the errors, and the pairs that passed. The dumps are
    read again (in the dialect, with the ``timescales`` and ``buses`` of the comparison), on
    ``jobs`` processes as the comparison was; Ctrl-C raises Interrupted."""
    failed = [(o.name, anchor(i), o) for i, o in enumerate(report.outcomes)
              if o.status == FAILED]
    body = [f"<h1>quarnel compare: {_e(report.summary())}</h1>"]
    if failed:
        body.append("<ul>" + "".join(
            f'<li><a href="#{ident}">{_e(o.name)}</a>: '
            f"{_e(o.message.splitlines()[0])}</li>" for _, ident, o in failed) + "</ul>")
    draw = functools.partial(_section, extended, buses, signals, timescales, window)
    for (_, ident, outcome), drawn in zip(failed, run(draw, failed, jobs=jobs,
                                                      progress=progress)):
        # A worker that died leaves the error of its pair instead of the pictures.
        body.append(drawn.result if drawn.status == PASSED else
                    _head(ident, outcome) + _note(f"no waveforms: {drawn.message}") +
                    "</section>")
    errors = [o for o in report.outcomes if o.status == ERROR]
    if errors:
        body.append('<h2>Errors</h2><ul class="errors">' + "".join(
            f"<li>{_e(o.name)}: <pre>{_e(o.message)}</pre></li>" for o in errors) + "</ul>")
    passed = [o for o in report.outcomes if o.status == PASSED]
    if passed:
        body.append('<h2>Passed</h2><ul class="passed">' + "".join(
            f"<li>{_e(o.name)}: {_e(o.message)}</li>" for o in passed) + "</ul>")
    page = ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            f"<title>quarnel compare</title><style>{_CSS}{waveform.CSS}</style></head>\n"
            "<body>\n" + "\n".join(body) + "\n</body></html>\n")
    with open(path, "w", encoding="utf-8", errors="surrogateescape") as file:
        file.write(page)


_CSS = """\
body{font:14px sans-serif;margin:1em 2em;color:#1f2328}
h2{border-top:1px solid #ccc;padding-top:.5em;font-size:1.2em}
h3{font:bold 13px monospace;margin:1em 0 .2em}
pre{margin:.2em 0;white-space:pre-wrap}
.note{color:#666;font-size:12px}
"""


def _head(ident: str, outcome: Outcome) -> str:
    return (f'<section id="{ident}" class="pair"><h2>{_e(outcome.name)}</h2>'
            f"<pre>{_e(outcome.message.splitlines()[0])}</pre>")


def _note(text: str) -> str:
    return f'<p class="note">{_e(text)}</p>'


def _section(extended: bool, buses: bool, limit: int, timescales: Timescales, window: int | None,
             item: tuple[str, str, Outcome]) -> Outcome:
    """The section of a failing pair, as the result of a passed outcome."""
    name, ident, outcome = item
    result = outcome.result
    head = _head(ident, outcome)
    if result is None or not result.get("mismatches"):
        return Outcome(name, PASSED, "", head + "</section>")
    golden, new = result["file1"], result["file2"]
    times: dict[str, list[int]] = {}
    for mismatch in result["mismatches"]:
        times.setdefault(mismatch["signal"], []).append(mismatch["time"])
    names = sorted(times, key=lambda name: times[name][0])
    shown, left = names[:limit], names[limit:]
    parts = [head, f'<p class="note">golden: {_e(golden)}<br>new: {_e(new)}</p>']
    module = module_for(extended, buses)
    try:
        parts += _pictures(module, golden, new, shown, times, timescales, window, ident)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # the module's internal failures derive from BaseException
        parts.append(_note(f"no waveforms: {str(error) or type(error).__name__}"))
    if left:
        parts.append(_note(f"{len(left)} more mismatching signals not drawn: "
                           f"{', '.join(left)}"))
    return Outcome(name, PASSED, "", "\n".join(parts) + "</section>")


def _pictures(module: Any, golden: str, new: str, names: list[str],
              times: dict[str, list[int]], timescales: Timescales, window: int | None,
              ident: str) -> list[str]:
    for path in (golden, new):  # a pipe was read through by the comparison
        if not stat.S_ISREG(os.stat(path).st_mode):
            raise OSError(f"{path} is not a regular file, and can be read only once")
    scales = [waveform.timescale_of(golden), waveform.timescale_of(new)]
    factors = [1, 1]
    timescale = scales[0] if scales[0] == scales[1] else None
    # Under "finer" the mismatch times are in the finer timescale, each dump's in its own.
    a, b = (waveform.femtoseconds(scale) for scale in scales)
    if timescales == "finer" and a is not None and b is not None and a != b:
        factors = [a // min(a, b), b // min(a, b)]
        timescale = scales[0] if a < b else scales[1]
    # Signals whose stretches around the first mismatch overlap are read together, once
    # from each dump; the changes between far-apart first mismatches are never read.
    probes = {name: _probe(times[name], window) for name in names}
    groups: list[tuple[int, int, list[str]]] = []
    for name in sorted(names, key=lambda name: probes[name]):
        start, end = probes[name]
        members = [name]
        if groups and start <= groups[-1][1]:
            start, last, members = groups.pop()
            end, members = max(end, last), members + [name]
        groups.append((start, end, members))
    changes: list[dict[str, list[tuple[int, str]]]] = [{}, {}]
    windows = {}
    for start, end, group in groups:
        read = [waveform.read_changes(module, path, group, start, end, factor)
                for path, factor in zip((golden, new), factors)]
        windows.update({name: _window(name, times[name], probes[name], read, window)
                        for name in group})
        for path, side, whole, factor in zip((golden, new), read, changes, factors):
            waveform.carry_in(module, path, side, {n: windows[n][0] for n in group}, start,
                              end - start, factor)
            whole.update(side)
    out = []
    for number, name in enumerate(names, 1):
        first, last = windows[name]
        marks = _stretches(times[name], changes, name, last)
        traces = [waveform.trace(role, name, side[name], role)
                  for role, side in zip(("golden", "new"), changes)]
        out.append(f'<h3 class="signal">{_e(name)}: first mismatch at '
                   f"{waveform.time_text(times[name][0], timescale)}</h3>")
        out.append(waveform.draw_svg(traces, first, last, timescale=timescale, marks=marks,
                                     first=times[name][0], ident=f"{ident}-signal-{number}"))
    return out


def _probe(times: list[int], window: int | None) -> tuple[int, int]:
    """The stretch of time read around the first mismatch: ``window`` ticks, or by default
    four times the span of its first few mismatches, at least a 256th of the time before it."""
    first = times[0]
    if window is not None:
        return max(0, first - window // 4), first + window - window // 4
    span = max(times[min(4, len(times) - 1)] - first, first // 256, 64)
    return max(0, first - 4 * span), first + 4 * span


def _window(name: str, times: list[int], probe: tuple[int, int],
            changes: Sequence[dict[str, list[tuple[int, str]]]],
            window: int | None) -> tuple[int, int]:
    """The stretch drawn: the probe when a window is asked for, else from a few changes
    before the first mismatch to the end of its stretch and a few changes after it."""
    if window is not None:
        return probe
    first = times[0]
    moments = sorted({t for side in changes for t, _ in side[name]})
    before = [t for t in moments if t < first][-_BEFORE:]
    after = [t for t in moments if t > first]
    mismatched = set(times)
    agree = next((t for t in after if t not in mismatched), probe[1])
    last = max(agree, after[min(_AFTER, len(after)) - 1] if after else first)
    start = before[0] if before else probe[0]
    pad = max((last - start) // 20, 1)
    return max(probe[0], start - pad), min(probe[1], last + pad)


def _stretches(times: list[int], changes: Sequence[dict[str, list[tuple[int, str]]]],
               name: str, end: int) -> list[tuple[int, int]]:
    """Each listed mismatch until the next change of either dump: where the values differ."""
    moments = sorted({t for side in changes for t, _ in side[name]} | set(times))
    following = dict(zip(moments, moments[1:]))
    return [(t, following.get(t, end)) for t in times if t <= end]


def _e(text: str) -> str:
    return html.escape(_xml_text(text), quote=True)

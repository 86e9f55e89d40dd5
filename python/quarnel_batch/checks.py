"""The checks of a batch, one function per command, and the outcome of each check with its
message."""

from __future__ import annotations

import functools
from typing import Any, Callable, Iterable, Literal, Sequence, TypeVar, cast

import quarnel
import quarnel.extended

from .pairing import Pair, Pairing
from .report import ERROR, FAILED, PASSED, Outcome, Report, _count
from .scheduling import Interrupted, _name, run

# How compare() treats dumps whose timescales differ (quarnel.extended.compare's option).
Timescales = Literal["ticks", "same", "finer"]

T = TypeVar("T")

_U64_MAX = 2**64 - 1


def compare(
    pairs: Iterable[Pairing],
    *,
    signals: Sequence[str] | None = None,
    allow_missing: bool = False,
    max_mismatches: int | None = None,
    ignore_unknown: bool = False,
    start: int | None = None,
    end: int | None = None,
    jobs: int | None = None,
    progress: bool = False,
    extended: bool = False,
    client: Any = None,
    timescales: Timescales = "ticks",
    held_at_start: bool = False,
    buses: bool = False,
) -> Report:
    """Compares each pair with quarnel.compare; a pair passes when no mismatch is found.

    Unless ``allow_missing`` is true, a pair is an error when a name of ``signals`` is not
    declared in both dumps, or when the dumps share no signal to compare. ``timescales`` is
    the option of quarnel.extended.compare: "ticks" compares the times as written, "same"
    makes dumps whose timescales differ an error, "finer" compares them in the finer unit
    (``start``, ``end`` and the mismatch times in it). ``held_at_start`` compares first the
    values each signal holds at ``start`` (quarnel.extended.compare). ``buses`` reads buses
    dumped one bit per variable whole, through quarnel.extended (whatever ``extended``
    says)."""
    if max_mismatches is not None:
        # One mismatch more per signal than the limit tells whether the limit cut its list.
        max_mismatches = min(max(max_mismatches, 1) + 1, _U64_MAX)
    check = functools.partial(
        _compare_pair,
        dict(max_mismatches=max_mismatches, signals=_names("signals", signals or []) or None,
             ignore_unknown=ignore_unknown, start=start, end=end, held_at_start=held_at_start,
             **_buses(buses)),
        allow_missing,
        extended,
        timescales,
    )
    return _report("compare", check, _names("pairs", pairs), jobs, progress, client)


def metadata(
    paths: Iterable[str],
    *,
    jobs: int | None = None,
    progress: bool = False,
    extended: bool = False,
    client: Any = None,
) -> Report:
    """quarnel.metadata of each dump; every readable dump passes."""
    check = functools.partial(_metadata_one, extended)
    return _report("meta", check, _distinct(paths), jobs, progress, client)


def toggles(
    paths: Iterable[str],
    signals: Sequence[str],
    *,
    start: int | None = None,
    end: int | None = None,
    jobs: int | None = None,
    progress: bool = False,
    extended: bool = False,
    client: Any = None,
    buses: bool = False,
) -> Report:
    """quarnel.toggles of each dump, the counts in the order of ``signals``; ``buses`` as
    for compare()."""
    check = functools.partial(_toggles_one, extended, buses, _names("signals", signals), start,
                              end)
    return _report("toggles", check, _distinct(paths), jobs, progress, client)


def find(
    paths: Iterable[str],
    signal: str,
    value: str,
    *,
    occurrence: int = 1,
    start: int | None = None,
    end: int | None = None,
    jobs: int | None = None,
    progress: bool = False,
    extended: bool = False,
    client: Any = None,
    buses: bool = False,
) -> Report:
    """quarnel.find in each dump; a dump fails when the signal never takes the value;
    ``buses`` as for compare()."""
    check = functools.partial(_find_one, extended, buses, signal, value, occurrence, start,
                              end)
    return _report("find", check, _distinct(paths), jobs, progress, client)

def _report(command: str, check: Callable[[T], Outcome], items: Sequence[T], jobs: int | None,
            progress: bool, client: Any) -> Report:
    try:
        return Report(command, run(check, items, jobs=jobs, progress=progress, client=client))
    except Interrupted as stop:
        raise Interrupted(stop.outcomes, Report(command, stop.outcomes)) from None


def _names(name: str, items: Iterable[T]) -> list[T]:
    """The items as a list; a single str, which would be taken letter by letter, is refused."""
    if isinstance(items, (str, bytes)):
        raise TypeError(f"{name} must be a list, not {type(items).__name__}")
    return list(items)


def _distinct(paths: Iterable[str]) -> list[str]:
    return list(dict.fromkeys(_names("paths", paths)))


def _error(name: str, path: str, error: BaseException) -> Outcome:
    return Outcome(name, ERROR, f"{path}: {str(error) or type(error).__name__}")


def _guarded(check: Callable[..., Outcome]) -> Callable[..., Outcome]:
    """Turns any failure of the module on a dump into an error outcome naming the dump; the
    module's internal failures derive from BaseException."""

    @functools.wraps(check)
    def guarded(*args: Any) -> Outcome:
        item = args[-1]
        try:
            return check(*args)
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as error:
            return _error(_name(item), _name(item), error)

    return guarded


class _BusesWhole:
    """The functions of quarnel.extended, reading buses dumped one bit per variable whole."""

    def __getattr__(self, name: str) -> Any:
        return functools.partial(getattr(quarnel.extended, name), buses=True)


def module_for(extended: bool, buses: bool = False) -> Any:
    """The module whose functions read the dialect asked for, and buses whole if asked."""
    if buses:
        return _BusesWhole()
    return quarnel.extended if extended else quarnel


def _buses(buses: bool) -> dict[str, bool]:
    """The keyword of quarnel.extended for buses read whole, given only when asked for."""
    return {"buses": True} if buses else {}


@_guarded
def _metadata_one(extended: bool, path: str) -> Outcome:
    return Outcome(path, PASSED, "", module_for(extended).metadata(path))


@_guarded
def _toggles_one(
    extended: bool, buses: bool, signals: list[str], start: int | None, end: int | None,
    path: str
) -> Outcome:
    # The module already gives the counts in the order of the names asked, each name once
    # where it was first asked: the order of the command's columns.
    counts = module_for(extended, buses).toggles(path, signals, start, end)
    return Outcome(path, PASSED, "", counts)


@_guarded
def _find_one(
    extended: bool,
    buses: bool,
    signal: str,
    value: str,
    occurrence: int,
    start: int | None,
    end: int | None,
    path: str,
) -> Outcome:
    result = module_for(extended, buses).find(path, signal, value, occurrence, start, end)
    if result["found"]:
        return Outcome(path, PASSED, f"{signal} is {result['value']} at {result['time']}", result)
    nth = f"occurrence {occurrence} of " if occurrence != 1 else ""
    return Outcome(path, FAILED, f"FAILED: {nth}{signal} = {value} not found", result)


def _compare_pair(
    options: dict[str, Any], allow_missing: bool, extended: bool, timescales: Timescales,
    pairing: Pairing
) -> Outcome:
    name = pairing[0]
    lines = [f"{side[0]}: {' and '.join(side[1:])} also pair{'s' if len(side) == 2 else ''} "
             f"as {name}: keep one" for side in pairing[1:] if isinstance(side, tuple)]
    if lines:
        return Outcome(name, ERROR, "\n".join(lines))
    return _compare_one(options, allow_missing, extended, timescales, cast(Pair, pairing))


def _compare_in(timescales: Timescales, extended: bool, golden: str, new: str,
                options: dict[str, Any]) -> Any:
    """compare() in the dialect asked for, its times meeting as ``timescales`` says."""
    return quarnel.extended.compare(golden, new, **options, timescales=timescales,
                                    strict=not extended and not options.get("buses"))


@_guarded
def _compare_one(
    options: dict[str, Any], allow_missing: bool, extended: bool, timescales: Timescales,
    pair: Pair
) -> Outcome:
    name, golden, new = pair
    if golden is None or new is None:
        return Outcome(name, FAILED, f"FAILED: no counterpart of {golden or new}")
    try:
        result = _compare_in(timescales, extended, golden, new, options)
    except RuntimeError as error:
        # The error names the dump it is about, or none when the two disagree in timescale.
        path = getattr(error, "path", None)
        if path is None:
            return Outcome(name, ERROR, f"{new}: {error} ({golden} and {new})")
        return _error(name, path, error)
    cut: list[str] = []
    if options["max_mismatches"] is not None:
        result, cut = _within_limit(result, options["max_mismatches"] - 1)

    common = set(result["common_signals"])
    asked = list(dict.fromkeys(options["signals"] or []))
    compared = len([s for s in asked if s in common]) if asked else len(common)
    if not allow_missing:
        lacking = {
            path: [s for s in asked if s not in common and s not in present]
            for path, present in ((golden, result["signals_only_in_file1"]),
                                  (new, result["signals_only_in_file2"]))
        }
        lines = [f"{path}: not declared: {', '.join(names)}"
                 for path, names in lacking.items() if names]
        if not lines and compared == 0:
            lines = [f"{new}: no signal in common with {golden}"]
        if lines:
            return Outcome(name, ERROR, "\n".join(lines), result)

    text = _count(compared, "signal", "signals") + " compared"
    if result["passed"]:
        return Outcome(name, PASSED, f"passed: {text}, no mismatches", result)
    mismatches = _count(result["total_mismatches"], "mismatch", "mismatches")
    signals = _count(result["signals_with_mismatches"], "signal", "signals")
    summary = f"FAILED: {mismatches} in {signals} ({text})"
    if cut:
        limit = options["max_mismatches"] - 1
        summary += f"; list cut at {limit} per signal for {_count(len(cut), 'signal', 'signals')}"
    details = [
        f"{m['signal']} at {m['time']}: {m['value1']} != {m['value2']}" for m in result["mismatches"]
    ]
    return Outcome(name, FAILED, "\n".join([summary, *details]), result)


def _within_limit(result: dict[str, Any], limit: int) -> tuple[dict[str, Any], list[str]]:
    """The result of quarnel.compare with ``limit`` mismatches per signal, from one asked for
    with a higher limit, and the signals whose mismatches that cut."""
    kept = []
    counts: dict[str, int] = {}
    for mismatch in result["mismatches"]:
        counts[mismatch["signal"]] = counts.get(mismatch["signal"], 0) + 1
        if counts[mismatch["signal"]] <= limit:
            kept.append(mismatch)
    cut = [name for name, count in counts.items() if count > limit]
    return dict(result, mismatches=kept, total_mismatches=len(kept)), cut

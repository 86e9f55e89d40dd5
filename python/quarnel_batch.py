"""Many dumps at once: the batch behind the quarnel command, for regression scripts.

Each function runs one check of the module quarnel over many dumps (or pairs of dumps) on a
process pool and returns a Report: one Outcome per dump or pair, in the order given, with a
status of "passed", "failed" or "error". One bad dump never stops the others. ::

    import quarnel_batch

    report = quarnel_batch.compare(quarnel_batch.pair_dumps("golden", "build/dumps"))
    report.write_junit("quarnel.xml")
    assert report.exit_status == 0, [o.message for o in report.outcomes if o.status != "passed"]

With more than one job the work runs in worker processes, so a script that calls these
functions with jobs other than 1 must do so under ``if __name__ == "__main__":`` on platforms
that do not fork.

Every function reads the dumps as quarnel does, in the IEEE 1364 dialect; with
``extended=True`` it reads them as quarnel.extended does.

Given ``client``, a ``distributed.Client`` (``pip install 'quarnel[dask]'``), the checks run
on that Dask cluster instead, with the same outcomes: its workers read the dumps from the
paths given, so these must name the same files on every worker (a shared file system). ::

    from distributed import Client

    with Client("tcp://scheduler:8786") as client:
        report = quarnel_batch.metadata(paths, client=client)
"""

from __future__ import annotations

import contextlib
import functools
import logging
import multiprocessing
import os
import re
import signal
import sys
import warnings
from concurrent.futures import ProcessPoolExecutor, as_completed
from concurrent.futures.process import BrokenProcessPool
from dataclasses import asdict, dataclass
from multiprocessing import active_children
from typing import (Any, Callable, Iterable, Iterator, List, Literal, Optional, Sequence, Tuple,
                    TypeVar, Union, cast)

import junitparser
from tqdm import tqdm

import quarnel
import quarnel.extended

PASSED = "passed"
FAILED = "failed"
ERROR = "error"
_EXIT_STATUS = {PASSED: 0, FAILED: 1, ERROR: 2}

# The file names that count as dumps when directories are paired, and the suffixes of
# compressed dumps, which pairing leaves out of the name.
DUMP_SUFFIXES = (".vcd", ".vcd.gz", ".vcd.zst")
COMPRESSED_SUFFIXES = (".gz", ".zst")

# (name, golden dump, new dump); a side is None when the dump has no counterpart.
Pair = Tuple[str, Optional[str], Optional[str]]
# What pair_dumps() gives: a side is a tuple of paths when several files pair under the name.
Side = Union[None, str, Tuple[str, ...]]
Pairing = Tuple[str, Side, Side]

# The characters XML 1.0 can hold.
_NOT_XML = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")

# How compare() treats dumps whose timescales differ (quarnel.extended.compare's option).
Timescales = Literal["ticks", "same", "finer"]

T = TypeVar("T")

_U64_MAX = 2**64 - 1


@dataclass(frozen=True)
class Outcome:
    """The result of one check: ``name`` is the dump's path (the relative path for paired
    directories); ``message`` is the summary of a comparison, what a search missed, or the
    error, which starts with the path of the dump at fault; ``result`` is what the module's
    function returned (None after an error)."""

    name: str
    status: str
    message: str
    result: Any = None


@dataclass(frozen=True)
class Report:
    command: str
    outcomes: list[Outcome]

    @property
    def exit_status(self) -> int:
        """0 when every check passed, 1 when any failed, 2 when any ended in an error."""
        return max((_EXIT_STATUS[o.status] for o in self.outcomes), default=0)

    def summary(self) -> str:
        """How many checks passed, failed and ended in an error."""
        counts = [sum(o.status == s for o in self.outcomes) for s in (PASSED, FAILED, ERROR)]
        return (f"{_count(len(self.outcomes), 'check', 'checks')}: {counts[0]} passed, "
                f"{counts[1]} failed, {_count(counts[2], 'error', 'errors')}")

    def to_dict(self) -> dict[str, Any]:
        """One entry per dump or pair, keyed by its name: status, message and result (what
        the command prints with --json)."""
        return {o.name: {k: v for k, v in asdict(o).items() if k != "name"} for o in self.outcomes}

    def to_json(self) -> dict[str, Any]:
        """Deprecated: to_dict(), under the name it had first."""
        warnings.warn("Report.to_json() is deprecated: use Report.to_dict()", DeprecationWarning,
                      stacklevel=2)
        return self.to_dict()

    def write_junit(self, path: str) -> None:
        """Writes JUnit XML: one test case per dump or pair, with the failure or error.
        Characters that XML cannot hold are written as Python escapes (``\\x01``)."""
        suite = junitparser.TestSuite(_xml_text(f"quarnel {self.command}"))
        for outcome in self.outcomes:
            case = junitparser.TestCase(_xml_text(outcome.name),
                                        classname=_xml_text(f"quarnel.{self.command}"))
            if outcome.status != PASSED:
                kind = junitparser.Failure if outcome.status == FAILED else junitparser.Error
                message = _xml_text(outcome.message)
                problem = kind(message.splitlines()[0])
                problem.text = message
                case.result = [problem]
            suite.add_testcase(case)
        xml = junitparser.JUnitXml()
        xml.add_testsuite(suite)
        xml.write(path)


class Interrupted(KeyboardInterrupt):
    """Ctrl-C stopped a batch: ``outcomes`` holds those of the checks that finished and, for
    each other one, an error "interrupted"; ``report`` holds them as the batch function's
    report (None when run() was called directly)."""

    def __init__(self, outcomes: list[Outcome], report: Report | None = None) -> None:
        super().__init__()
        self.outcomes = outcomes
        self.report = report


def _xml_text(text: str) -> str:
    return _NOT_XML.sub(lambda match: ascii(match.group())[1:-1], text)


def default_jobs() -> int:
    """The number of cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


def pair_dumps(golden: str, new: str) -> list[Pairing]:
    """Pairs every dump under the directory ``golden`` (recursively) with the dump of the same
    relative path under ``new``, sorted by that path; a compressed dump (``.vcd.gz``,
    ``.vcd.zst``) goes by its path without the compression suffix. A dump found on one side
    only gives a pair whose other side is None, which compare() reports as failed; files of
    one side that go by the same name (``run.vcd`` and ``run.vcd.zst``) give that side as the
    tuple of their paths, which compare() reports as an error."""
    found = [_dumps_under(golden), _dumps_under(new)]
    names = sorted(set(found[0]) | set(found[1]))
    return [(name, _side(found[0].get(name, [])), _side(found[1].get(name, [])))
            for name in names]


def _side(paths: list[str]) -> Side:
    return None if not paths else paths[0] if len(paths) == 1 else tuple(paths)


def _dumps_under(directory: str) -> dict[str, list[str]]:
    dumps: dict[str, list[str]] = {}
    for root, dirs, files in os.walk(directory, onerror=_raise):
        dirs.sort()
        for file in sorted(files):
            if file.endswith(DUMP_SUFFIXES):
                path = os.path.join(root, file)
                name = os.path.relpath(path, directory).replace(os.sep, "/")
                for suffix in COMPRESSED_SUFFIXES:
                    name = name.removesuffix(suffix)
                dumps.setdefault(name, []).append(path)
    return dumps


def _raise(error: OSError) -> None:
    raise error


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
) -> Report:
    """Compares each pair with quarnel.compare; a pair passes when no mismatch is found.

    Unless ``allow_missing`` is true, a pair is an error when a name of ``signals`` is not
    declared in both dumps, or when the dumps share no signal to compare. ``timescales`` is
    the option of quarnel.extended.compare: "ticks" compares the times as written, "same"
    makes dumps whose timescales differ an error, "finer" compares them in the finer unit
    (``start``, ``end`` and the mismatch times in it)."""
    if max_mismatches is not None:
        # One mismatch more per signal than the limit tells whether the limit cut its list.
        max_mismatches = min(max(max_mismatches, 1) + 1, _U64_MAX)
    check = functools.partial(
        _compare_pair,
        dict(max_mismatches=max_mismatches, signals=list(signals or []) or None,
             ignore_unknown=ignore_unknown, start=start, end=end),
        allow_missing,
        extended,
        timescales,
    )
    return _report("compare", check, list(pairs), jobs, progress, client)


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
) -> Report:
    """quarnel.toggles of each dump, the counts in the order of ``signals``."""
    check = functools.partial(_toggles_one, extended, list(signals), start, end)
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
) -> Report:
    """quarnel.find in each dump; a dump fails when the signal never takes the value."""
    check = functools.partial(_find_one, extended, signal, value, occurrence, start, end)
    return _report("find", check, _distinct(paths), jobs, progress, client)


def run(
    check: Callable[[T], Outcome],
    items: Sequence[T],
    *,
    jobs: int | None = None,
    progress: bool = False,
    client: Any = None,
) -> list[Outcome]:
    """Applies ``check`` to every item, on ``jobs`` worker processes (default: the cores
    this process may use; 1 runs in this process) or on the Dask cluster of ``client``,
    showing a progress bar on stderr if ``progress``. Returns the outcomes in the order of
    ``items``. A worker process that dies makes an error of the check it was running only:
    the others run again on a new pool. Ctrl-C raises Interrupted."""
    outcomes: list[Outcome | None] = [None] * len(items)
    try:
        with _ProgressBar(total=len(items), disable=not progress, unit="dump") as bar:
            if client is not None:
                _run_on_dask(client, check, items, outcomes, bar)
            elif min(jobs or default_jobs(), len(items)) <= 1:
                for i, item in enumerate(items):
                    outcomes[i] = check(item)
                    bar.update()
            else:
                while None in outcomes:
                    _run_on_pool(check, items, jobs or default_jobs(), outcomes, bar)
    except KeyboardInterrupt:
        raise Interrupted([outcome or Outcome(_name(item), ERROR, f"{_name(item)}: interrupted")
                           for outcome, item in zip(outcomes, items)]) from None
    return cast(List[Outcome], outcomes)


class _ProgressBar(tqdm):  # type: ignore[type-arg]
    # No monitor thread: the pools fork their workers while the bar is shown.
    monitor_interval = 0


def _report(command: str, check: Callable[[T], Outcome], items: Sequence[T], jobs: int | None,
            progress: bool, client: Any) -> Report:
    try:
        return Report(command, run(check, items, jobs=jobs, progress=progress, client=client))
    except Interrupted as stop:
        raise Interrupted(stop.outcomes, Report(command, stop.outcomes)) from None


def _run_on_pool(check: Callable[[T], Outcome], items: Sequence[T], jobs: int,
                 outcomes: list[Outcome | None], bar: tqdm[Any]) -> None:
    """Runs the checks without outcome on a new pool of at most ``jobs`` processes, until
    they are done or a worker dies; then the checks that the dead workers were running get
    an error, and the others are left without outcome."""
    todo = [i for i, outcome in enumerate(outcomes) if outcome is None]
    # The pid of the worker that took each item, 0 until one does.
    taken = multiprocessing.RawArray("q", len(items))
    others = set(active_children())
    executor = ProcessPoolExecutor(min(jobs, len(todo)), initializer=_start_worker,
                                   initargs=(taken,))
    broken: BrokenProcessPool | None = None
    try:
        futures = {executor.submit(_taken, check, i, items[i]): i for i in todo}
        workers = set(active_children()) - others
        for future in as_completed(futures):
            i = futures[future]
            try:
                outcomes[i] = future.result()
            except BrokenProcessPool as error:
                broken = error
                continue
            except Exception as error:
                outcomes[i] = Outcome(_name(items[i]), ERROR, f"{_name(items[i])}: {error}")
            bar.update()
    except BaseException:
        # The workers stopped first, the pool ends at once, and before this process exits:
        # its thread would race the exit for the pipe that wakes it.
        _terminate_children_but(others)
        executor.shutdown(cancel_futures=True)
        raise
    executor.shutdown()
    if broken is None:
        return
    # The pool terminates its other workers when one dies: a check that one of those was
    # running goes to the next pool, unless no worker died otherwise.
    ends = {worker.pid: worker.exitcode for worker in workers}
    running = [i for i in todo if outcomes[i] is None and taken[i]]
    lost = [i for i in running if ends.get(taken[i]) not in (0, -signal.SIGTERM)]
    if not any(end not in (0, -signal.SIGTERM) for end in ends.values()):
        lost = running
    for i in lost:
        name = _name(items[i])
        outcomes[i] = Outcome(name, ERROR, f"{name}: {_ending(ends.get(taken[i]))}")
        bar.update()
    if not running:
        # The workers died before they took a check: the next pool would fare no better.
        for i in todo:
            if outcomes[i] is None:
                outcomes[i] = Outcome(_name(items[i]), ERROR, f"{_name(items[i])}: {broken}")
                bar.update()


def _ending(exitcode: int | None) -> str:
    if exitcode is None:
        return "worker process died"
    if exitcode >= 0:
        return f"worker process exited with status {exitcode}"
    try:
        return f"worker process killed by {signal.Signals(-exitcode).name}"
    except ValueError:
        return f"worker process killed by signal {-exitcode}"


# In a worker process: the array where it writes its pid at the index of each item it takes.
_taken_by: Any = None


def _start_worker(taken: Any) -> None:
    global _taken_by
    _taken_by = taken
    # Ctrl-C reaches the whole process group; the parent stops the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _taken(check: Callable[[T], Outcome], index: int, item: T) -> Outcome:
    _taken_by[index] = os.getpid()
    return check(item)


@contextlib.contextmanager
def dask_client(address: str, workers: int | None = None) -> Iterator[Any]:
    """A ``distributed.Client`` of the Dask cluster whose scheduler is at ``address``, or,
    if ``address`` is "local", of a new cluster of ``workers`` processes on this machine
    (default: the cores this process may use). The client, and a local cluster, are closed at
    the end of the block; an exception (Ctrl-C included) stops the local workers at once."""
    from distributed import Client, LocalCluster

    if address != "local":
        with Client(address) as client:  # type: ignore[no-untyped-call]
            yield client
        return
    others = set(active_children())
    with contextlib.ExitStack() as stack:
        with _holding_interrupts(), _stderr_kept_from_children():
            cluster = stack.enter_context(LocalCluster(  # type: ignore[no-untyped-call]
                n_workers=workers or default_jobs(), threads_per_worker=1, processes=True,
                dashboard_address=None, silence_logs=logging.CRITICAL))
            client = stack.enter_context(Client(cluster))  # type: ignore[no-untyped-call]
        try:
            yield client
        except BaseException:
            # A worker blocked on a read would hold up the closing of the cluster: stop the
            # workers now, telling their nannies not to start new ones.
            for nanny in cluster.workers.values():
                nanny.close_gracefully()
            _terminate_children_but(others)
            raise


@contextlib.contextmanager
def _holding_interrupts() -> Iterator[None]:
    """Blocks SIGINT in this thread, and in the threads started in the block, until its end,
    where a SIGINT that came meanwhile arrives: a cluster stopped halfway through its start
    cannot be closed."""
    if not hasattr(signal, "pthread_sigmask"):
        yield
        return
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


@contextlib.contextmanager
def _stderr_kept_from_children() -> Iterator[None]:
    """Points the file descriptor of stderr at the null device during the block, and so for
    good in the processes started in it: Ctrl-C in a terminal reaches them too, and one that
    is still starting would print a traceback. What they report comes back as outcomes."""
    sys.stderr.flush()
    kept = os.dup(2)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        os.dup2(null, 2)
        yield
    finally:
        sys.stderr.flush()
        os.dup2(kept, 2)
        os.close(kept)
        os.close(null)


def _terminate_children_but(others: set[Any]) -> None:
    for child in set(active_children()) - others:
        child.terminate()


def _run_on_dask(client: Any, check: Callable[[T], Outcome], items: Sequence[T],
                 outcomes: list[Outcome | None], bar: tqdm[Any]) -> None:
    import distributed

    # Not pure: a dump may change between two runs with the same client.
    futures = {future: i for i, future in enumerate(client.map(check, items, pure=False))}
    try:
        for future in distributed.as_completed(futures):  # type: ignore[no-untyped-call]
            i = futures[future]
            try:
                outcomes[i] = future.result()
            except Exception as error:  # a worker that died too often takes its check along
                outcomes[i] = Outcome(_name(items[i]), ERROR, f"{_name(items[i])}: {error}")
            bar.update()
    except BaseException:
        client.cancel(list(futures))
        raise


def _distinct(paths: Iterable[str]) -> list[str]:
    return list(dict.fromkeys(paths))


def _name(item: object) -> str:
    return item[0] if isinstance(item, tuple) else str(item)


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


def _count(count: int, singular: str, plural: str) -> str:
    return f"{count} {singular if count == 1 else plural}"


def _module(extended: bool) -> Any:
    """The module whose functions read the dialect asked for."""
    return quarnel.extended if extended else quarnel


@_guarded
def _metadata_one(extended: bool, path: str) -> Outcome:
    return Outcome(path, PASSED, "", _module(extended).metadata(path))


@_guarded
def _toggles_one(
    extended: bool, signals: list[str], start: int | None, end: int | None, path: str
) -> Outcome:
    # The module leaves the order of the names open; keep the order asked for.
    counts = _module(extended).toggles(path, signals, start, end)
    return Outcome(path, PASSED, "", {name: counts[name] for name in dict.fromkeys(signals)})


@_guarded
def _find_one(
    extended: bool,
    signal: str,
    value: str,
    occurrence: int,
    start: int | None,
    end: int | None,
    path: str,
) -> Outcome:
    result = _module(extended).find(path, signal, value, occurrence, start, end)
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
                                    strict=not extended)


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

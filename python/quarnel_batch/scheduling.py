"""Running checks over many items: in this process, on a process pool or on a Dask cluster,
with a progress bar, surviving the death of a worker, and stopped by Ctrl-C."""

from __future__ import annotations

import contextlib
import logging
import multiprocessing
import os
import signal
import sys
from concurrent.futures import ProcessPoolExecutor, as_completed
from concurrent.futures.process import BrokenProcessPool
from multiprocessing import active_children
from typing import Any, Callable, Iterator, List, Sequence, TypeVar, cast

from tqdm import tqdm

from .report import ERROR, Outcome, Report

T = TypeVar("T")


class Interrupted(KeyboardInterrupt):
    """Ctrl-C stopped a batch: ``outcomes`` holds those of the checks that finished and, for
    each other one, an error "interrupted"; ``report`` holds them as the batch function's
    report (None when run() was called directly)."""

    def __init__(self, outcomes: list[Outcome], report: Report | None = None) -> None:
        super().__init__()
        self.outcomes = outcomes
        self.report = report


def default_jobs() -> int:
    """The number of cores this process may run on."""
    if hasattr(os, "sched_getaffinity"):
        return len(os.sched_getaffinity(0))
    return os.cpu_count() or 1


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
    logs = logging.getLogger("distributed")
    level = logs.level
    try:
        with contextlib.ExitStack() as stack:
            with _holding_interrupts(), _stderr_kept_from_children():
                cluster = stack.enter_context(LocalCluster(  # type: ignore[no-untyped-call]
                    n_workers=workers or default_jobs(), threads_per_worker=1, processes=True,
                    dashboard_address=None, silence_logs=logging.CRITICAL))
                client = stack.enter_context(Client(cluster))  # type: ignore[no-untyped-call]
            try:
                yield client
            except BaseException:
                # A worker blocked on a read would hold up the closing of the cluster: stop
                # the workers now, telling their nannies not to start new ones. The client's
                # connections to them then break, which distributed would log here.
                logs.setLevel(logging.CRITICAL)
                for nanny in cluster.workers.values():
                    nanny.close_gracefully()
                _terminate_children_but(others)
                raise
    finally:
        logs.setLevel(level)


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


def _name(item: object) -> str:
    return item[0] if isinstance(item, tuple) else str(item)


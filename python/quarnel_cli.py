"""The quarnel command: the functions of the module quarnel from a shell or a CI pipeline.

    quarnel list DUMP [--filter TEXT]
    quarnel meta DUMP...
    quarnel extract DUMP -s NAME [-s NAME]... [--start T] [--end T]
                    [--format csv|json|parquet] [-o FILE]
    quarnel toggles DUMP... -s NAME [-s NAME]... [--start T] [--end T]
    quarnel find DUMP... -s NAME --value VALUE [--occurrence N] [--start T] [--end T]
    quarnel value DUMP -s NAME [-s NAME]... --at T
    quarnel sample DUMP --clock NAME -s NAME [-s NAME]... [--edge rising|falling|both]
                   [--after] [--start T] [--end T] [--format csv|parquet] [-o FILE]
    quarnel index DUMP... [--dir DIRECTORY]
    quarnel compare GOLDEN NEW [-s NAME]... [--allow-missing] [--max-mismatches N]
                    [--ignore-unknown] [--finer-unit] [--start T] [--end T]
                    [--html FILE [--html-signals N] [--html-window T]]
    quarnel plot DUMP -s NAME [-s NAME]... [--start T] [--end T] -o FILE.svg|FILE.png

All but meta and index take --buses: buses dumped one bit per variable (count[1], count[0])
are also read whole (count[1:0]), as quarnel.extended reads them with buses=True.

Dumps are read in the extended dialect (quarnel.extended); --strict reads them in the IEEE
1364 dialect only (quarnel). Options may stand before or after the dumps. Results are printed
as aligned tables, or as JSON with --json; meta, toggles, find and compare run on many dumps
at once (quarnel_batch), on -j N processes or on a Dask cluster with --dask ADDRESS, and
write JUnit XML with --junit FILE. Exit status: 0 when every dump passed, 1 when any
comparison found mismatches (or a dump had no counterpart) or a search found nothing, 2 when
any dump failed with an error, each written to stderr as "quarnel: DUMP: message", 130 when
interrupted.
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import functools
import importlib
import itertools
import io
import json
import os
import re
import stat
import sys
from fractions import Fraction
from importlib import metadata as distribution
from typing import Any, Callable, Iterator, NamedTuple, Sequence

import quarnel
import quarnel.extended
import quarnel_batch
from quarnel_batch import ERROR, Outcome, Report, waveform
from quarnel_batch.checks import module_for

EXIT_ERROR = 2
EXIT_INTERRUPTED = 130

_U64_MAX = 2**64 - 1

_OVERVIEW = """\
Answers questions about VCD waveform dumps, one subcommand per function of the Python
module quarnel:

  list     the full names of the declared signals (list_signals)
  meta     signal count, first and last time, timescale (metadata)
  extract  the time/value changes of chosen signals (extract)
  toggles  how often chosen signals change value (toggles)
  find     when a signal takes a value for the Nth time (find)
  compare  two dumps, or two directories of dumps, signal by signal (compare)
  plot     a picture of the waveforms of chosen signals, SVG or PNG (extract)
  value    the value chosen signals hold at a time (quarnel.extended.value_at)
  sample   the values of chosen signals at each edge of a clock (quarnel.extended.sample)
  index    index dumps, so that later reads start near their window (quarnel.extended.index)

Run "quarnel COMMAND --help" for the options and an example of each.

exit status: 0 when every dump passed, 1 when a comparison found mismatches or a search
found nothing, 2 on any error ("quarnel: DUMP: message" on stderr), 130 when interrupted.
"""


def _unsigned(text: str) -> int:
    """Parses an option value that the module takes as an unsigned 64-bit integer."""
    try:
        number = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if not 0 <= number <= _U64_MAX:
        raise argparse.ArgumentTypeError(f"not in the range 0 to {_U64_MAX}: {text!r}")
    return number


# Powers of ten of a second, as timescales write their units.
_UNITS = {"s": 0, "ms": -3, "us": -6, "ns": -9, "ps": -12, "fs": -15}
_TIME_WITH_UNIT = re.compile(r"(\d+(?:\.\d*)?|\.\d+) ?(s|ms|us|ns|ps|fs)")


class _Time(NamedTuple):
    """A time given with a unit, which each dump's timescale turns into ticks."""

    text: str
    seconds: Fraction


def _time(text: str) -> int | _Time:
    """Parses a time option: ticks, or a decimal number and a unit (100ns, 2.5 us)."""
    match = _TIME_WITH_UNIT.fullmatch(text.strip())
    if match is None:
        return _unsigned(text)
    return _Time(text, Fraction(match[1]) * Fraction(10) ** _UNITS[match[2]])


def _tick(path: str, time: _Time, name: str) -> Fraction | None:
    """The length of one tick of the dump in seconds, None when it cannot be read (its own
    read reports why)."""
    try:
        regular = stat.S_ISREG(os.stat(path).st_mode)
    except OSError:
        return None
    if not regular:  # the timescale would take the read the dump has
        raise _Fatal(f"{path}: --{name} {time.text} needs the timescale before the read, "
                     "and a stream is read once; give ticks")
    try:
        timescale = quarnel.extended.timescale(path)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException:  # the module's internal failures derive from BaseException
        return None
    if timescale is None:
        raise _Fatal(f"{path}: no timescale, so --{name} {time.text} names no tick")
    magnitude, unit = timescale.split()
    return int(magnitude) * Fraction(10) ** _UNITS[unit]


def _resolve_times(args: argparse.Namespace, groups: Sequence[Sequence[str]]) -> None:
    """Turns the times given with a unit into ticks, exactly: in each group of dumps (a dump,
    or the two of a pair compared in the finer unit), the ticks of its finest timescale. The
    time must be the same number of ticks in every group; a dump that cannot be read is left
    to its own read to report."""
    options = [name for name in ("start", "end", "at")
               if isinstance(getattr(args, name, None), _Time)]
    if not options or not groups:  # no dump, no time to name
        return
    # Per group that can be read, its finest tick and the dump that has it.
    finest: list[tuple[Fraction, str]] = []
    for group in groups:
        ticks = [(tick, path) for path in group
                 if (tick := _tick(path, getattr(args, options[0]), options[0])) is not None]
        if len(ticks) == len(group):
            finest.append(min(ticks))
    if not finest:  # no dump could be read: the first says why
        _one(groups[0][0], quarnel.extended.timescale)
        raise _Fatal(f"{groups[0][0]}: its timescale could not be read")
    for name in options:
        time: _Time = getattr(args, name)
        counts: dict[str, int] = {}
        for tick, path in finest:
            count = time.seconds / tick
            if count.denominator != 1:
                raise _Fatal(f"{path}: --{name} {time.text} falls between the ticks of its "
                             "timescale")
            if count > _U64_MAX:
                raise _Fatal(f"{path}: --{name} {time.text} is past the last time 64-bit ticks "
                             "can name")
            counts[path] = int(count)
        if len(set(counts.values())) > 1:
            (first, one), (last, other) = next(iter(counts.items())), counts.popitem()
            raise _Fatal(f"{last}: --{name} {time.text} is {other} ticks, but {one} in {first}; "
                         "give ticks")
        setattr(args, name, counts.popitem()[1])
    if None not in (getattr(args, "start", None), getattr(args, "end", None)) and \
            args.start > args.end:
        raise _Fatal(f"{groups[0][0]}: --start {args.start} is after --end {args.end}")


def _positive(text: str) -> int:
    number = _unsigned(text)
    if number == 0:
        raise argparse.ArgumentTypeError("must be at least 1")
    return number


def _cell(value: object) -> str:
    if value is None:
        return "-"
    if isinstance(value, bool):
        return "yes" if value else "no"
    return str(value)


def _table(header: Sequence[str], rows: Sequence[Sequence[object]]) -> str:
    """Aligns the columns under a header row; columns that hold only integers align right."""
    numeric = [
        all(isinstance(row[i], int) and not isinstance(row[i], bool) for row in rows)
        for i in range(len(header))
    ]
    lines = [list(header)] + [[_cell(value) for value in row] for row in rows]
    widths = [max(len(line[i]) for line in lines) for i in range(len(header))]
    return "".join(
        "  ".join(
            text.rjust(width) if right else text.ljust(width)
            for text, width, right in zip(line, widths, numeric)
        ).rstrip()
        + "\n"
        for line in lines
    )


class _Fatal(Exception):
    """An error that ends the command; its text starts with the path at fault."""


# Per subcommand: the run, which returns the result (for --json) and the text to print.


@contextlib.contextmanager
def _failures_of(path: str) -> Iterator[None]:
    """Turns a failure of the module on one dump into the end of the command."""
    try:
        yield
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # the module's internal failures derive from BaseException
        raise _Fatal(f"{path}: {str(error) or type(error).__name__}") from error


def _one(path: str, call: Callable[..., Any], *args: Any) -> Any:
    """Calls a function of the module on one dump; its failure ends the command."""
    with _failures_of(path):
        return call(path, *args)


def _module(args: argparse.Namespace) -> Any:
    """The module whose functions read the dialect asked for, and buses whole on --buses."""
    return module_for(not args.strict, getattr(args, "buses", False))


def _buses(args: argparse.Namespace) -> dict[str, bool]:
    """The option of quarnel.extended that --buses asks for."""
    return {"buses": True} if getattr(args, "buses", False) else {}


def _list(args: argparse.Namespace) -> tuple[Any, str]:
    names = _one(args.dumps[0], _module(args).list_signals, args.filter)
    return names, "".join(name + "\n" for name in names)


# What a subcommand returns when it has written its output itself, as it went.
_WRITTEN = object()


def _change_table(args: argparse.Namespace) -> Any:
    return _one(args.dumps[0], lambda path: quarnel.extended.extract_table(
        path, args.signals, args.start, args.end, strict=args.strict, **_buses(args)))


def _extract(args: argparse.Namespace) -> tuple[Any, str]:
    """Writes the changes while the dump is read, a batch of rows at a time, so that the first
    rows come at once and memory stays bounded whatever the length."""
    table = _change_table(args)
    if args.format == "parquet":
        _write_parquet(args, table)
        return _WRITTEN, ""
    form = {"csv": "csv", "json": "jsonl"}.get(args.format) or ("json" if args.json else "aligned")
    with _output(args) as out:
        for text in _read(args.dumps[0], table.text(form)):
            out.write(text)
    return _WRITTEN, ""


@contextlib.contextmanager
def _output(args: argparse.Namespace) -> Iterator[Any]:
    """The file of -o, or stdout; a failure to open or write it ends the command."""
    with contextlib.ExitStack() as stack:
        out = sys.stdout
        try:
            if args.output is not None:
                out = stack.enter_context(open(args.output, "w", encoding="utf-8",
                                               errors="surrogateescape", newline=""))
            yield out
        except BrokenPipeError:  # quarnel extract ... | head
            raise
        except OSError as error:
            raise _Fatal(f"{args.output}: {error.strerror or error}") from error


def _read(path: str, items: Iterator[Any]) -> Iterator[Any]:
    """The items of `items`, each taken as a read of the dump `path`: its failure ends the
    command."""
    end = object()
    while True:
        with _failures_of(path):
            item = next(items, end)
        if item is end:
            return
        yield item


def _write_parquet(args: argparse.Namespace, table: Any) -> None:
    """Writes a table (extract_table, sample) to a Parquet file, batch by batch."""
    import pyarrow  # type: ignore[import-untyped]
    import pyarrow.parquet  # type: ignore[import-untyped]

    reader = pyarrow.RecordBatchReader.from_stream(table)
    try:
        with pyarrow.parquet.ParquetWriter(args.output, reader.schema) as writer:
            for batch in _read(args.dumps[0], iter(reader)):
                writer.write_batch(batch)
    except OSError as error:
        raise _Fatal(f"{args.output}: {error}") from error


def _value(args: argparse.Namespace) -> tuple[Any, str]:
    values = _one(args.dumps[0], lambda path: quarnel.extended.value_at(
        path, args.signals, args.at, **_buses(args)))
    return values, _table(["signal", "value"], [list(item) for item in values.items()])


def _sample(args: argparse.Namespace) -> tuple[Any, str]:
    """Writes one row per clock edge while the dump is read."""
    table = _one(args.dumps[0], lambda path: quarnel.extended.sample(
        path, args.clock, args.signals, args.edge, args.start, args.end, after=args.after,
        **_buses(args)))
    if args.format == "parquet":
        _write_parquet(args, table)
        return _WRITTEN, ""
    header = ["cycle", "time", *args.signals]
    rows = _read(args.dumps[0], table.rows())
    with _output(args) as out:
        if args.format == "csv":
            writer = csv.writer(out, lineterminator="\n")
            writer.writerow(header)
            writer.writerows(rows)
        elif args.json:
            out.write(json.dumps([dict(zip(header, row)) for row in rows], indent=2) + "\n")
        else:  # columns as wide as the first rows need; cycle and time align right
            first = list(itertools.islice(rows, 4096))
            out.write(_table(header, first))
            widths = [max([len(name), *(len(_cell(row[i])) for row in first)])
                      for i, name in enumerate(header)]
            for row in rows:
                out.write("  ".join(_cell(v).rjust(w) if i < 2 else _cell(v).ljust(w)
                                    for i, (v, w) in enumerate(zip(row, widths))).rstrip() + "\n")
    return _WRITTEN, ""


def _index(args: argparse.Namespace) -> tuple[Any, str]:
    """Indexes each dump in turn (each takes every core); one that fails is reported after
    the others are indexed."""
    built = {}
    for path in args.dumps:
        try:
            built[path] = _one(path, quarnel.extended.index, args.dir)
        except _Fatal as error:
            args.failures.append(str(error))
    keys = ["index", "bytes", "checkpoints", "snapshots", "error"]
    return built, _table(["dump", *keys], [[path, *(b[k] for k in keys)]
                                          for path, b in built.items()])


def _rows(report: Report, header: list[str], row: Callable[[Any], list[object]]) -> str:
    passed = [[o.name, *row(o.result)] for o in report.outcomes if o.status != ERROR]
    return _table(header, passed) if passed else ""


def _meta(args: argparse.Namespace) -> tuple[Report, str]:
    report = quarnel_batch.metadata(args.dumps, jobs=args.jobs, progress=_progress(),
                                    extended=not args.strict, client=args.client)
    keys = ["signal_count", "start_time", "end_time", "timescale"]
    return report, _rows(report, ["dump", *keys], lambda meta: [meta[key] for key in keys])


def _toggles(args: argparse.Namespace) -> tuple[Report, str]:
    report = quarnel_batch.toggles(
        args.dumps, args.signals, start=args.start, end=args.end, jobs=args.jobs,
        progress=_progress(), extended=not args.strict, client=args.client, buses=args.buses)
    names = list(dict.fromkeys(args.signals))
    return report, _rows(report, ["dump", *names], lambda counts: list(counts.values()))


def _find(args: argparse.Namespace) -> tuple[Report, str]:
    report = quarnel_batch.find(
        args.dumps, args.signals[0], args.value, occurrence=args.occurrence, start=args.start,
        end=args.end, jobs=args.jobs, progress=_progress(), extended=not args.strict,
        client=args.client, buses=args.buses)
    fields = ["found", "time", "value"]
    return report, _rows(report, ["dump", *fields], lambda found: [found[f] for f in fields])


def _compare(args: argparse.Namespace) -> tuple[Report, str]:
    golden, new = args.golden, args.new
    directories = [os.path.isdir(golden), os.path.isdir(new)]
    if all(directories):
        try:
            pairs = quarnel_batch.pair_dumps(golden, new)
        except OSError as error:
            raise _Fatal(f"{error.filename}: {error.strerror}") from error
        if not pairs:
            raise _Fatal(f"{golden}: no dump (*.vcd) here or under {new}")
    elif any(directories):
        raise _Fatal(f"{new if directories[0] else golden}: not a directory")
    else:
        pairs = [(new, golden, new)]
    dumps = [[path for path in pair[1:] if isinstance(path, str)] for pair in pairs]
    _resolve_times(args, dumps if args.finer_unit else [[path] for group in dumps
                                                        for path in group])
    report = quarnel_batch.compare(
        pairs, signals=args.signals, allow_missing=args.allow_missing,
        max_mismatches=args.max_mismatches, ignore_unknown=args.ignore_unknown,
        start=args.start, end=args.end, held_at_start=True, jobs=args.jobs,
        progress=_progress(), extended=not args.strict, client=args.client,
        timescales="finer" if args.finer_unit else "same", buses=args.buses)
    text = "".join(_compare_text(o, named=all(directories)) for o in report.outcomes)
    if all(directories):
        text += report.summary() + "\n"
    return report, text


def _plot(args: argparse.Namespace) -> tuple[Any, str]:
    path = args.dumps[0]
    svg = _one(path, functools.partial(waveform.plot, _module(args)), args.signals, args.start,
               args.end)
    try:
        waveform.save(svg, args.output)
    except OSError as error:
        raise _Fatal(f"{args.output}: {error.strerror or error}") from error
    return None, ""


def _write_html(report: Report, args: argparse.Namespace) -> bool:
    """Writes the HTML page of a comparison if asked; False when it cannot be written."""
    if getattr(args, "html", None) is None:
        return True
    try:
        quarnel_batch.write_html(report, args.html, signals=args.html_signals,
                                 extended=not args.strict, window=args.html_window,
                                 timescales="finer" if args.finer_unit else "same",
                                 jobs=args.jobs, progress=_progress(), buses=args.buses)
    except OSError as error:
        print(f"quarnel: {args.html}: {error.strerror or error}", file=sys.stderr)
        return False
    return True


def _compare_text(outcome: Outcome, named: bool) -> str:
    if outcome.status == ERROR:
        return ""
    result = outcome.result
    text = (f"{outcome.name}: " if named else "") + outcome.message.splitlines()[0] + "\n"
    if result is None:  # no counterpart
        return text
    for path, names in (
        (result["file1"], result["signals_only_in_file1"]),
        (result["file2"], result["signals_only_in_file2"]),
    ):
        if names:
            text += f"only in {path}: {', '.join(names)}\n"
    if result["mismatches"]:
        rows = [list(mismatch.values()) for mismatch in result["mismatches"]]
        text += _table(["signal", "time", "value1", "value2", "is_unknown"], rows)
    return text


def _progress() -> bool:
    return sys.stderr.isatty()


def _parsers() -> tuple[argparse.ArgumentParser, dict[str, argparse.ArgumentParser]]:
    top = argparse.ArgumentParser(
        prog="quarnel", description=_OVERVIEW, formatter_class=argparse.RawDescriptionHelpFormatter)
    top.add_argument("--version", action="version",
                     version=f"quarnel {distribution.version('quarnel')}")
    top.add_argument("command", metavar="COMMAND", choices=["list", "meta", "extract",
                                                            "toggles", "find", "compare",
                                                            "plot", "value", "index",
                                                            "sample"])
    top.add_argument("arguments", nargs=argparse.REMAINDER, help=argparse.SUPPRESS)
    commands = {}

    def command(name: str, run: Any, dumps: str, summary: str, *examples: str,
                batch: bool = True) -> argparse.ArgumentParser:
        sub = argparse.ArgumentParser(
            prog=f"quarnel {name}", description=summary, allow_abbrev=False,
            epilog="example:\n" + "".join(f"  {example}\n" for example in examples),
            formatter_class=argparse.RawDescriptionHelpFormatter)
        sub.set_defaults(run=run)
        if dumps == "DUMP":
            sub.add_argument("dumps", nargs=1, metavar="DUMP")
        elif dumps == "DUMP...":
            sub.add_argument("dumps", nargs="+", metavar="DUMP")
        sub.add_argument("--json", action="store_true", help="print JSON instead of a table")
        sub.add_argument("--strict", action="store_true",
                         help="read the IEEE 1364 dialect only (default: the extended dialect)")
        if batch:
            sub.add_argument("-j", "--jobs", type=_positive, metavar="N",
                             help="dumps read at once (default: the usable cores)")
            sub.add_argument("--dask", metavar="ADDRESS",
                             help="read the dumps on the Dask cluster whose scheduler is at "
                             "ADDRESS, or on a local cluster of N worker processes if ADDRESS "
                             "is 'local'; the workers must see the dumps at the paths given")
            sub.add_argument("--junit", metavar="FILE",
                             help="write a JUnit XML report, one test case per dump")
        commands[name] = sub
        return sub

    def signals(sub: argparse.ArgumentParser, required: bool, summary: str) -> None:
        sub.add_argument("-s", "--signal", dest="signals", action="append", required=required,
                         metavar="NAME", help=summary)

    def buses(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("--buses", action="store_true",
                         help="also read buses dumped one bit per variable (count[1], count[0]) "
                         "whole, as count[1:0]")

    def window(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("--start", type=_time, metavar="T",
                         help="first time (inclusive): ticks, or with a unit (100ns)")
        sub.add_argument("--end", type=_time, metavar="T",
                         help="last time (inclusive): ticks, or with a unit (2.5us)")

    sub = command("list", _list, "DUMP", "Prints the declared signal names, one per line.",
                  "quarnel list examples/counter.vcd --filter dut", batch=False)
    sub.add_argument("--filter", metavar="TEXT", help="keep the names that contain TEXT")
    buses(sub)

    command("meta", _meta, "DUMP...",
            "Prints the signal count, first and last time and timescale of each dump.",
            "quarnel meta examples/counter.vcd examples/uart/uart_tx.vcd")

    sub = command("extract", _extract, "DUMP", "Prints the time/value changes of signals.",
                  "quarnel extract examples/counter.vcd -s 'tb.dut.count[3:0]' -s tb.duty "
                  "--start 100 --end 130", batch=False)
    signals(sub, True, "full signal name (repeat for more)")
    window(sub)
    buses(sub)
    sub.add_argument("--format", choices=["csv", "json", "parquet"],
                     help="write CSV, JSON Lines (one record a line) or Parquet (the columns "
                     "of quarnel.extended.extract_table; needs pyarrow: quarnel[arrow]) "
                     "instead of a table")
    sub.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of stdout")

    sub = command("toggles", _toggles, "DUMP...", "Counts how often signals change value.",
                  "quarnel toggles examples/counter.vcd -s tb.clk -s tb.rst")
    signals(sub, True, "full signal name (repeat for more)")
    window(sub)
    buses(sub)

    sub = command("find", _find, "DUMP...",
                  "Finds when a signal takes a value for the Nth time; a dump where it never "
                  "does fails.",
                  "quarnel find examples/counter.vcd -s 'tb.dut.count[3:0]' --value 0xA")
    signals(sub, True, "full signal name")
    sub.add_argument("--value", required=True,
                     help='target: decimal, "0x" hexadecimal, x, z or a string value')
    sub.add_argument("--occurrence", type=_positive, default=1, metavar="N", help="default 1")
    window(sub)
    buses(sub)

    sub = command(
        "compare", _compare, "",
        "Compares two dumps signal by signal. Given two directories, compares every dump under "
        "GOLDEN (recursively, *.vcd) with the dump of the same relative path under NEW; a dump "
        "without counterpart fails. A name given with -s that is not declared in both dumps, "
        "or no common signal at all, is an error unless --allow-missing is given.",
        "quarnel compare examples/counter.vcd examples/counter_changed.vcd --max-mismatches 5",
        "quarnel compare examples/uart/uart_tx_golden.vcd examples/uart/uart_tx.vcd "
        "-s tb.tx -s tb.busy --junit /tmp/quarnel.xml")
    sub.add_argument("golden", metavar="GOLDEN", help="a dump, or a directory of dumps")
    sub.add_argument("new", metavar="NEW", help="a dump, or a directory of dumps")
    signals(sub, False, "compare only this signal (repeat for more; default: all common)")
    sub.add_argument("--allow-missing", action="store_true",
                     help="ignore -s names that are not in both dumps, and pass with no "
                     "common signal")
    sub.add_argument("--max-mismatches", type=_unsigned, metavar="N",
                     help="stop each signal at N mismatches (0 acts as 1)")
    sub.add_argument("--ignore-unknown", action="store_true",
                     help="no mismatch while either side is x or z")
    sub.add_argument("--finer-unit", action="store_true",
                     help="compare dumps whose timescales differ in the finer one (--start, "
                     "--end and the times shown in it); without it they are an error")
    window(sub)
    sub.add_argument("--html", metavar="FILE",
                     help="write a self-contained HTML page: the golden and the new waveforms "
                     "of each mismatching signal around its first mismatch")
    sub.add_argument("--html-signals", type=_positive, default=8, metavar="N",
                     help="draw at most N mismatching signals per pair (default 8)")
    sub.add_argument("--html-window", type=_positive, metavar="T",
                     help="draw T ticks around each first mismatch (default: a few changes "
                     "on either side)")
    buses(sub)

    sub = command("plot", _plot, "DUMP",
                  "Draws the waveforms of signals as SVG, or as PNG (needs cairosvg: "
                  "quarnel[plot]).",
                  "quarnel plot examples/counter.vcd -s tb.clk -s 'tb.dut.count[3:0]' "
                  "--end 200 -o /tmp/counter.svg", batch=False)
    signals(sub, True, "full signal name (repeat for more)")
    window(sub)
    buses(sub)
    sub.add_argument("-o", "--output", required=True, metavar="FILE",
                     help="the picture to write: FILE.svg or FILE.png")

    sub = command("value", _value, "DUMP",
                  "Prints the value each signal holds at a time: that of its last change at or "
                  "before it, '-' before its first change. Reads the extended dialect only.",
                  "quarnel value examples/counter.vcd -s 'tb.dut.count[3:0]' -s tb.duty --at 100",
                  batch=False)
    signals(sub, True, "full signal name (repeat for more)")
    sub.add_argument("--at", type=_time, required=True, metavar="T",
                     help="the time: ticks, or with a unit (2.5us)")
    buses(sub)

    sub = command("sample", _sample, "DUMP",
                  "Prints the value of each signal just before each edge of a clock (--after: "
                  "just after it), one row per edge with its cycle number (0 for the first "
                  "edge of the dump) and time; '-' before a signal's first change. Reads the "
                  "extended dialect only.",
                  "quarnel sample examples/counter.vcd --clock tb.clk -s 'tb.dut.count[3:0]' "
                  "--end 60", batch=False)
    sub.add_argument("--clock", required=True, metavar="NAME", help="the clock's full name")
    signals(sub, True, "full signal name, one column each (repeat for more)")
    sub.add_argument("--edge", choices=["rising", "falling", "both"], default="rising",
                     help="the edges that make rows (default rising: 0 to 1)")
    sub.add_argument("--after", action="store_true",
                     help="the values after the changes at each edge's time")
    window(sub)
    buses(sub)
    sub.add_argument("--format", choices=["csv", "parquet"],
                     help="write CSV or Parquet (the columns of quarnel.extended.sample) "
                     "instead of a table")
    sub.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of stdout")

    sub = command("index", _index, "DUMP...",
                  "Reads each dump once and writes its index beside it (DUMP.qidx) or into "
                  "DIRECTORY; the other subcommands then read from the point of the index "
                  "nearest their window, while the index matches the dump. Reads the "
                  "extended dialect only.",
                  "quarnel index examples/counter.vcd --dir /tmp", batch=False)
    sub.add_argument("--dir", metavar="DIRECTORY",
                     help="where to write the indexes (default: $QUARNEL_INDEX_DIR, or beside "
                     "each dump); the other subcommands look there when QUARNEL_INDEX_DIR "
                     "names it")
    return top, commands


def _parse(argv: Sequence[str] | None) -> argparse.Namespace:
    top, commands = _parsers()
    first = top.parse_args(argv)
    sub = commands[first.command]
    args = sub.parse_intermixed_args(first.arguments)
    if first.command == "find" and len(args.signals) != 1:
        sub.error("give exactly one -s/--signal")
    if all(isinstance(getattr(args, name, None), int) for name in ("start", "end")) and \
            args.start > args.end:
        sub.error(f"--start {args.start} is after --end {args.end}")
    if first.command in ("value", "index", "sample") and args.strict:
        sub.error("reads the extended dialect only (no --strict)")
    if getattr(args, "buses", False) and args.strict:
        sub.error("--buses reads the extended dialect only (no --strict)")
    if getattr(args, "format", None) is not None and args.json:
        sub.error("give --json or --format, not both")
    if getattr(args, "format", None) == "parquet":
        if args.output is None:
            sub.error("--format parquet needs -o FILE")
        try:
            import pyarrow.parquet  # noqa: F401
        except ImportError:
            sub.error("--format parquet needs pyarrow: pip install 'quarnel[arrow]', or from "
                      "the repository python -m pip install '.[arrow]'")
    if first.command == "plot":
        if args.json:
            sub.error("plot writes a picture, not JSON")
        if not args.output.lower().endswith((".svg", ".png")):
            sub.error("-o must name a .svg or .png file")
        if args.output.lower().endswith(".png"):
            try:
                importlib.import_module("cairosvg")
            except (ImportError, OSError):
                sub.error("-o FILE.png needs cairosvg: pip install 'quarnel[plot]', or from "
                          "the repository python -m pip install '.[plot]'")
    if getattr(args, "html_window", None) is not None and args.html is None:
        sub.error("--html-window needs --html FILE")
    if getattr(args, "dask", None) is not None:
        try:
            import distributed  # noqa: F401
        except ImportError:
            sub.error("--dask needs Dask: pip install 'quarnel[dask]', or from the repository "
                      "python -m pip install '.[dask]'")
    return args


@contextlib.contextmanager
def _dask_client(args: argparse.Namespace) -> Iterator[Any]:
    """The client of the Dask cluster that --dask names (a local one of -j workers lasts as
    long as the run), None without --dask."""
    if getattr(args, "dask", None) is None:
        yield None
        return
    with contextlib.ExitStack() as stack:
        try:
            client = stack.enter_context(quarnel_batch.dask_client(args.dask, args.jobs))
        except Exception as error:
            raise _Fatal(f"{args.dask}: {error}") from error
        yield client


def _report_errors(report: Report) -> None:
    for outcome in report.outcomes:
        if outcome.status == ERROR:
            for line in outcome.message.splitlines():
                print(f"quarnel: {line}", file=sys.stderr)


def _write_junit(report: Report, path: str | None, html: str | None = None) -> bool:
    """Writes the JUnit report if asked, its failures naming the HTML page if there is one;
    False when it cannot be written."""
    if path is None:
        return True
    try:
        report.write_junit(path, html)
    except OSError as error:
        print(f"quarnel: {path}: {error.strerror or error}", file=sys.stderr)
        return False
    return True


def _run(argv: Sequence[str] | None) -> int:
    args = _parse(argv)
    args.failures = []  # of the dumps of a command that goes on past them
    try:
        if args.run is not _compare:  # compare's dumps are its pairs
            _resolve_times(args, [[path] for path in getattr(args, "dumps", [])])
        with _dask_client(args) as args.client:
            result, text = args.run(args)
    except _Fatal as error:
        print(f"quarnel: {error}", file=sys.stderr)
        return EXIT_ERROR
    except quarnel_batch.Interrupted as stop:
        if stop.report is not None:  # what finished, the rest marked interrupted
            _write_junit(stop.report, args.junit)
        raise
    if result is _WRITTEN:
        return 0
    output = result.to_dict() if isinstance(result, Report) else result
    sys.stdout.write(json.dumps(output, indent=2) + "\n" if args.json else text)
    if not isinstance(result, Report):
        sys.stdout.flush()
        for failure in args.failures:
            print(f"quarnel: {failure}", file=sys.stderr)
        return EXIT_ERROR if args.failures else 0
    sys.stdout.flush()
    _report_errors(result)
    try:
        html = _write_html(result, args)
    except KeyboardInterrupt:
        _write_junit(result, args.junit)
        raise
    if not _write_junit(result, args.junit, getattr(args, "html", None) if html else None) \
            or not html:
        return EXIT_ERROR
    return result.exit_status


def main(argv: Sequence[str] | None = None) -> int:
    # A file name that is not UTF-8 is printed as the bytes it is made of.
    if isinstance(sys.stdout, io.TextIOWrapper):
        sys.stdout.reconfigure(errors="surrogateescape")
    try:
        status = _run(argv)
        sys.stdout.flush()
        return status
    except KeyboardInterrupt:
        print("quarnel: interrupted", file=sys.stderr)
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # The reader has gone (quarnel extract ... | head); keep the exit quiet.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_ERROR


if __name__ == "__main__":
    sys.exit(main())

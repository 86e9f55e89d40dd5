"""The quarnel command: the functions of the module quarnel from a shell or a CI pipeline.

Every subcommand calls one function of the module with the same parameters and prints its
result as an aligned table, or as JSON with --json:

    quarnel list DUMP [--filter TEXT]
    quarnel meta DUMP
    quarnel extract DUMP --signals NAME... [--start T] [--end T]
    quarnel toggles DUMP --signals NAME... [--start T] [--end T]
    quarnel find DUMP SIGNAL VALUE [--occurrence N] [--start T] [--end T]
    quarnel compare DUMP1 DUMP2 [--signals NAME...] [--max-mismatches N] [--ignore-unknown]
                    [--start T] [--end T]

Exit status: 0 on success, 1 when compare finds mismatches or find finds nothing, 2 on any
error, whose text alone is written to stderr.
"""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import TYPE_CHECKING, Any, Sequence

import quarnel

if TYPE_CHECKING:  # the result types exist only in the module's stubs
    from quarnel import ComparisonResult, FindResult, TimeValue, VcdMetadata

EXIT_OK = 0
EXIT_NEGATIVE = 1
EXIT_ERROR = 2

_U64_MAX = 2**64 - 1


def _unsigned(text: str) -> int:
    """Parses an option value that the module takes as an unsigned 64-bit integer."""
    try:
        number = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not an integer: {text!r}") from None
    if not 0 <= number <= _U64_MAX:
        raise argparse.ArgumentTypeError(f"not in the range 0 to {_U64_MAX}: {text!r}")
    return number


def _count(count: int, singular: str, plural: str) -> str:
    return f"{count} {singular if count == 1 else plural}"


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


def _distinct(names: Sequence[str]) -> list[str]:
    return list(dict.fromkeys(names))


# Per subcommand: the call of the module, and the table of its result.


def _list(args: argparse.Namespace) -> list[str]:
    return quarnel.list_signals(args.path, args.filter)


def _list_table(args: argparse.Namespace, names: list[str]) -> str:
    return _table(["signal"], [[name] for name in names])


def _meta(args: argparse.Namespace) -> VcdMetadata:
    return quarnel.metadata(args.path)


def _meta_table(args: argparse.Namespace, meta: VcdMetadata) -> str:
    return _table(["key", "value"], list(meta.items()))


def _extract(args: argparse.Namespace) -> list[TimeValue]:
    return quarnel.extract(args.path, args.signals, args.start, args.end)


def _extract_table(args: argparse.Namespace, records: list[TimeValue]) -> str:
    return _table(["signal", "time", "value"], [list(record.values()) for record in records])


def _toggles(args: argparse.Namespace) -> dict[str, int]:
    # The module leaves the order of the names open; show them in the order asked for.
    counts = quarnel.toggles(args.path, args.signals, args.start, args.end)
    return {name: counts[name] for name in _distinct(args.signals)}


def _toggles_table(args: argparse.Namespace, counts: dict[str, int]) -> str:
    return _table(["signal", "toggles"], list(counts.items()))


def _find(args: argparse.Namespace) -> FindResult:
    return quarnel.find(args.path, args.signal, args.value, args.occurrence, args.start, args.end)


def _find_table(args: argparse.Namespace, result: FindResult) -> str:
    return _table(["found", "signal", "time", "value"], [list(result.values())])


def _compare(args: argparse.Namespace) -> ComparisonResult:
    return quarnel.compare(
        args.file1,
        args.file2,
        max_mismatches=args.max_mismatches,
        signals=args.signals,
        ignore_unknown=args.ignore_unknown,
        start=args.start,
        end=args.end,
    )


def _compare_table(args: argparse.Namespace, result: ComparisonResult) -> str:
    common = _count(len(result["common_signals"]), "common signal", "common signals")
    if result["passed"]:
        text = f"passed: {common}, no mismatches\n"
    else:
        mismatches = _count(result["total_mismatches"], "mismatch", "mismatches")
        signals = _count(result["signals_with_mismatches"], "signal", "signals")
        text = f"FAILED: {mismatches} in {signals} ({common})\n"
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


def _status(args: argparse.Namespace, result: Any) -> int:
    if args.command == "compare":
        return EXIT_OK if result["passed"] else EXIT_NEGATIVE
    if args.command == "find":
        return EXIT_OK if result["found"] else EXIT_NEGATIVE
    return EXIT_OK


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="quarnel",
        description="Query VCD waveform files. Exit status: 0 on success, 1 when compare finds "
        "mismatches or find finds nothing, 2 on any error.",
    )
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def command(name: str, summary: str, run: Any, table: Any) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=summary, description=summary)
        sub.set_defaults(run=run, table=table)
        sub.add_argument("--json", action="store_true", help="print JSON instead of a table")
        return sub

    def signals(sub: argparse.ArgumentParser, required: bool, summary: str) -> None:
        sub.add_argument(
            "--signals", nargs="+", action="extend", required=required, metavar="NAME", help=summary
        )

    def window(sub: argparse.ArgumentParser) -> None:
        sub.add_argument("--start", type=_unsigned, metavar="T", help="first time (inclusive)")
        sub.add_argument("--end", type=_unsigned, metavar="T", help="last time (inclusive)")

    sub = command("list", "list the declared signal names", _list, _list_table)
    sub.add_argument("path", metavar="DUMP")
    sub.add_argument("--filter", metavar="TEXT", help="keep the names that contain TEXT")

    sub = command("meta", "signal count, first and last time, timescale", _meta, _meta_table)
    sub.add_argument("path", metavar="DUMP")

    for name, summary, run, table in (
        ("extract", "the time/value changes of signals", _extract, _extract_table),
        ("toggles", "how often signals change value", _toggles, _toggles_table),
    ):
        sub = command(name, summary, run, table)
        sub.add_argument("path", metavar="DUMP")
        signals(sub, True, "full signal names")
        window(sub)

    sub = command("find", "when a signal takes a value for the Nth time", _find, _find_table)
    sub.add_argument("path", metavar="DUMP")
    sub.add_argument("signal", metavar="SIGNAL", help="full signal name")
    sub.add_argument("value", metavar="VALUE", help='decimal, "0x" hexadecimal, x or z')
    sub.add_argument("--occurrence", type=_unsigned, default=1, metavar="N", help="default 1")
    window(sub)

    sub = command("compare", "compare two dumps signal by signal", _compare, _compare_table)
    sub.add_argument("file1", metavar="DUMP1")
    sub.add_argument("file2", metavar="DUMP2")
    signals(sub, False, "compare only these common signals (default: all)")
    sub.add_argument(
        "--max-mismatches", type=_unsigned, metavar="N", help="stop each signal at N (0 acts as 1)"
    )
    sub.add_argument(
        "--ignore-unknown", action="store_true", help="no mismatch while either side is x or z"
    )
    window(sub)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    try:
        result = args.run(args)
        status = _status(args, result)
        output = json.dumps(result, indent=2) + "\n" if args.json else args.table(args, result)
        sys.stdout.write(output)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader has gone (quarnel extract ... | head); keep the exit quiet.
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        return EXIT_ERROR
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as error:  # the module's internal failures derive from BaseException
        print(str(error) or type(error).__name__, file=sys.stderr)
        return EXIT_ERROR
    return status


if __name__ == "__main__":
    sys.exit(main())

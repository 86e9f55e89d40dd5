"""Type stubs for quarnel.extended: the six functions of quarnel, reading the extended dialect.

They also take os.PathLike objects as paths, and compare has the option ``timescales``.
extract_table gives the records of extract as an Arrow table; value_at the value each signal
holds at a time. The functions that take names also take buses=True, which reads buses
dumped one bit per variable (count[1], count[0]) whole (count[1:0]); buses lists them.
"""

from collections.abc import Iterator, Sequence
from os import PathLike
from typing import Any, Literal, SupportsIndex, TypedDict, Union, final

from quarnel import ComparisonResult, FindResult, TimeValue, VcdMetadata

__all__ = ["list_signals", "metadata", "extract", "toggles", "find", "compare", "extract_table",
           "value_at", "timescale",
           "index", "buses", "sample"]

StrPath = Union[str, PathLike[str]]

def list_signals(path: StrPath, filter: str | None = None, *, buses: bool = False) -> list[str]: ...
def metadata(path: StrPath) -> VcdMetadata: ...
def extract(
    path: StrPath,
    signals: Sequence[str],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    buses: bool = False,
) -> list[TimeValue]: ...
def toggles(
    path: StrPath,
    signals: Sequence[str],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    buses: bool = False,
) -> dict[str, int]: ...
def find(
    path: StrPath,
    signal: str,
    value: str,
    occurrence: SupportsIndex = 1,
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    buses: bool = False,
) -> FindResult: ...

# timescales: "ticks" compares times as written, whatever the timescales; "same" raises
# RuntimeError when they differ (a dump without one differs); "finer" converts both dumps to
# the finer timescale, in which start, end and the mismatch times are then given. strict=True
# reads both dumps as quarnel.compare does (IEEE 1364 only, not compressed). held_at_start=True
# compares first the values each signal holds at start, as changes at start.
def compare(
    file1: StrPath,
    file2: StrPath,
    *,
    max_mismatches: SupportsIndex | None = None,
    signals: Sequence[str] | None = None,
    ignore_unknown: bool = False,
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    timescales: Literal["ticks", "same", "finer"] = "ticks",
    strict: bool = False,
    held_at_start: bool = False,
    buses: bool = False,
) -> ComparisonResult: ...

# The changes of chosen signals as an Arrow table, read through the Arrow PyCapsule interface
# (pyarrow.table(t), polars.DataFrame(t), DuckDB). Columns: time (uint64), signal
# (dictionary of utf8), value (utf8, extract's text), integer (uint64: bits of 0 and 1 whose
# value fits in 64 bits, else null), real (float64: the value of a real change, else null).
@final
class ChangeTable:
    def __arrow_c_schema__(self) -> Any: ...
    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any: ...
    def rows(self) -> Iterator[tuple[str, int, str]]: ...
    def text(self, form: Literal["csv", "jsonl", "json", "aligned"]) -> Iterator[str]: ...

def extract_table(
    path: StrPath,
    signals: Sequence[str],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    strict: bool = False,
    buses: bool = False,
) -> ChangeTable: ...

# Per name (keys in the order asked): the value of its last change at or before time, the last
# in file order within a time stamp, as extract writes it; None before its first change.
def value_at(
    path: StrPath,
    signals: Sequence[str],
    time: SupportsIndex,
    *,
    buses: bool = False,
) -> dict[str, str | None]: ...

# The timescale as metadata gives it ("1 ns"), or None; only the declarations are read.
def timescale(path: StrPath) -> str | None: ...

class IndexResult(TypedDict):
    index: str
    bytes: int
    checkpoints: int
    snapshots: int
    error: str | None

# Reads the dump once and writes its index (path + ".qidx", or into directory or
# $QUARNEL_INDEX_DIR); the functions here use it while it matches the dump.
def index(path: StrPath, directory: StrPath | None = None) -> IndexResult: ...

# Each bus that the dump declares one bit per variable, with its bits (most significant first).
def buses(path: StrPath) -> dict[str, list[str]]: ...

# One row per edge of the clock: cycle (uint64, the edge's number from the start of the dump),
# time (uint64), then per signal a utf8 column of the value it held just before the edge (with
# after=True: after the changes at its time), null before its first change.
@final
class SampleTable:
    def __arrow_c_schema__(self) -> Any: ...
    def __arrow_c_stream__(self, requested_schema: Any = None) -> Any: ...
    # (cycle, time, then a value per signal, None before its first change)
    def rows(self) -> Iterator[tuple[Any, ...]]: ...

def sample(
    path: StrPath,
    clock: str,
    signals: Sequence[str],
    edge: Literal["rising", "falling", "both"] = "rising",
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
    *,
    after: bool = False,
    buses: bool = False,
) -> SampleTable: ...

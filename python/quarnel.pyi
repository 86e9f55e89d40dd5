"""Type stubs for the extension module quarnel.

The result types below exist for type checkers only: the module itself defines just its six
functions, PanicException and __version__. To name a result type in an annotation, import it
under ``typing.TYPE_CHECKING``.
"""

from collections.abc import Sequence
from typing import Literal, SupportsIndex, TypedDict, Union

from quarnel import extended as extended  # the same functions, reading the extended dialect

__all__ = ["list_signals", "metadata", "extract", "toggles", "find", "compare"]
__version__: str  # the installed distribution's version

class VcdMetadata(TypedDict):
    signal_count: int
    start_time: int
    end_time: int
    timescale: str | None  # "1 ns", "100 ps", ...; None without $timescale

class TimeValue(TypedDict):
    signal: str
    time: int
    value: str

class FoundResult(TypedDict):
    found: Literal[True]
    signal: str
    time: int
    value: str

class NotFoundResult(TypedDict):
    found: Literal[False]
    signal: str
    time: None
    value: None

# Narrowed by testing "found": `if result["found"]:` makes "time" an int.
FindResult = Union[FoundResult, NotFoundResult]

class SignalMismatch(TypedDict):
    signal: str
    time: int
    value1: str
    value2: str
    is_unknown: bool

class ComparisonResult(TypedDict):
    passed: bool
    file1: str
    file2: str
    common_signals: list[str]
    signals_only_in_file1: list[str]
    signals_only_in_file2: list[str]
    total_mismatches: int
    signals_with_mismatches: int
    mismatches: list[SignalMismatch]

# Raised for a failure inside quarnel itself, never for a file or an argument. A subclass of
# BaseException, so that ``except Exception`` does not swallow it.
class PanicException(BaseException): ...

# A problem with a file is raised as RuntimeError(text), with an attribute ``path``: the path
# argument the error is about, as the caller gave it (for compare, file1 or file2), or None
# (an argument such as occurrence=0; dumps of quarnel.extended.compare whose timescales
# differ). Read it with ``getattr(error, "path", None)``.

def list_signals(path: str, filter: str | None = None) -> list[str]: ...
def metadata(path: str) -> VcdMetadata: ...
def extract(
    path: str,
    signals: Sequence[str],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> list[TimeValue]: ...
def toggles(
    path: str,
    signals: Sequence[str],
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> dict[str, int]: ...
def find(
    path: str,
    signal: str,
    value: str,
    occurrence: SupportsIndex = 1,
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> FindResult: ...
def compare(
    file1: str,
    file2: str,
    *,
    max_mismatches: SupportsIndex | None = None,
    signals: Sequence[str] | None = None,
    ignore_unknown: bool = False,
    start: SupportsIndex | None = None,
    end: SupportsIndex | None = None,
) -> ComparisonResult: ...

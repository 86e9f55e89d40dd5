"""Type stubs for quarnel.extended: the six functions of quarnel, reading the extended dialect."""

from quarnel import (
    compare as compare,
    extract as extract,
    find as find,
    list_signals as list_signals,
    metadata as metadata,
    toggles as toggles,
)

__all__ = ["list_signals", "metadata", "extract", "toggles", "find", "compare"]

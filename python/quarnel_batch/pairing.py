"""The pairing of the dumps under two directories by their relative paths."""

from __future__ import annotations

import os
from typing import Optional, Tuple, Union

# The file names that count as dumps when directories are paired, and the suffixes of
# compressed dumps, which pairing leaves out of the name.
DUMP_SUFFIXES = (".vcd", ".vcd.gz", ".vcd.zst")
COMPRESSED_SUFFIXES = (".gz", ".zst")

# (name, golden dump, new dump); a side is None when the dump has no counterpart.
Pair = Tuple[str, Optional[str], Optional[str]]
# What pair_dumps() gives: a side is a tuple of paths when several files pair under the name.
Side = Union[None, str, Tuple[str, ...]]
Pairing = Tuple[str, Side, Side]


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
    for root, _, files in os.walk(directory, onerror=_raise):
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

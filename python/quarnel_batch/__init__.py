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

``write_html(report, path)`` writes the report of compare() as an HTML page with the golden
and the new waveforms around the first mismatches of each failing pair.

Every function reads the dumps as quarnel does, in the IEEE 1364 dialect; with
``extended=True`` it reads them as quarnel.extended does.

Given ``client``, a ``distributed.Client`` (``pip install 'quarnel[dask]'``), the checks run
on that Dask cluster instead, with the same outcomes: its workers read the dumps from the
paths given, so these must name the same files on every worker (a shared file system). ::

    from distributed import Client

    with Client("tcp://scheduler:8786") as client:
        report = quarnel_batch.metadata(paths, client=client)
"""

from .checks import Timescales, compare, find, metadata, toggles
from .html_report import write_html
from .pairing import COMPRESSED_SUFFIXES, DUMP_SUFFIXES, Pair, Pairing, Side, pair_dumps
from .report import ERROR, FAILED, PASSED, Outcome, Report
from .scheduling import Interrupted, dask_client, default_jobs, run

__all__ = [
    "compare", "metadata", "toggles", "find", "pair_dumps", "run", "dask_client",
    "default_jobs", "Report", "Outcome", "Interrupted", "PASSED", "FAILED", "ERROR",
    "DUMP_SUFFIXES", "COMPRESSED_SUFFIXES", "Pair", "Pairing", "Side", "Timescales",
    "write_html",
]

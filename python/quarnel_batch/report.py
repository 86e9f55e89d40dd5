"""The report of a batch: one outcome per dump or pair, and its JUnit and JSON forms."""

from __future__ import annotations

import re
import warnings
from dataclasses import asdict, dataclass
from typing import Any

import junitparser

PASSED = "passed"
FAILED = "failed"
ERROR = "error"
_EXIT_STATUS = {PASSED: 0, FAILED: 1, ERROR: 2}

# The characters XML 1.0 can hold.
_NOT_XML = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


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

    def write_junit(self, path: str, html: str | None = None) -> None:
        """Writes JUnit XML: one test case per dump or pair, with the failure or error.
        Characters that XML cannot hold are written as Python escapes (``\\x01``). Given
        ``html``, the page of this report, each failure names its section there."""
        suite = junitparser.TestSuite(_xml_text(f"quarnel {self.command}"))
        for index, outcome in enumerate(self.outcomes):
            case = junitparser.TestCase(_xml_text(outcome.name),
                                        classname=_xml_text(f"quarnel.{self.command}"))
            if outcome.status != PASSED:
                kind = junitparser.Failure if outcome.status == FAILED else junitparser.Error
                message = _xml_text(outcome.message)
                headline = message.splitlines()[0]
                if html is not None and outcome.status == FAILED:
                    headline += f" (waveforms: {_xml_text(html)}#{anchor(index)})"
                problem = kind(headline)
                problem.text = message
                case.result = [problem]
            suite.add_testcase(case)
        xml = junitparser.JUnitXml()
        xml.add_testsuite(suite)
        xml.write(path)


def anchor(index: int) -> str:
    """The id of the section of the ``index``-th outcome in the HTML page of a report."""
    return f"pair-{index + 1}"


def _xml_text(text: str) -> str:
    return _NOT_XML.sub(lambda match: ascii(match.group())[1:-1], text)


def _count(count: int, singular: str, plural: str) -> str:
    return f"{count} {singular if count == 1 else plural}"

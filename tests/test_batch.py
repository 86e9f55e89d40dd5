"""The batch behind the command, called directly: pairing, the checks and their messages, the
report and its JUnit and JSON forms, worker processes that die."""

import os
import signal
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import junitparser
import pytest

import quarnel
import quarnel_batch
from conftest import DATA, error_of
from quarnel_batch import PASSED, Outcome

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def test_dumps_pair_by_relative_path_without_compression_suffix(tmp_path):
    files = {"golden": ["z.vcd", "deep/b/run.vcd", "deep/a/run.vcd", "x.vcd", "x.vcd.gz",
                        "x.vcd.zst", "y.vcd.zst", "notes.txt", "x.vcd.bz2"],
             "new": ["deep/a/run.vcd.gz", "deep/b/run.vcd", "y.vcd", "w.vcd", "x.vcd", "w.gz"]}
    for side, names in files.items():
        for name in names:
            (tmp_path / side / name).parent.mkdir(parents=True, exist_ok=True)
            (tmp_path / side / name).touch()
    golden, new = (str(tmp_path / side) for side in files)
    g, n = golden + os.sep, new + os.sep
    assert quarnel_batch.pair_dumps(golden, new) == [
        ("deep/a/run.vcd", g + "deep/a/run.vcd", n + "deep/a/run.vcd.gz"),
        ("deep/b/run.vcd", g + "deep/b/run.vcd", n + "deep/b/run.vcd"),
        ("w.vcd", None, n + "w.vcd"),
        ("x.vcd", (g + "x.vcd", g + "x.vcd.gz", g + "x.vcd.zst"), n + "x.vcd"),
        ("y.vcd", g + "y.vcd.zst", n + "y.vcd"),
        ("z.vcd", g + "z.vcd", None)]
    with pytest.raises(FileNotFoundError):
        quarnel_batch.pair_dumps(str(tmp_path / "nosuch"), new)


C, C2, U, HIER, NINE = [str(EXAMPLES / "counter.vcd"), str(EXAMPLES / "counter_changed.vcd"),
                        str(EXAMPLES / "uart" / "uart_tx.vcd"),
                        *(str(DATA / f"ghdl_{name}.vcd") for name in ("hier", "ninevalue"))]
SOME = ["tb.clk", "tb.tx", "tb.en"]


@pytest.mark.parametrize("golden, new, options, status, message", [
    (C, C, {}, "passed", "passed: 17 signals compared, no mismatches"),
    (C, None, {}, "failed", f"FAILED: no counterpart of {C}"),
    (None, U, {}, "failed", f"FAILED: no counterpart of {U}"),
    (C, C2, {}, "failed", "FAILED: 1 mismatch in 1 signal (17 signals compared)\n"
     "tb.count[3:0] at 135: 10 != 11"),
    ((C, U), C, {}, "error", f"{C}: {U} also pairs as p: keep one"),
    ((C, U, C2), (U, C), {}, "error",
     f"{C}: {U} and {C2} also pair as p: keep one\n{U}: {C} also pairs as p: keep one"),
    (C, NINE, {"extended": False}, "error", f"{NINE}: {error_of(quarnel.metadata, NINE)}"),
    (C, C2, {"signals": ["tb.nosuch"]}, "error",
     f"{C}: not declared: tb.nosuch\n{C2}: not declared: tb.nosuch"),
    (C, C2, {"signals": ["tb.nosuch"], "allow_missing": True}, "passed",
     "passed: 0 signals compared, no mismatches"),
    (C, U, {"signals": SOME}, "error", f"{C}: not declared: tb.tx\n{U}: not declared: tb.en"),
    (C, U, {"signals": SOME, "allow_missing": True}, "failed",
     "FAILED: 56 mismatches in 1 signal (1 signal compared)"),
    (HIER, NINE, {}, "error", f"{NINE}: no signal in common with {HIER}"),
    (HIER, NINE, {"allow_missing": True}, "passed", "passed: 0 signals compared, no mismatches"),
])
def test_compare_outcome_and_message(golden, new, options, status, message):
    options = {"extended": True, "jobs": 1, **options}
    (outcome,) = quarnel_batch.compare([("p", golden, new)], **options).outcomes
    assert (outcome.name, outcome.status) == ("p", status)
    # A failure lists every mismatch after its summary.
    assert outcome.message == message or status == "failed" and \
        outcome.message.startswith(message + "\n")


def dies_in_its_worker(item):
    """A check run in a worker process: "dies" ends its process once "waits" runs in the other
    worker; "waits" waits there (the first time) until the pool terminates its worker."""
    path = Path(item)
    marker = path.parent / "waiting"
    if path.name.startswith("dies"):
        while not marker.exists():
            time.sleep(0.01)
        end = path.name.split("-")[1]
        if end.isdigit():
            os._exit(int(end))
        os.kill(os.getpid(), signal.Signals[end])
    if path.name == "waits" and not marker.exists():
        marker.touch()
        time.sleep(60)
    return Outcome(item, PASSED, "")


@pytest.mark.parametrize("end, message", [
    ("SIGKILL", "worker process killed by SIGKILL"),
    ("3", "worker process exited with status 3")])
def test_a_dead_worker_fails_its_own_check_only(tmp_path, end, message):
    items = [str(tmp_path / name) for name in (f"dies-{end}", "waits", "a", "b", "c", "d")]
    outcomes = quarnel_batch.run(dies_in_its_worker, items, jobs=2)
    assert [(o.name, o.status, o.message) for o in outcomes] == [
        (items[0], "error", f"{items[0]}: {message}")] + [(i, "passed", "") for i in items[1:]]


def junit_of(report, path):
    """The text of every name, message and failure text in the JUnit report, which must parse."""
    report.write_junit(str(path))
    root = ElementTree.parse(path).getroot()
    return "\n".join(text for element in root.iter()
                     for text in (element.get("name"), element.get("message"), element.text)
                     if text)


@pytest.mark.parametrize("where, char", [
    ("value", "\x01"), ("signal", "\x1b"), ("file", "\x01"), ("file", os.fsdecode(b"\xff"))])
def test_junit_shows_what_xml_cannot_hold_as_escapes(tmp_path, where, char):
    name = f"t.s{char}" if where == "signal" else "t.s"
    value = f"a{char}b" if where == "value" else "ab"
    paths = []
    for text in ("sxy", f"s{value}"):
        path = tmp_path / (f"new{char}.vcd" if where == "file" and paths else f"{len(paths)}.vcd")
        path.write_bytes(os.fsencode(
            f"$scope module t $end\n$var string 1 ! {name[2:]} $end\n$upscope $end\n"
            f"$enddefinitions $end\n#0\n{text} !\n"))
        paths.append(os.fsdecode(path))
    report = quarnel_batch.compare([(paths[1], *paths)], extended=True, jobs=1)
    assert ascii(char)[1:-1] in junit_of(report, tmp_path / "junit.xml")


def test_junit_of_any_text_parses(tmp_path):
    text = "".join(map(chr, range(0x20))) + "\ud800\udfff\ufffe\uffff&<>\"'"
    outcomes = [Outcome(text, status, text) for status in ("passed", "failed", "error")]
    shown = junit_of(quarnel_batch.Report(text, outcomes), tmp_path / "junit.xml")
    assert "\\x00" in shown and "\\ud800\\udfff\\ufffe\\uffff&<>\"'" in shown


UART = [str(EXAMPLES / "uart" / f"uart_tx{n}.vcd") for n in ("_golden", "_msb_first")]
COUNTER = [str(EXAMPLES / f"counter{n}.vcd") for n in ("", "_changed")]


@pytest.mark.parametrize("dumps, limit, summary", [
    (COUNTER, 1, "FAILED: 1 mismatch in 1 signal (17 signals compared)"),
    (COUNTER, 0, "FAILED: 1 mismatch in 1 signal (17 signals compared)"),
    (UART, 11, "FAILED: 11 mismatches in 1 signal (6 signals compared); list cut at 11 per "
               "signal for 1 signal"),
    (UART, 12, "FAILED: 12 mismatches in 1 signal (6 signals compared)"),
    (UART, 0, "FAILED: 1 mismatch in 1 signal (6 signals compared); list cut at 1 per signal "
              "for 1 signal"),
    (UART, 2**64 - 1, "FAILED: 12 mismatches in 1 signal (6 signals compared)")])
def test_the_list_is_cut_only_when_mismatches_were_left_out(dumps, limit, summary):
    (outcome,) = quarnel_batch.compare([("pair", *dumps)], max_mismatches=limit, jobs=1).outcomes
    assert outcome.message.splitlines()[0] == summary
    assert outcome.result == quarnel.compare(*dumps, max_mismatches=limit)


@pytest.mark.parametrize("statuses, exit_status, summary", [
    ([], 0, "0 checks: 0 passed, 0 failed, 0 errors"),
    (["passed"], 0, "1 check: 1 passed, 0 failed, 0 errors"),
    (["failed", "passed", "failed"], 1, "3 checks: 1 passed, 2 failed, 0 errors"),
    (["passed", "error", "failed"], 2, "3 checks: 1 passed, 1 failed, 1 error")])
def test_report_status_summary_json_and_junit(tmp_path, statuses, exit_status, summary):
    outcomes = [Outcome(f"{i}.vcd", status, f"{status} {i}\nline", {"i": i})
                for i, status in enumerate(statuses)]
    report = quarnel_batch.Report("find", outcomes)
    assert (report.exit_status, report.summary()) == (exit_status, summary)
    entries = {o.name: {"status": o.status, "message": o.message, "result": o.result}
               for o in outcomes}
    with pytest.deprecated_call():
        assert report.to_json() == report.to_dict() == entries
    report.write_junit(str(tmp_path / "junit.xml"))
    (suite,) = junitparser.JUnitXml.fromfile(str(tmp_path / "junit.xml"))
    kinds = {"failed": junitparser.Failure, "error": junitparser.Error}
    assert (suite.name, suite.tests, suite.failures, suite.errors) == (
        "quarnel find", len(statuses), statuses.count("failed"), statuses.count("error"))
    assert [(case.name, case.classname, [(type(r), r.message, r.text) for r in case.result])
            for case in suite] == [
        (o.name, "quarnel.find", [(kinds[o.status], o.message.splitlines()[0], o.message)]
         if o.status != "passed" else []) for o in outcomes]


@pytest.mark.parametrize("call", [
    lambda: quarnel_batch.metadata("counter.vcd"),
    lambda: quarnel_batch.toggles(["counter.vcd"], "tb.rst"),
    lambda: quarnel_batch.compare([("a", "a.vcd", "a.vcd")], signals="tb.rst"),
], ids=["paths", "signals", "compare signals"])
def test_a_single_name_where_a_list_belongs_is_refused(call):
    # Taken letter by letter, it would make one check per letter.
    with pytest.raises(TypeError, match="must be a list, not str"):
        call()

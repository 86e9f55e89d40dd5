"""The batch behind the command: worker processes that die, the JUnit report, the list cut."""

import os
import signal
import time
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pytest

import quarnel
import quarnel_batch
from quarnel_batch import PASSED, Outcome

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


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


def test_to_json_is_the_deprecated_name_of_to_dict():
    report = quarnel_batch.Report("meta", [Outcome("a.vcd", "passed", "", {"x": 1})])
    with pytest.deprecated_call():
        assert report.to_json() == report.to_dict() == {
            "a.vcd": {"status": "passed", "message": "", "result": {"x": 1}}}

"""The installed quarnel command, run as a user would, on dumps written by simulators."""

import contextlib
import gzip
import json
import os
import signal
import subprocess
import sys
import sysconfig
import time
from importlib import metadata as distribution
from pathlib import Path

import junitparser
import pytest

import quarnel
import quarnel_batch
import quarnel_cli

REPO = Path(__file__).resolve().parent.parent
EXAMPLES = REPO / "examples"
QUARNEL = Path(sysconfig.get_path("scripts")) / "quarnel"
COUNT = "tb.dut.count[3:0]"


def _ids(value):
    return " ".join(value)[:40] if isinstance(value, list) else ""


def run(*argv, cwd=EXAMPLES, **popen):
    """Runs the installed command; returns (exit status, stdout, stderr)."""
    result = subprocess.run([QUARNEL, *argv], cwd=cwd, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, **popen)
    return result.returncode, result.stdout, result.stderr


# Options before, between and after the dumps.
TABLES = [
    (["list", "--filter", "dut.c", "counter.vcd"], 0, "tb.dut.clk\ntb.dut.count[3:0]\n"),
    (["extract", "--start", "100", "-s", COUNT, "counter.vcd", "--signal", "tb.duty", "--end",
      "110"], 0, "signal             time  value\n"
     "tb.dut.count[3:0]   105  7\ntb.duty             105  0.40625\n"),
    (["meta", "counter.vcd", "../tests/data/ghdl_hier.vcd"], 0,
     "dump                         signal_count  start_time  end_time  timescale\n"
     "counter.vcd                            17           0       322  1 ns\n"
     "../tests/data/ghdl_hier.vcd            17           0  40000000  1 fs\n"),
    (["toggles", "counter.vcd", "-s", "tb.rst", "-s", "tb.clk", "-s", "tb.rst",
      "uart/uart_tx.vcd"], 0,
     "dump              tb.rst  tb.clk\n"
     "counter.vcd            1      64\n"
     "uart/uart_tx.vcd       1     176\n"),
    (["find", "-s", "tb.tx", "uart/uart_tx.vcd", "--value", "0", "--occurrence", "3",
      "uart/uart_tx_msb_first.vcd"], 0, "dump                        found  time  value\n"
     "uart/uart_tx.vcd            yes     195  0\nuart/uart_tx_msb_first.vcd  yes     235  0\n"),
    (["find", "counter.vcd", "-s", COUNT, "--value", "0xA", "--occurrence", "2"], 1,
     "dump         found  time  value\ncounter.vcd  no     -     -\n"),
    (["compare", "--max-mismatches", "2", "uart/uart_tx_golden.vcd",
      "uart/uart_tx_msb_first.vcd"], 1,
     "FAILED: 2 mismatches in 1 signal (6 signals compared); list cut at 2 per signal for "
     "1 signal\n"
     "signal  time  value1  value2  is_unknown\n"
     "tb.tx     75  1       0       no\n"
     "tb.tx    115  0       1       no\n"),
    (["value", "counter.vcd", "-s", COUNT, "--at", "100", "-s", "tb.duty"], 0,
     "signal             value\ntb.dut.count[3:0]  6\ntb.duty            0.34375\n"),
    (["list", "--buses", "../tests/data/icarus_bus_split.vcd", "--filter", "st"], 0,
     "tb.rst\ntb.state[2:0]\n"),
    (["value", "../tests/data/icarus_bus_split.vcd", "-s", "tb.count[3:0]", "--at", "47",
      "--buses"], 0, "signal         value\ntb.count[3:0]  10z1\n"),
    (["toggles", "--buses", "../tests/data/icarus_bus_split.vcd", "-s", "tb.count[3:0]"], 0,
     "dump                                tb.count[3:0]\n"
     "../tests/data/icarus_bus_split.vcd              8\n"),
    (["compare", "../tests/data/icarus_bus_split.vcd", "../tests/data/icarus_bus_whole.vcd",
      "--buses"], 0, "passed: 4 signals compared, no mismatches\n"),
    (["sample", "counter.vcd", "--clock", "tb.clk", "-s", COUNT, "--end", "25", "--edge",
      "falling", "--after"], 0,
     "cycle  time  tb.dut.count[3:0]\n    0    10  0\n    1    20  0\n"),
]


@pytest.mark.parametrize("argv, status, table", TABLES, ids=_ids)
def test_table_output(argv, status, table):
    assert run(*argv) == (status, table, "")


def entry(result, message=""):
    return {"status": "passed", "message": message, "result": result}


JSON = [
    (["extract", "counter.vcd", "-s", COUNT, "-s", "tb.clk", "-s", COUNT],
     lambda: quarnel.extract("counter.vcd", [COUNT, "tb.clk", COUNT])),
    (["meta", "counter.vcd", "uart/uart_tx.vcd", "counter.vcd"],
     lambda: {path: entry(quarnel.metadata(path)) for path in ["counter.vcd", "uart/uart_tx.vcd"]}),
    (["find", "counter.vcd", "-s", COUNT, "--value", "0xa"],
     lambda: {"counter.vcd": entry(quarnel.find("counter.vcd", COUNT, "0xa"),
                                   f"{COUNT} is 10 at 135")}),
    (["value", "counter.vcd", "-s", COUNT, "-s", "tb.clk", "--at", "0"],
     lambda: quarnel.extended.value_at("counter.vcd", [COUNT, "tb.clk"], 0)),
    (["compare", "counter.vcd", "counter_changed.vcd", "--ignore-unknown", "--start", "9"],
     lambda: quarnel.compare("counter.vcd", "counter_changed.vcd", ignore_unknown=True, start=9)),
]


@pytest.mark.parametrize("argv, expected", JSON, ids=_ids)
def test_json_holds_the_module_results(argv, expected, monkeypatch):
    monkeypatch.chdir(EXAMPLES)
    status, out, err = run(*argv, "--json")
    out = json.loads(out)
    if argv[0] == "compare":  # a mismatch: the entry fails and holds the module's result
        out = out["counter_changed.vcd"]
        out = out["result"] if out["status"] == "failed" else out
    assert (out, err) == (expected(), "")


def test_compare_is_strict_unless_allowed():
    # Each line of an error is a line of stderr.
    argv = ["compare", "counter.vcd", "counter_changed.vcd", "-s", "tb.nosuch"]
    assert run(*argv) == (2, "", "quarnel: counter.vcd: not declared: tb.nosuch\n"
                          "quarnel: counter_changed.vcd: not declared: tb.nosuch\n")
    assert run(*argv, "--allow-missing") == (0, "passed: 0 signals compared, no mismatches\n", "")


@pytest.mark.parametrize("argv, culprit", [
    (["list", "{bad}"], "{bad}"),
    (["extract", "{bad}", "-s", "tb.clk"], "{bad}"),
    (["meta", "counter.vcd", "{bad}", "nosuch.vcd"], "{bad}"),
    (["compare", "counter.vcd", "{bad}"], "{bad}"),
    (["compare", "counter.vcd", "nosuch.vcd"], "nosuch.vcd"),
    # Nine-state values are refused with --strict, before the timescales are converted.
    (["compare", "counter.vcd", "--strict", "{nine}", "--finer-unit"], "{nine}"),
    # Bad arguments: the last line of the usage message names the fault.
    (["toggles", "counter.vcd", "-s", "tb.clk", "--signals", "tb.rst"], "usage: --signals"),
    (["extract", "counter.vcd"], "usage: -s/--signal"),
    (["find", "counter.vcd", "-s", "tb.clk", "-s", "tb.rst", "--value", "1"], "usage: exactly one"),
    (["toggles", "counter.vcd", "-s", "tb.clk", "--end", "18446744073709551616"], "usage: --end"),
    (["compare", "counter.vcd", "counter.vcd", "--end", "9", "--start", "10"],
     "usage: --start 10 is after --end 9"),
    (["compare", "counter.vcd"], "usage: NEW"),
    (["value", "counter.vcd", "-s", "tb.clk", "--at", "1", "--strict"], "usage: reads the extended"),
    (["value", "{bad}", "-s", "tb.clk", "--at", "1"], "{bad}"),
], ids=_ids)
def test_errors_exit_2_naming_the_dump_or_the_argument(argv, culprit, tmp_path):
    (tmp_path / "bad.vcd").write_text("$scope module top $end\n")
    names = {"bad": str(tmp_path / "bad.vcd"), "nine": "../tests/data/ghdl_ninevalue.vcd"}
    argv, culprit = [arg.format(**names) for arg in argv], culprit.format(**names)
    status, out, err = run(*argv)
    assert status == 2
    if culprit.startswith("usage: "):
        assert culprit[7:] in err.splitlines()[-1]
        return
    text = str(pytest.raises(RuntimeError, quarnel.metadata, str(EXAMPLES / culprit)).value)
    assert f"quarnel: {culprit}: {text}\n" in err
    if argv[0] == "meta":  # the others are still read
        assert out.startswith("dump ") and "counter.vcd " in out
        assert "quarnel: nosuch.vcd: I/O error: No such file" in err


def test_compare_refuses_differing_timescales_unless_asked(tmp_path):
    def dump(name, timescale, time, tail=""):
        head = f"$timescale {timescale} $end\n" if timescale else ""
        (tmp_path / name).write_text(head + "$var wire 1 ! a $end $enddefinitions $end\n"
                                     f"#0\n0!\n#{time}\n1!\n{tail}")
        return name

    ns, ps, ps_ticks, none = (dump("ns.vcd", "1 ns", 10), dump("ps.vcd", "1 ps", 10000),
                              dump("ps_ticks.vcd", "1ps", 10), dump("none.vcd", None, 10))
    # Damaged at tick 100: within --end 5000 in ticks, past it in the finer unit.
    ns_late, ps_late = (dump(f"{unit}_late.vcd", f"1 {unit}", 10, "#100\n?\n")
                        for unit in ("ns", "ps"))
    passed = (0, "passed: 1 signal compared, no mismatches\n", "")
    # Timescales are checked before the bodies are read, also those of --strict.
    for argv, timescales in (([ns, ps_ticks], "1 ns and 1 ps"), ([none, ns], "none and 1 ns"),
                             ([ns, ps_late, "--strict"], "1 ns and 1 ps")):
        assert run("compare", *argv, cwd=tmp_path) == (
            2, "", f"quarnel: {argv[1]}: timescales differ: {timescales} ({argv[0]} and "
            f"{argv[1]})\n")
    # In the finer unit (its window rules: test_compare.py): the times shown and the window.
    for argv, expected in [
            ([ps, ns_late, "--end", "5000", "--strict"], passed),
            ([ns, ps_ticks, "--end", "9999"], (1, "FAILED: 1 mismatch in 1 signal (1 signal "
             "compared)\nsignal  time  value1  value2  is_unknown\n"
             "a         10  0       1       no\n", "")),
            ([ns, none], (2, "", f"quarnel: {none}: timescales differ: 1 ns and none "
                          f"({ns} and {none})\n"))]:
        assert run("compare", *argv, "--finer-unit", cwd=tmp_path) == expected


def make_batch(tmp_path, cases):
    """Directories golden/ and new/ with a pair of dumps per case."""
    dumps = {"pass": ("counter.vcd", "counter.vcd"),
             "mismatch": ("counter.vcd", "counter_changed.vcd"),
             "error": ("counter.vcd", "../tests/data/ghdl_ninevalue.vcd"),
             "golden_only": ("counter.vcd", None), "new_only": (None, "counter.vcd")}
    for case, side in ((case, side) for case in cases for side in (0, 1)):
        folder = tmp_path / ("golden", "new")[side] / "deep" / case
        folder.parent.mkdir(parents=True, exist_ok=True)
        if dumps[case][side]:
            folder.mkdir()
            data = (EXAMPLES / dumps[case][side]).read_bytes()
            if case == "pass" and side:  # paired by its name without .gz
                (folder / "run.vcd.gz").write_bytes(gzip.compress(data))
            else:
                (folder / "run.vcd").write_bytes(data)
    return str(tmp_path / "golden"), str(tmp_path / "new")


def test_directories_give_the_batch_report(tmp_path):
    cases = ["pass", "mismatch", "golden_only", "new_only", "error"]
    golden, new = make_batch(tmp_path, cases)
    junit = tmp_path / "junit.xml"
    report = quarnel_batch.compare(quarnel_batch.pair_dumps(golden, new), extended=True,
                                   timescales="same", jobs=1)
    report.write_junit(str(tmp_path / "expected.xml"))
    runs = [(run("compare", golden, new, *where, "--junit", str(junit)), junit.read_text())
            for where in (["-j", "2"], ["--dask", "local", "-j", "2"])]
    assert runs[0] == runs[1]  # a local Dask cluster gives the report of a process pool
    (status, out, err), text = runs[0]
    assert text == (tmp_path / "expected.xml").read_text()
    assert status == report.exit_status == 2
    named = [line.split(":")[0] for line in out.splitlines() if line.startswith("deep/")]
    assert named == [f"deep/{case}/run.vcd" for case in sorted(cases) if case != "error"]
    assert out.endswith("\n5 checks: 1 passed, 3 failed, 1 error\n")
    assert err == "".join(f"quarnel: {line}\n" for o in report.outcomes if o.status == "error"
                          for line in o.message.splitlines())
    assert json.loads(run("compare", golden, new, "--json")[1]) == report.to_dict()


@pytest.mark.parametrize("command", ["list", "meta", "extract", "toggles", "find", "compare"])
def test_help_shows_a_working_example(command):
    assert f"  {command} " in run("--help")[1]
    examples = [line.strip() for line in run(command, "--help")[1].splitlines()
                if line.startswith("  quarnel ")]
    assert examples
    for example in examples:
        result = subprocess.run(example.replace("quarnel", str(QUARNEL), 1), shell=True,
                                cwd=REPO, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        assert result.returncode in (0, 1) and result.stdout and not result.stderr, example


def test_version():
    assert run("--version") == (0, f"quarnel {quarnel.__version__}\n", "")
    assert quarnel.__version__ == distribution.version("quarnel")


def group(pgid):
    """The live processes of process group `pgid` (pgrep hangs with the sanitizer runtime)."""
    def pgid_of(pid):
        with contextlib.suppress(OSError):  # state, parent, group
            stat = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
            return int(stat[2]) if stat[0] != "Z" else None
    return [p for p in map(int, filter(str.isdigit, os.listdir("/proc"))) if pgid_of(p) == pgid]


def waiting_on_fifos(pgid):
    """The processes of group `pgid` that hold a FIFO open, waiting for a writer."""
    def waits(pid):
        with contextlib.suppress(OSError):
            return any(fd.resolve().is_fifo() for fd in Path(f"/proc/{pid}/fd").iterdir())
    return [pid for pid in group(pgid) if waits(pid)]


@pytest.mark.parametrize("where", [["-j", "1"], ["-j", "2"], ["--dask", "local", "-j", "2"],
                                   ["--dask", "local", "-j", "2", "while the workers start"]],
                         ids=_ids)
def test_interrupt_is_one_line_keeps_what_finished_and_stops_the_workers(tmp_path, where):
    # Nobody writes to the FIFOs, so every read of them waits until it is interrupted.
    for name in ("a.vcd", "b.vcd"):
        os.mkfifo(tmp_path / name)
    (tmp_path / "c.vcd").write_bytes((EXAMPLES / "counter.vcd").read_bytes())
    child = subprocess.Popen(
        [QUARNEL, "meta", "c.vcd", "a.vcd", "b.vcd", "--junit", "junit.xml", *where[:4]],
        cwd=tmp_path, start_new_session=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        text=True, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    # Once each process waits on a FIFO, c.vcd has been read; or, the first worker started.
    waiting = int(where[-1]) if len(where) < 5 else 0
    deadline = time.monotonic() + 60
    while (len(waiting_on_fifos(child.pid)) < waiting or len(group(child.pid)) < 2 - bool(waiting)
           ) and time.monotonic() < deadline:
        time.sleep(0.02)
    os.killpg(child.pid, signal.SIGINT)  # as Ctrl-C in a terminal
    assert child.communicate(timeout=60) == ("", "quarnel: interrupted\n")
    assert child.returncode == 130
    time.sleep(0.2)
    assert group(child.pid) == []
    if waiting:
        (suite,) = junitparser.JUnitXml.fromfile(str(tmp_path / "junit.xml"))
        results = {case.name: [r.message for r in case.result] for case in suite}
        if "--dask" in where and results["c.vcd"] == ["c.vcd: interrupted"]:
            results["c.vcd"] = []  # a worker may have queued it behind a FIFO
        assert results == {
            "c.vcd": [], "a.vcd": ["a.vcd: interrupted"], "b.vcd": ["b.vcd: interrupted"]}


def test_reader_gone_is_quiet():
    # As for `quarnel meta counter.vcd | head -0`: the reading end is closed before any output.
    with subprocess.Popen([QUARNEL, "meta", "counter.vcd"], cwd=EXAMPLES, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as child:
        child.stdout.close()
        assert (child.wait(), child.stderr.read()) == (2, "")


def _read_output(form, path):
    if form == "csv":
        import csv
        with open(path, newline="") as f:
            return [dict(r, time=int(r["time"])) for r in csv.DictReader(f)]
    if form == "json":
        return [json.loads(line) for line in Path(path).read_text().splitlines()]
    import pyarrow.parquet
    return pyarrow.parquet.read_table(path).select(["signal", "time", "value"]).to_pylist()


@pytest.mark.parametrize("form", ["csv", "json", "parquet"])
def test_extract_writes_files_of_the_records(form, tmp_path):
    out = tmp_path / f"out.{form}"
    argv = ["extract", "counter.vcd", "-s", COUNT, "-s", "tb.duty", "--format", form]
    assert run(*argv, "-o", str(out)) == (0, "", "")
    expected = quarnel.extract(str(EXAMPLES / "counter.vcd"), [COUNT, "tb.duty"])
    assert _read_output(form, out) == [{k: r[k] for k in ("signal", "time", "value")}
                                       for r in expected]
    if form != "parquet":  # the same text on stdout
        assert run(*argv) == (0, out.read_text(), "")


@pytest.mark.parametrize("argv, error", [
    (["--format", "parquet"], "needs -o FILE"),
    (["--format", "csv", "--json"], "give --json or --format"),
    (["--format", "csv", "-o", "/nonexistent/x.csv"], "/nonexistent/x.csv: No such file"),
])
def test_extract_file_errors(argv, error):
    status, out, err = run("extract", "counter.vcd", "-s", "tb.clk", *argv)
    assert (status, out) == (2, "") and error in err


@pytest.mark.parametrize("module, argv, advice", [
    ("distributed", ["meta", "counter.vcd", "--dask", "local"], "--dask needs Dask: pip install "
     "'quarnel[dask]', or from the repository python -m pip install '.[dask]'\n"),
    ("pyarrow", ["extract", "counter.vcd", "-s", "tb.clk", "--format", "parquet", "-o",
                 "x.parquet"], "quarnel[arrow]"),
    ("cairosvg", ["plot", "counter.vcd", "-s", "tb.clk", "-o", "x.png"], "quarnel[plot]")],
    ids=["dask", "arrow", "plot"])
def test_a_missing_extra_is_a_usage_error_that_says_how_to_install_it(module, argv, advice):
    code = (f"import sys; sys.modules[{module!r}] = None; import quarnel_cli; "
            f"sys.exit(quarnel_cli.main({argv!r}))")
    result = subprocess.run([sys.executable, "-c", code], cwd=EXAMPLES, capture_output=True,
                            text=True)
    assert result.returncode == 2 and advice in result.stderr.splitlines()[-1] + "\n"


def test_extract_streams_to_a_reader_that_stops_early(tmp_path):
    dump = tmp_path / "long.vcd"
    dump.write_text("$scope module t $end\n$var wire 1 ! a $end\n$upscope $end\n"
                    "$enddefinitions $end\n#1\n" + "1!\n0!\n" * 10_000_000)
    child = subprocess.Popen([QUARNEL, "extract", str(dump), "-s", "t.a"], text=True,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    lines = [child.stdout.readline() for _ in range(3)]
    child.stdout.close()  # as head does; the whole table would not fit in memory in time
    assert lines == ["signal  time  value\n", "t.a        1  1\n", "t.a        1  0\n"]
    assert child.wait(timeout=60) == 2 and child.stderr.read() == ""


PAIR = ("$timescale 10 ps $end\n$scope module top $end\n$var wire 1 ! a $end\n$upscope $end\n"
        "$enddefinitions $end\n#0\n{}!\n#200000\n")


def test_compare_start_compares_the_values_held_there(tmp_path):
    for value in "01":
        (tmp_path / f"{value}.vcd").write_text(PAIR.format(value))
    assert run("compare", "0.vcd", "1.vcd", "--start", "1us", cwd=tmp_path)[:2] == (
        1, "FAILED: 1 mismatch in 1 signal (1 signal compared)\n"
        "signal    time  value1  value2  is_unknown\ntop.a   100000  0       1       no\n")


@pytest.mark.parametrize("argv", [
    ["extract", "counter.vcd", "-s", COUNT, "--start", "{100}", "--end", "{130}"],
    ["value", "counter.vcd", "-s", COUNT, "--at", "{105}"],
    ["toggles", "counter.vcd", "uart/uart_tx.vcd", "-s", "tb.clk", "--start", "{100}"],
    ["find", "counter.vcd", "-s", COUNT, "--value", "9", "--end", "{125}"],
    ["compare", "counter.vcd", "counter_changed.vcd", "--start", "{100}", "--end", "{200}"],
], ids=_ids)
def test_times_with_units_name_ticks(argv):
    ticks = [arg.strip("{}") for arg in argv]
    for unit in (lambda t: f"{t}ns", lambda t: f"{int(t) / 1000}us", lambda t: f"{t}000 ps"):
        assert run(*[unit(a[1:-1]) if a[0] == "{" else a for a in argv]) == run(*ticks)


@pytest.mark.parametrize("argv, error", [
    (["value", "counter.vcd", "--at", "1.5ns"],
     "counter.vcd: --at 1.5ns falls between the ticks of its timescale"),
    (["value", "{none}", "--at", "1ns"], "{none}: no timescale, so --at 1ns names no tick"),
    (["toggles", "counter.vcd", "{ps}", "--start", "1 us"],
     "{ps}: --start 1 us is 100000 ticks, but 1000 in counter.vcd; give ticks"),
    (["value", "counter.vcd", "--at", "99999999999999999999s"],
     "counter.vcd: --at 99999999999999999999s is past the last time 64-bit ticks can name"),
    # Its timescale would take the one read a stream has.
    (["value", "/dev/null", "--at", "1ns"], "/dev/null: --at 1ns needs the timescale before "
     "the read, and a stream is read once; give ticks"),
], ids=_ids)
def test_times_with_units_that_name_no_tick(tmp_path, argv, error):
    names = {"none": tmp_path / "none.vcd", "ps": tmp_path / "ps.vcd"}
    names["none"].write_text(PAIR.split("\n", 1)[1].format(0))
    names["ps"].write_text(PAIR.format(0))
    status, out, err = run(*[arg.format(**names) for arg in argv], "-s", "top.a")
    assert (status, err) == (2, f"quarnel: {error.format(**names)}\n")


def test_times_with_units_in_a_batch(tmp_path):
    for side, late in (("g", 200), ("n", 150)):
        (tmp_path / side).mkdir()
        (tmp_path / side / "ns.vcd").write_text(
            PAIR.replace("10 ps", "1 ns").replace("#200000", f"#{late}\n1!").format(0))
        (tmp_path / side / "ps.vcd").write_text(PAIR.format(0))
    # Each pair names the time in its own finer unit: 100 and 10,000 ticks.
    status, out, err = run("compare", "g", "n", "--finer-unit", "--start", "100ns", cwd=tmp_path)
    assert (status, out) == (2, "") and err.endswith("; give ticks\n")
    # A dump that cannot be read is an error of its own; the others are still read.
    status, out, err = run("toggles", "g/ns.vcd", "gone.vcd", "-s", "top.a", "--start", "100ns",
                           "--junit", "junit.xml", cwd=tmp_path)
    assert (status, out) == (2, "dump      top.a\ng/ns.vcd      0\n")
    assert err.startswith("quarnel: gone.vcd: ") and (tmp_path / "junit.xml").exists()


def test_index_writes_where_it_is_told_and_the_others_read_it(tmp_path):
    status, out, err = run("index", "counter.vcd", "--dir", str(tmp_path), "--json")
    built = json.loads(out)["counter.vcd"]
    assert (status, err, built["error"]) == (0, "", None)
    assert built["index"].startswith(str(tmp_path / "counter.vcd.")) and built["bytes"] > 0
    for argv in (["meta", "counter.vcd"], ["value", "counter.vcd", "-s", COUNT, "--at", "200"]):
        assert run(*argv, env={**os.environ, "QUARNEL_INDEX_DIR": str(tmp_path)}) == run(*argv)
    assert run("index", "counter.vcd", "--strict")[0] == 2
    # A dump that cannot be indexed stops none of the others.
    status, out, err = run("index", "gone.vcd", "counter.vcd", "--dir", str(tmp_path), "--json")
    assert (status, list(json.loads(out))) == (2, ["counter.vcd"])
    assert err.startswith("quarnel: gone.vcd: ") and len(err.splitlines()) == 1

"""The quarnel command: the same answers as the module, as tables or JSON, with CI exit codes."""

import json
import subprocess
import sysconfig
from importlib import metadata as distribution
from pathlib import Path

import pytest

import quarnel
import quarnel_cli

A = """\
$timescale 1 ns $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 4 " count [3:0] $end
$var wire 1 # only_a $end
$upscope $end
$enddefinitions $end
#0
0!
b0 "
0#
#5
1!
b1 "
#10
0!
b10 "
#15
1!
b11 "
"""

# Differs from A: clk starts only at 5, count reads 6 and 7 at 10 and 15, only_b for only_a.
B = """\
$scope module top $end
$var wire 1 ! clk $end
$var wire 4 " count [3:0] $end
$var wire 1 # only_b $end
$upscope $end
$enddefinitions $end
#0
b0 "
1#
#5
1!
b1 "
#10
0!
b110 "
#15
1!
b111 "
"""


@pytest.fixture(autouse=True)
def dumps(tmp_path, monkeypatch):
    """a.vcd, b.vcd and a file without $enddefinitions in the current directory."""
    (tmp_path / "a.vcd").write_text(A)
    (tmp_path / "b.vcd").write_text(B)
    (tmp_path / "bad.vcd").write_text("$scope module top $end\n")
    monkeypatch.chdir(tmp_path)


def run(capsys, *argv):
    """Runs the command in this process; returns (exit status, stdout, stderr)."""
    status = quarnel_cli.main(list(argv))
    out, err = capsys.readouterr()
    return status, out, err


def _ids(value):
    return " ".join(value) if isinstance(value, list) else "-"


TABLES = [
    (["list", "a.vcd", "--filter", "n"],
     "signal\ntop.count[3:0]\ntop.only_a\n"),
    (["meta", "a.vcd"],
     "key           value\n"
     "signal_count  3\n"
     "start_time    0\n"
     "end_time      15\n"
     "timescale     1 ns\n"),
    (["meta", "b.vcd"],
     "key           value\nsignal_count  3\nstart_time    0\nend_time      15\ntimescale     -\n"),
    (["extract", "a.vcd", "--signals", "top.count[3:0]", "top.clk", "--start", "5", "--end", "10"],
     "signal          time  value\n"
     "top.clk            5  1\n"
     "top.count[3:0]     5  1\n"
     "top.clk           10  0\n"
     "top.count[3:0]    10  2\n"),
    (["extract", "a.vcd", "--signals", "top.clk", "--start", "99"],
     "signal  time  value\n"),
    # Request order, whatever order the module's dict has.
    (["toggles", "a.vcd", "--signals", "top.only_a", "top.count[3:0]", "top.clk", "top.only_a"],
     "signal          toggles\n"
     "top.only_a            0\n"
     "top.count[3:0]        3\n"
     "top.clk               3\n"),
    (["find", "a.vcd", "top.count[3:0]", "0X2"],
     "found  signal          time  value\n"
     "yes    top.count[3:0]    10  2\n"),
    (["find", "a.vcd", "top.clk", "1", "--occurrence", "3"],
     "found  signal   time  value\n"
     "no     top.clk  -     -\n"),
    (["compare", "a.vcd", "a.vcd"],
     "passed: 3 common signals, no mismatches\n"),
    (["compare", "a.vcd", "b.vcd"],
     "FAILED: 3 mismatches in 2 signals (2 common signals)\n"
     "only in a.vcd: top.only_a\n"
     "only in b.vcd: top.only_b\n"
     "signal          time  value1  value2  is_unknown\n"
     "top.clk            0  0       x       yes\n"
     "top.count[3:0]    10  2       6       no\n"
     "top.count[3:0]    15  3       7       no\n"),
    (["compare", "a.vcd", "b.vcd", "--signals", "top.count[3:0]", "--max-mismatches", "1"],
     "FAILED: 1 mismatch in 1 signal (2 common signals)\n"
     "only in a.vcd: top.only_a\n"
     "only in b.vcd: top.only_b\n"
     "signal          time  value1  value2  is_unknown\n"
     "top.count[3:0]    10  2       6       no\n"),
]


@pytest.mark.parametrize("argv, table", TABLES, ids=_ids)
def test_table_output(capsys, argv, table):
    status, out, err = run(capsys, *argv)
    assert (out, err) == (table, "")
    assert status == (1 if table.startswith(("FAILED", "found  signal   time")) else 0)


SAME_AS_MODULE = [
    (["list", "a.vcd"], lambda: quarnel.list_signals("a.vcd")),
    (["list", "a.vcd", "--filter", "CLK"], lambda: quarnel.list_signals("a.vcd", "CLK")),
    (["meta", "a.vcd"], lambda: quarnel.metadata("a.vcd")),
    (["meta", "b.vcd"], lambda: quarnel.metadata("b.vcd")),
    (["extract", "a.vcd", "--signals", "top.clk", "--signals", "top.clk", "top.count[3:0]"],
     lambda: quarnel.extract("a.vcd", ["top.clk", "top.clk", "top.count[3:0]"])),
    (["extract", "a.vcd", "--signals", "top.clk", "--start", "5", "--end", "18446744073709551615"],
     lambda: quarnel.extract("a.vcd", ["top.clk"], 5, 2**64 - 1)),
    (["toggles", "a.vcd", "--signals", "top.clk", "top.count[3:0]", "--end", "10"],
     lambda: quarnel.toggles("a.vcd", ["top.clk", "top.count[3:0]"], None, 10)),
    (["find", "a.vcd", "top.clk", "1", "--occurrence", "2"],
     lambda: quarnel.find("a.vcd", "top.clk", "1", 2)),
    (["find", "a.vcd", "top.clk", "0", "--start", "1", "--end", "9"],
     lambda: quarnel.find("a.vcd", "top.clk", "0", start=1, end=9)),
    (["compare", "a.vcd", "b.vcd"], lambda: quarnel.compare("a.vcd", "b.vcd")),
    (["compare", "a.vcd", "b.vcd", "--ignore-unknown"],
     lambda: quarnel.compare("a.vcd", "b.vcd", ignore_unknown=True)),
    (["compare", "a.vcd", "b.vcd", "--max-mismatches", "0", "--signals", "top.clk", "no.such"],
     lambda: quarnel.compare("a.vcd", "b.vcd", max_mismatches=0, signals=["top.clk", "no.such"])),
    (["compare", "b.vcd", "a.vcd", "--start", "5", "--end", "12"],
     lambda: quarnel.compare("b.vcd", "a.vcd", start=5, end=12)),
]


@pytest.mark.parametrize("argv, call", SAME_AS_MODULE, ids=_ids)
def test_json_output_is_the_module_result(capsys, argv, call):
    expected = call()
    status, out, err = run(capsys, *argv, "--json")
    assert json.loads(out) == expected and err == ""
    negative = (argv[0] == "compare" and not expected["passed"]) or (
        argv[0] == "find" and not expected["found"])
    assert status == (1 if negative else 0)


def test_json_toggles_keep_the_request_order(capsys):
    names = ["top.count[3:0]", "top.only_a", "top.clk"]
    _, out, _ = run(capsys, "toggles", "a.vcd", "--json", "--signals", *names, names[0])
    assert list(json.loads(out)) == names


def _error_text(call):
    with pytest.raises(RuntimeError) as error:
        call()
    return str(error.value)


ERRORS = [
    (["list", "missing.vcd"], lambda: quarnel.list_signals("missing.vcd")),
    (["meta", "bad.vcd"], lambda: quarnel.metadata("bad.vcd")),
    (["extract", "a.vcd", "--signals", "top.clk", "top.nope", "no.such"],
     lambda: quarnel.extract("a.vcd", ["top.clk", "top.nope", "no.such"])),
    (["toggles", "missing.vcd", "--signals", "top.clk"],
     lambda: quarnel.toggles("missing.vcd", ["top.clk"])),
    (["find", "a.vcd", "top.nope", "1"], lambda: quarnel.find("a.vcd", "top.nope", "1")),
    (["find", "missing.vcd", "top.clk", "1", "--occurrence", "0"],
     lambda: quarnel.find("missing.vcd", "top.clk", "1", 0)),
    (["compare", "a.vcd", "bad.vcd"], lambda: quarnel.compare("a.vcd", "bad.vcd")),
]


@pytest.mark.parametrize("argv, call", ERRORS, ids=_ids)
@pytest.mark.parametrize("json_flag", [[], ["--json"]])
def test_errors_exit_2_with_the_exact_text(capsys, argv, call, json_flag):
    text = _error_text(call)
    assert run(capsys, *argv, *json_flag) == (2, "", text + "\n")


@pytest.mark.parametrize("argv, complaint", [
    (["extract", "a.vcd"], "--signals"),
    (["toggles", "a.vcd", "--signals"], "--signals"),
    (["extract", "a.vcd", "--signals", "top.clk", "--start", "-1"], "--start"),
    (["toggles", "a.vcd", "--signals", "top.clk", "--end", "18446744073709551616"], "--end"),
    (["find", "a.vcd", "top.clk", "1", "--occurrence", "1.5"], "--occurrence"),
    (["compare", "a.vcd", "b.vcd", "--max-mismatches", "x"], "--max-mismatches"),
    (["compare", "a.vcd"], "DUMP2"),
    (["meta"], "DUMP"),
    (["frobnicate", "a.vcd"], "frobnicate"),
    ([], "COMMAND"),
])
def test_bad_arguments_exit_2(capsys, argv, complaint):
    with pytest.raises(SystemExit) as exit_:
        quarnel_cli.main(argv)
    out, err = capsys.readouterr()
    assert exit_.value.code == 2 and out == ""
    assert complaint in err.splitlines()[-1]


def test_installed_console_script():
    (entry,) = distribution.distribution("quarnel").entry_points
    assert (entry.group, entry.name) == ("console_scripts", "quarnel")
    assert entry.value == "quarnel_cli:main"
    script = Path(sysconfig.get_path("scripts")) / "quarnel"
    result = subprocess.run([script, "meta", "a.vcd", "--json"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    assert result.returncode == 0 and result.stderr == ""
    assert json.loads(result.stdout) == quarnel.metadata("a.vcd")
    result = subprocess.run([script, "meta", "missing.vcd"], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == _error_text(lambda: quarnel.metadata("missing.vcd")) + "\n"


def test_reader_gone_is_quiet():
    # As for `quarnel meta a.vcd | head -0`: the reading end is closed before any output.
    script = Path(sysconfig.get_path("scripts")) / "quarnel"
    with subprocess.Popen([script, "meta", "a.vcd"], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as child:
        child.stdout.close()
        assert child.wait() == 2
        assert child.stderr.read() == ""

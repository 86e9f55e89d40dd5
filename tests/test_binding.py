"""The binding, for all six functions at once: the module frame, argument binding and
conversion, and how the core's errors reach Python."""

import os
import pathlib
import subprocess
import sys

import pytest

import quarnel
import quarnel.extended
from conftest import error_of

DUMP = "$var wire 1 ! clk $end $var wire 1 # d\u00e4t $end $enddefinitions $end\n#0\n1!\n#5\n0!\n"
P, T, O = "absent.vcd", TypeError, OverflowError  # no failure below reaches the core
STR, INT, SEQ = "converted to 'PyString'", "interpreted as an integer", "converted to 'Sequence'"
VEC = "argument 'signals': Can't extract `str` to `Vec`"


class Outer:
    Inner = type("Inner", (), {"__qualname__": "Outer.Inner"})


def returning(name, method, error):
    """A class whose `method` returns the value it was made with, or raises ValueError(error)
    when that is None."""
    def call(self):
        if self.value is None:
            raise ValueError(error)
        return self.value
    return type(name, (), {"__init__": lambda self, value: setattr(self, "value", value),
                           method: call})


Index, Fspath = returning("Index", "__index__", "no index"), returning("Fspath", "__fspath__",
                                                                       "no path")


def arg(name, kind, target):
    return f"argument '{name}': '{kind}' object cannot be {target}"


ERRORS = [  # (call, exception type, its text, or None for the interpreter's own text)
    # Binding: positional count, then keywords in the order given, all before conversion.
    (lambda: quarnel.list_signals(1, 2, 3, bogus=1), T,
     "list_signals() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: quarnel.metadata(P, P), T, "metadata() takes 1 positional arguments but 2 were given"),
    (lambda: quarnel.list_signals(1, zz=1, path=P), T,
     "list_signals() got an unexpected keyword argument 'zz'"),
    (lambda: quarnel.toggles(), T,
     "toggles() missing 2 required positional arguments: 'path' and 'signals'"),
    (lambda: quarnel.find(), T,
     "find() missing 3 required positional arguments: 'path', 'signal', and 'value'"),
    # Conversion, parameter by parameter in declaration order.
    (lambda: quarnel.list_signals(1, 2), T, arg("path", "int", STR)),
    (lambda: quarnel.extract(pathlib.Path(P), "x", -1), T, arg("path", "PosixPath", STR)),
    (lambda: quarnel.list_signals(Outer.Inner()), T, arg("path", "Outer.Inner", STR)),
    (lambda: quarnel.list_signals(P, ["a"]), T, arg("filter", "list", STR)),
    (lambda: quarnel.extract(P, "clk", start=-1), T, VEC),
    (lambda: quarnel.toggles(P, 5), T, arg("signals", "int", SEQ)),
    (lambda: quarnel.toggles(P, ["a", 1]), T, arg("signals", "int", STR)),
    (lambda: quarnel.extract(P, b"top"), T, arg("signals", "int", STR)),
    (lambda: quarnel.extract(P, [], start="1", end=-1), T, arg("start", "str", INT)),
    (lambda: quarnel.extract(P, [], start=-1, end="1"), O, None),
    (lambda: quarnel.extract(P, [], start=Index(None)), ValueError, "no index"),
    (lambda: quarnel.find(P, "s", 1, occurrence=-1), T, arg("value", "int", STR)),
    (lambda: quarnel.find(P, "s", "1", None, -1), T, arg("occurrence", "NoneType", INT)),
    (lambda: quarnel.compare(P, P, max_mismatches=-1, signals="x"), O, None),
    (lambda: quarnel.compare(P, P, max_mismatches="1"), T, arg("max_mismatches", "str", INT)),
    (lambda: quarnel.compare(P, P, ignore_unknown=1, start=-1), T,
     arg("ignore_unknown", "int", "converted to 'PyBool'")),
    (lambda: quarnel.list_signals("a\ud800.vcd"), UnicodeEncodeError, None),
    (lambda: quarnel.toggles(P, ["a", "\udcff"]), UnicodeEncodeError, None),
    # quarnel.extended also takes os.PathLike paths (test_paths_name_files_as_the_os_does).
    (lambda: quarnel.extended.metadata(b"x.vcd"), T,
     "argument 'path': expected str or os.PathLike object, not bytes"),
    (lambda: quarnel.extended.compare(P, Outer.Inner()), T,
     "argument 'file2': expected str or os.PathLike object, not Outer.Inner"),
    (lambda: quarnel.extended.list_signals(Fspath(b"x")), T,
     "argument 'path': expected Fspath.__fspath__() to return str, not bytes"),
    (lambda: quarnel.extended.list_signals(Fspath(None)), ValueError, "no path"),
    (lambda: quarnel.extended.compare(P, P, timescales=1), T, arg("timescales", "int", STR)),
    (lambda: quarnel.extended.compare(P, P, timescales="ns"), ValueError,
     "timescales must be 'ticks', 'same' or 'finer', not 'ns'"),
]


@pytest.mark.parametrize("call, error, message", ERRORS)
def test_argument_errors(call, error, message):
    text = error_of(call, error=error)
    assert text == message if message else not text.startswith("argument")


def test_accepted_argument_forms(vcd):
    path, text, seq = vcd(DUMP), type("Text", (str,), {}), type("Seq", (list,), {})
    for expected, *forms in [
        (quarnel.list_signals(path), quarnel.list_signals(filter=None, path=text(path))),
        (["d\u00e4t"], quarnel.list_signals(path, "\u00e4")),
        (quarnel.extract(path, ["clk"]), quarnel.extract(path, ("clk",), False, Index(5)),
         quarnel.extract(path=path, signals=seq([text("clk")]), start=None, end=None)),
        (quarnel.find(path, "clk", "0"),
         quarnel.find(path=path, signal="clk", value="0", occurrence=1, start=0, end=5)),
        (quarnel.compare(path, path), quarnel.compare(
            file2=path, file1=path, ignore_unknown=True, max_mismatches=0, signals=None)),
    ]:
        assert all(form == expected for form in forms)
    numpy = pytest.importorskip("numpy")
    assert quarnel.compare(path, path, ignore_unknown=numpy.bool_(True))["passed"]


def test_module_frame_results_and_core_errors(vcd):
    assert quarnel.__all__ == ["list_signals", "metadata", "extract", "toggles", "find", "compare"]
    assert all((getattr(quarnel, name).__module__, getattr(quarnel, name).__self__) ==
               ("quarnel", quarnel) for name in quarnel.__all__)
    # Beside the functions, PanicException for internal failures (__version__: test_cli.py).
    assert quarnel.PanicException.__bases__ == (BaseException,)
    assert quarnel.PanicException.__module__ == "quarnel"
    records = quarnel.extract(vcd(DUMP), ["clk", "clk"])
    records[0]["value"] = "changed"
    assert len({id(r) for r in records}) == 4 and records[1]["value"] == "1"
    # Past the first few thousand records, their templates are made another way.
    times = range(10, 3010)
    records = quarnel.extract(vcd(DUMP + "".join(f"#{t}\n{t % 2}!\nb{t:b} #\n" for t in times)),
                              ["clk", "d\u00e4t", "clk"])[4:]
    records[-1]["value"] = "changed"
    assert records[:-1] == [{"signal": n, "time": t, "value": v} for t in times for n, v in
                            (("clk", str(t % 2)), ("clk", str(t % 2)), ("d\u00e4t", str(t)))][:-1]
    assert all(list(r) == ["signal", "time", "value"] for r in records)
    with pytest.raises(RuntimeError) as info:
        quarnel.list_signals(vcd("$var wire 1 ! clk $end\n"))
    assert type(info.value) is RuntimeError and info.value.__cause__ is None
    assert info.value.args == ("missing $enddefinitions marker in VCD file",)
    with pytest.raises(RuntimeError) as info:
        quarnel.find(vcd(DUMP), "clk", "1", 0)
    assert info.value.path is None  # not about the file
    # The path is passed whole: cut at the NUL, it would open the valid file.
    assert error_of(quarnel.list_signals, vcd(DUMP) + "\0.bak").startswith("I/O error: ")
    assert quarnel.list_signals(vcd(DUMP), "clk\0") == []


# Each function with the arguments that follow its path, or paths.
CALLS = {"list_signals": lambda f, p: f(p), "metadata": lambda f, p: f(p),
         "extract": lambda f, p: f(p, ["clk"]), "toggles": lambda f, p: f(p, ["clk"]),
         "find": lambda f, p: f(p, "clk", "0"), "compare": lambda f, p: f(p, p)}


@pytest.mark.parametrize("name", CALLS)
def test_paths_name_files_as_the_os_does(tmp_path, name):
    call = CALLS[name]
    plain, raw = tmp_path / "plain.vcd", tmp_path / os.fsdecode(b"not utf-8 \xff.vcd")
    for path in (plain, raw):
        path.write_text(DUMP)
    answer = call(getattr(quarnel, name), str(plain))
    for module, kind in ((quarnel, str), (quarnel, type("Text", (str,), {})),
                         (quarnel.extended, pathlib.Path), (quarnel.extended, Fspath)):
        result = call(getattr(module, name), kind(str(raw)))
        if name == "compare":  # the paths as plain str
            assert type(result["file1"]) is str and result["file1"] == str(raw)
            result.update(file1=str(plain), file2=str(plain))
        assert result == answer
        # An error names the path as the caller gave it.
        absent = kind(str(tmp_path / "absent \udcff.vcd"))
        with pytest.raises(RuntimeError) as info:
            call(getattr(module, name), absent)
        assert info.value.path is absent
    assert error_of(call, getattr(quarnel, name), raw, error=TypeError).endswith(
        "'PosixPath' object cannot be converted to 'PyString'")


def test_second_initialisation_is_refused(vcd):
    script = """if 1:
        import importlib, sys, quarnel
        del sys.modules["quarnel"]
        for load in (lambda: importlib.import_module("quarnel"), lambda: importlib.reload(quarnel)):
            try:
                load()
            except ImportError:
                print("refused")
        print(quarnel.list_signals(sys.argv[1], "clk"))"""
    result = subprocess.run([sys.executable, "-c", script, vcd(DUMP)], capture_output=True,
                            text=True)
    assert result.stdout.splitlines() == ["refused", "refused", "['clk']"], result.stderr

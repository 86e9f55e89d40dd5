"""The binding, for all six functions at once: the module frame, argument binding and
conversion, and how the core's errors reach Python."""

import pathlib
import subprocess
import sys

import pytest

import quarnel
from conftest import error_of

DUMP = "$scope module top $end\n$var wire 1 ! clk $end\n$var wire 1 # d\u00e4t $end\n" \
       "$upscope $end\n$enddefinitions $end\n#0\n1!\n#5\n0!\n"
NAMES = ["top.clk", "top.d\u00e4t"]
P = "absent.vcd"  # no failure below reaches the core: the file is never opened


class Outer:
    class Inner:
        pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        if self.value is None:
            raise ValueError("no index")
        return self.value


def msg(name, kind, target):
    return f"argument '{name}': '{kind}' object cannot be {target}"


STR, INT, SEQ, BOOL = ("converted to 'PyString'", "interpreted as an integer",
                       "converted to 'Sequence'", "converted to 'PyBool'")
# (call, exception type, its text or None where only the type is the interpreter's own)
ERRORS = [
    (lambda: quarnel.list_signals(P, "a", "b"),
     TypeError, "list_signals() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: quarnel.list_signals(P, 1, 2, bogus=1),
     TypeError, "list_signals() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: quarnel.list_signals(P, filter="a", path=P),
     TypeError, "list_signals() got multiple values for argument 'path'"),
    (lambda: quarnel.list_signals(1, 2, filter=3),
     TypeError, "list_signals() got multiple values for argument 'filter'"),
    # Keywords are checked in the order given, all before any conversion.
    (lambda: quarnel.list_signals(1, zz=1, path=P),
     TypeError, "list_signals() got an unexpected keyword argument 'zz'"),
    (lambda: quarnel.list_signals(P, path=P, zz=1),
     TypeError, "list_signals() got multiple values for argument 'path'"),
    (lambda: quarnel.list_signals(P, **{"p\udc80th": 1}),
     TypeError, "list_signals() got an unexpected keyword argument 'p\udc80th'"),
    (lambda: quarnel.list_signals(filter=1),
     TypeError, "list_signals() missing 1 required positional argument: 'path'"),
    (lambda: quarnel.metadata(P, P), TypeError,
     "metadata() takes 1 positional arguments but 2 were given"),
    (lambda: quarnel.toggles(), TypeError,
     "toggles() missing 2 required positional arguments: 'path' and 'signals'"),
    (lambda: quarnel.find(), TypeError,
     "find() missing 3 required positional arguments: 'path', 'signal', and 'value'"),
    (lambda: quarnel.find(P, "s", "1", 1, 2, 3, 4), TypeError,
     "find() takes from 3 to 6 positional arguments but 7 were given"),
    (lambda: quarnel.extract(P, [], begin=1), TypeError,
     "extract() got an unexpected keyword argument 'begin'"),
    (lambda: quarnel.compare(P, P, P), TypeError,
     "compare() takes 2 positional arguments but 3 were given"),
    (lambda: quarnel.compare(P, file1=P), TypeError,
     "compare() got multiple values for argument 'file1'"),
    # Conversion, parameter by parameter in declaration order.
    (lambda: quarnel.list_signals(1, 2), TypeError, msg("path", "int", STR)),
    (lambda: quarnel.metadata(None), TypeError, msg("path", "NoneType", STR)),
    (lambda: quarnel.metadata(b"a.vcd"), TypeError, msg("path", "bytes", STR)),
    (lambda: quarnel.extract(pathlib.Path(P), "x", start=-1), TypeError,
     msg("path", "PosixPath", STR)),
    (lambda: quarnel.list_signals(Outer.Inner()), TypeError, msg("path", "Outer.Inner", STR)),
    (lambda: quarnel.list_signals(P, ["a"]), TypeError, msg("filter", "list", STR)),
    (lambda: quarnel.extract(P, "top.clk", start=-1), TypeError,
     "argument 'signals': Can't extract `str` to `Vec`"),
    (lambda: quarnel.toggles(P, type("S", (str,), {})("a")), TypeError,
     "argument 'signals': Can't extract `str` to `Vec`"),
    (lambda: quarnel.toggles(P, 5), TypeError, msg("signals", "int", SEQ)),
    (lambda: quarnel.extract(P, {"a"}), TypeError, msg("signals", "set", SEQ)),
    (lambda: quarnel.extract(P, iter(["a"])), TypeError, msg("signals", "list_iterator", SEQ)),
    (lambda: quarnel.toggles(P, ["a", 1]), TypeError, msg("signals", "int", STR)),
    (lambda: quarnel.extract(P, b"top"), TypeError, msg("signals", "int", STR)),
    (lambda: quarnel.extract(P, [], start="1", end=-1), TypeError, msg("start", "str", INT)),
    (lambda: quarnel.toggles(P, [], end=1.5), TypeError, msg("end", "float", INT)),
    (lambda: quarnel.extract(P, [], start=-1, end="1"), OverflowError, None),
    (lambda: quarnel.toggles(P, [], end=2**64), OverflowError, None),
    (lambda: quarnel.extract(P, [], start=Index(-5)), OverflowError, None),
    (lambda: quarnel.extract(P, [], start=Index(None)), ValueError, "no index"),
    (lambda: quarnel.find(P, "s", 1, occurrence=-1), TypeError, msg("value", "int", STR)),
    (lambda: quarnel.find(P, "s", "1", None, -1), TypeError, msg("occurrence", "NoneType", INT)),
    (lambda: quarnel.find(P, "s", "1", -1, "0"), OverflowError, None),
    (lambda: quarnel.find(P, "s", "1", 2**64), OverflowError, None),
    (lambda: quarnel.find(P, "s", "1", start=-1), OverflowError, None),
    (lambda: quarnel.compare(1, P, ignore_unknown=1), TypeError, msg("file1", "int", STR)),
    (lambda: quarnel.compare(P, P, max_mismatches=-1, signals="x"), OverflowError, None),
    (lambda: quarnel.compare(P, P, signals="x", ignore_unknown=1), TypeError,
     "argument 'signals': Can't extract `str` to `Vec`"),
    (lambda: quarnel.compare(P, P, signals=["a", None]), TypeError,
     msg("signals", "NoneType", STR)),
    (lambda: quarnel.compare(P, P, ignore_unknown=1, start=-1), TypeError,
     msg("ignore_unknown", "int", BOOL)),
    (lambda: quarnel.compare(P, P, ignore_unknown=None), TypeError,
     msg("ignore_unknown", "NoneType", BOOL)),
    (lambda: quarnel.compare(P, P, end=2**64), OverflowError, None),
    (lambda: quarnel.list_signals("a\ud800.vcd"), UnicodeEncodeError, None),
    (lambda: quarnel.toggles(P, ["a", "\udcff"]), UnicodeEncodeError, None),
]


@pytest.mark.parametrize("call, error, message", ERRORS)
def test_argument_errors(call, error, message):
    text = error_of(call, error=error)
    if message is None:  # the interpreter's own error, not wrapped by the binding
        assert not text.startswith("argument")
    else:
        assert text == message


def test_accepted_argument_forms(vcd):
    path = vcd(DUMP)
    subclass = type("Text", (str,), {})
    tables = [
        (quarnel.list_signals(path), [quarnel.list_signals(path, None),
         quarnel.list_signals(filter=None, path=path), quarnel.list_signals(subclass(path))]),
        (quarnel.list_signals(path, "\u00e4"), [["top.d\u00e4t"]]),
        (quarnel.extract(path, ["top.clk"]), [
            quarnel.extract(path, ("top.clk",), False, Index(5)),
            quarnel.extract(path=path, signals=type("L", (list,), {})([subclass("top.clk")]),
                            start=None, end=None)]),
        (quarnel.toggles(path, ["top.clk"]), [quarnel.toggles(path, ("top.clk",), Index(0), 5)]),
        (quarnel.find(path, "top.clk", "0"), [
            quarnel.find(path=path, signal="top.clk", value="0", occurrence=1, start=0, end=5)]),
        (quarnel.compare(path, path, ignore_unknown=True), [
            quarnel.compare(file2=path, file1=path, ignore_unknown=True, max_mismatches=0,
                            signals=None, start=None, end=None)]),
    ]
    for expected, forms in tables:
        assert all(form == expected for form in forms)
    numpy = pytest.importorskip("numpy")
    assert quarnel.compare(path, path, ignore_unknown=numpy.bool_(True))["passed"]


def test_module_frame():
    assert quarnel.__all__ == ["list_signals", "metadata", "extract", "toggles", "find",
                               "compare"]
    for name in quarnel.__all__:
        function = getattr(quarnel, name)
        assert (function.__module__, function.__name__, function.__self__) == \
            ("quarnel", name, quarnel)


def test_results_are_new_objects(vcd):
    path = vcd(DUMP)
    records = quarnel.extract(path, ["top.clk", "top.clk"])
    assert len({id(record) for record in records}) == 4
    records[0]["value"] = "changed"
    assert records[1]["value"] == "1"
    quarnel.list_signals(path).clear()
    assert quarnel.list_signals(path) == NAMES


def test_core_errors_are_plain_runtime_errors(vcd):
    with pytest.raises(RuntimeError) as info:
        quarnel.list_signals(vcd("$var wire 1 ! clk $end\n"))
    assert type(info.value) is RuntimeError and info.value.__cause__ is None
    assert info.value.args == ("missing $enddefinitions marker in VCD file",)
    # The path is passed whole: cut at the NUL, it would open the valid file.
    path = vcd(DUMP)
    assert error_of(quarnel.list_signals, path + "\0.bak").startswith("I/O error: ")
    assert quarnel.list_signals(path, "clk\0") == []


def test_second_initialisation_is_refused(vcd):
    script = """if 1:
        import importlib, sys
        import quarnel
        del sys.modules["quarnel"]
        for load in (lambda: importlib.import_module("quarnel"), lambda: importlib.reload(quarnel)):
            try:
                load()
            except ImportError:
                print("refused")
        print(quarnel.list_signals(sys.argv[1], "clk"))
    """
    result = subprocess.run([sys.executable, "-c", script, vcd(DUMP)], capture_output=True,
                            text=True)
    assert result.stdout.splitlines() == ["refused", "refused", "['top.clk']"], result.stderr

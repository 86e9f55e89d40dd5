"""The module frame: registration, signatures, argument binding and conversion, error classes."""

import inspect
import pathlib
import subprocess
import sys
import textwrap
import types

import pytest

import quarnel

VCD = """\
$timescale 1 ns $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 8 # data [7:0] $end
$var wire 1 $ d\u00e4t\u00e4 $end
$upscope $end
$enddefinitions $end
#0
0!
"""

NAMES = ["top.clk", "top.data[7:0]", "top.d\u00e4t\u00e4"]


@pytest.fixture
def vcd(tmp_path):
    path = tmp_path / "dump.vcd"
    path.write_text(VCD, encoding="utf-8")
    return str(path)


def test_module_exposes_exactly_the_registered_functions():
    assert quarnel.__all__ == ["list_signals", "metadata", "extract", "toggles", "find", "compare"]
    public = sorted(name for name in dir(quarnel) if not name.startswith("_"))
    assert public == sorted(quarnel.__all__)
    assert quarnel.__doc__ == ""


def test_function_object_belongs_to_the_module():
    function = quarnel.list_signals
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__module__ == "quarnel"
    assert function.__name__ == "list_signals"
    assert function.__self__ is quarnel


def test_docstring_and_signature():
    function = quarnel.list_signals
    assert function.__text_signature__ == "(path, filter=None)"
    assert function.__doc__ == "\n".join([
        "List signal names declared in a VCD file.",
        "",
        "Args:",
        "    path: Path to the VCD file.",
        "    filter: Optional substring; only signals containing it are returned.",
        "",
        "Returns:",
        "    List of signal name strings.",
    ])
    signature = inspect.signature(function)
    assert str(signature) == "(path, filter=None)"
    kinds = {p.kind for p in signature.parameters.values()}
    assert kinds == {inspect.Parameter.POSITIONAL_OR_KEYWORD}


def test_returns_new_list_of_str(vcd):
    first = quarnel.list_signals(vcd)
    assert first == NAMES
    assert all(type(name) is str for name in first)
    first.clear()
    assert quarnel.list_signals(vcd) == NAMES


@pytest.mark.parametrize("call", [
    lambda p: quarnel.list_signals(p, None),
    lambda p: quarnel.list_signals(p, filter=None),
    lambda p: quarnel.list_signals(path=p),
    lambda p: quarnel.list_signals(filter=None, path=p),
], ids=["positional-none", "keyword-none", "path-keyword", "reversed-keywords"])
def test_binding_forms_that_are_accepted(vcd, call):
    assert call(vcd) == NAMES


def test_text_round_trips_through_utf8(vcd):
    assert quarnel.list_signals(vcd, "\u00e4t") == ["top.d\u00e4t\u00e4"]
    assert quarnel.list_signals(path=vcd, filter="data") == ["top.data[7:0]"]


class Text(str):
    pass


def test_str_subclasses_are_accepted(vcd):
    assert quarnel.list_signals(Text(vcd), Text("clk")) == ["top.clk"]


# Binding errors, each checked before any conversion: the bad values in the
# calls below would fail conversion if binding let them through.
BINDING_ERRORS = [
    (lambda p: quarnel.list_signals(p, "a", "b"),
     "list_signals() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda p: quarnel.list_signals(1, 2, 3, 4),
     "list_signals() takes from 1 to 2 positional arguments but 4 were given"),
    (lambda p: quarnel.list_signals(p, 1, 2, bogus=1),
     "list_signals() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda p: quarnel.list_signals(p, filter="a", path=p),
     "list_signals() got multiple values for argument 'path'"),
    (lambda p: quarnel.list_signals(1, 2, filter=3),
     "list_signals() got multiple values for argument 'filter'"),
    (lambda p: quarnel.list_signals(1, bogus=1),
     "list_signals() got an unexpected keyword argument 'bogus'"),
    (lambda p: quarnel.list_signals(p, Path=p),
     "list_signals() got an unexpected keyword argument 'Path'"),
    # Keywords are checked in the order given: the first bad one wins.
    (lambda p: quarnel.list_signals(p, zz=1, path=p),
     "list_signals() got an unexpected keyword argument 'zz'"),
    (lambda p: quarnel.list_signals(p, path=p, zz=1),
     "list_signals() got multiple values for argument 'path'"),
    (lambda p: quarnel.list_signals(),
     "list_signals() missing 1 required positional argument: 'path'"),
    (lambda p: quarnel.list_signals(filter=1),
     "list_signals() missing 1 required positional argument: 'path'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_errors(vcd, call, message):
    with pytest.raises(TypeError) as info:
        call(vcd)
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_unexpected_keyword_shows_the_key_text():
    key = "p\udc80th"
    with pytest.raises(TypeError) as info:
        quarnel.list_signals("x", **{key: 1})
    assert str(info.value) == f"list_signals() got an unexpected keyword argument '{key}'"


CONVERSION_ERRORS = [
    ((1,), "argument 'path': 'int' object cannot be converted to 'PyString'"),
    ((None,), "argument 'path': 'NoneType' object cannot be converted to 'PyString'"),
    ((b"dump.vcd",), "argument 'path': 'bytes' object cannot be converted to 'PyString'"),
    ((pathlib.Path("dump.vcd"),),
     "argument 'path': 'PosixPath' object cannot be converted to 'PyString'"),
    (("dump.vcd", 5), "argument 'filter': 'int' object cannot be converted to 'PyString'"),
    (("dump.vcd", ["a"]), "argument 'filter': 'list' object cannot be converted to 'PyString'"),
    # Parameters convert in order: path fails first.
    ((1, 2), "argument 'path': 'int' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("args, message", CONVERSION_ERRORS)
def test_conversion_errors(args, message):
    with pytest.raises(TypeError) as info:
        quarnel.list_signals(*args)
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_nested_type_name_is_qualified():
    class Outer:
        class Inner:
            pass

    with pytest.raises(TypeError, match=r"^argument 'path': "
                       r"'test_nested_type_name_is_qualified\.<locals>\.Outer\.Inner' object"):
        quarnel.list_signals(Outer.Inner())


@pytest.mark.parametrize("args", [("dump\ud800.vcd",), ("dump.vcd", "\udcff")],
                         ids=["path", "filter"])
def test_lone_surrogate_raises_the_interpreters_encode_error(args):
    with pytest.raises(UnicodeEncodeError) as info:
        quarnel.list_signals(*args)
    assert type(info.value) is UnicodeEncodeError
    assert not str(info.value).startswith("argument")
    assert info.value.reason == "surrogates not allowed"


def test_core_errors_are_exactly_runtime_error(tmp_path):
    missing = tmp_path / "missing.vcd"
    with pytest.raises(RuntimeError) as info:
        quarnel.list_signals(str(missing))
    assert type(info.value) is RuntimeError
    assert len(info.value.args) == 1
    assert info.value.args[0].startswith("I/O error: ")
    assert info.value.__cause__ is None

    broken = tmp_path / "broken.vcd"
    broken.write_text("$scope module top $end\n$var wire 1 ! clk $end\n")
    with pytest.raises(RuntimeError) as info:
        quarnel.list_signals(str(broken))
    assert type(info.value) is RuntimeError
    assert info.value.args == ("missing $enddefinitions marker in VCD file",)


def test_path_is_passed_whole_including_nul(vcd):
    # Cutting the text at the NUL would open the valid file instead.
    with pytest.raises(RuntimeError, match=r"^I/O error: "):
        quarnel.list_signals(vcd + "\0.bak")
    assert quarnel.list_signals(vcd, "clk\0") == []


def test_second_initialisation_is_refused(vcd):
    script = textwrap.dedent("""
        import importlib, sys
        import quarnel
        first = quarnel
        del sys.modules["quarnel"]
        try:
            importlib.import_module("quarnel")
        except ImportError:
            print("refused")
        try:
            importlib.reload(first)
        except ImportError:
            print("refused")
        print(first.list_signals(sys.argv[1]))
    """)
    result = subprocess.run([sys.executable, "-c", script, vcd], capture_output=True,
                            text=True, encoding="utf-8")
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["refused", "refused", repr(NAMES)]

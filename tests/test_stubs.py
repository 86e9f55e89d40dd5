"""The type stubs: installed where type checkers look, in step with the module, usable by mypy."""

import ast
import inspect
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import quarnel

REPO = Path(__file__).resolve().parent.parent
STUB_SOURCE = REPO / "python" / "quarnel.pyi"
FUNCTIONS = ["list_signals", "metadata", "extract", "toggles", "find", "compare"]
STUB = ast.parse(STUB_SOURCE.read_text(encoding="utf-8"))
STUB_FUNCTIONS = {node.name: node for node in STUB.body if isinstance(node, ast.FunctionDef)}
STUB_CLASSES = {node.name: node for node in STUB.body if isinstance(node, ast.ClassDef)}
STUB_ALIASES = {
    node.targets[0].id: node.value
    for node in STUB.body
    if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name)
}

VCD = """\
$timescale 10 ps $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 4 " bus [3:0] $end
$upscope $end
$enddefinitions $end
#0
0!
b0 "
#5
1!
bx1 "
"""


def _site_packages():
    return Path(quarnel.__file__).resolve().parent


@pytest.mark.parametrize("installed", ["quarnel.pyi", "quarnel-stubs/__init__.pyi"])
def test_stub_is_installed_beside_the_extension(installed):
    # quarnel.pyi beside the .so is for editors and other checkers; mypy reads only the stub
    # package, the one place it looks for the stubs of a single-module distribution.
    path = _site_packages() / installed
    assert path.read_text(encoding="utf-8") == STUB_SOURCE.read_text(encoding="utf-8")


def test_stub_declares_exactly_the_functions_of_the_module():
    assert ast.literal_eval(STUB_ALIASES["__all__"]) == FUNCTIONS
    assert sorted(STUB_FUNCTIONS) == sorted(FUNCTIONS)
    assert quarnel.__all__ == FUNCTIONS
    assert sorted(name for name in dir(quarnel) if not name.startswith("_")) == sorted(FUNCTIONS)


def _stub_signature(node):
    """The stub function's signature without annotations, built as inspect reports one."""
    arguments = node.args
    kind = inspect.Parameter.POSITIONAL_OR_KEYWORD
    positional = arguments.posonlyargs + arguments.args
    defaults = [inspect.Parameter.empty] * (len(positional) - len(arguments.defaults))
    defaults += [ast.literal_eval(default) for default in arguments.defaults]
    parameters = [
        inspect.Parameter(argument.arg, inspect.Parameter.POSITIONAL_ONLY
                          if argument in arguments.posonlyargs else kind, default=default)
        for argument, default in zip(positional, defaults)
    ]
    for argument, default in zip(arguments.kwonlyargs, arguments.kw_defaults):
        parameters.append(inspect.Parameter(
            argument.arg, inspect.Parameter.KEYWORD_ONLY,
            default=inspect.Parameter.empty if default is None else ast.literal_eval(default)))
    assert arguments.vararg is None and arguments.kwarg is None
    return inspect.Signature(parameters)


@pytest.mark.parametrize("name", FUNCTIONS)
def test_stub_signature_matches_the_module(name):
    assert _stub_signature(STUB_FUNCTIONS[name]) == inspect.signature(getattr(quarnel, name))


def _conforms(value, annotation):
    """Whether a runtime value fits a stub annotation (the forms the stub uses)."""
    if isinstance(annotation, ast.Constant) and annotation.value is None:
        return value is None
    if isinstance(annotation, ast.BinOp):  # X | Y
        return _conforms(value, annotation.left) or _conforms(value, annotation.right)
    if isinstance(annotation, ast.Subscript):
        outer, inner = annotation.value.id, annotation.slice
        if outer == "Literal":
            return type(value) is bool and value is ast.literal_eval(inner)
        if outer == "dict":
            key, item = inner.elts
            return isinstance(value, dict) and all(
                _conforms(k, key) and _conforms(v, item) for k, v in value.items())
        assert outer == "list", outer
        return isinstance(value, list) and all(_conforms(item, inner) for item in value)
    name = annotation.id
    if name in STUB_ALIASES:  # a Union of TypedDicts
        return any(_conforms(value, member) for member in STUB_ALIASES[name].slice.elts)
    if name in STUB_CLASSES:
        fields = [(node.target.id, node.annotation) for node in STUB_CLASSES[name].body
                  if isinstance(node, ast.AnnAssign)]
        return (isinstance(value, dict) and list(value) == [key for key, _ in fields]
                and all(_conforms(value[key], hint) for key, hint in fields))
    return type(value) is {"int": int, "str": str, "bool": bool}[name]


CALLS = [
    ("list_signals", lambda a, b: quarnel.list_signals(a)),
    ("metadata", lambda a, b: quarnel.metadata(a)),
    ("metadata", lambda a, b: quarnel.metadata(b)),  # no timescale
    ("extract", lambda a, b: quarnel.extract(a, ["top.clk", "top.bus[3:0]"])),
    ("toggles", lambda a, b: quarnel.toggles(a, ["top.clk", "top.bus[3:0]"])),
    ("find", lambda a, b: quarnel.find(a, "top.clk", "1")),
    ("find", lambda a, b: quarnel.find(a, "top.clk", "z")),
    ("compare", lambda a, b: quarnel.compare(a, a)),
    ("compare", lambda a, b: quarnel.compare(a, b)),
]


@pytest.mark.parametrize("name, call", CALLS)
def test_results_have_the_types_the_stub_declares(tmp_path, name, call):
    (tmp_path / "a.vcd").write_text(VCD)
    without_timescale = VCD.replace("$timescale 10 ps $end\n", "")
    (tmp_path / "b.vcd").write_text(without_timescale.replace("bx1", "b11"))
    result = call(str(tmp_path / "a.vcd"), str(tmp_path / "b.vcd"))
    assert _conforms(result, STUB_FUNCTIONS[name].returns), result


def _mypy(*arguments, cwd):
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", *arguments],
        cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


@pytest.fixture(scope="module")
def mypy_cache(tmp_path_factory):
    return ["--cache-dir", str(tmp_path_factory.mktemp("mypy_cache"))]


@pytest.mark.parametrize("source", ["examples/typed_usage.py", "python/quarnel_cli.py"])
def test_mypy_strict_accepts(source, mypy_cache):
    result = _mypy(*mypy_cache, source, cwd=REPO)
    assert result.returncode == 0, result.stdout


def test_mypy_strict_rejects_misuse(tmp_path, mypy_cache):
    # Run outside the repository, so that only the installed stubs can be found.
    (tmp_path / "misuse.py").write_text(textwrap.dedent("""\
        import quarnel
        quarnel.compare("a.vcd", "b.vcd", 3)
        quarnel.extract("a.vcd", ["top.clk"], start="0")
        quarnel.find("a.vcd", "top.clk", "1")["time"] + 1
        quarnel.metadata("a.vcd")["timescales"]
        quarnel.list_signals("a.vcd", 1)
        x: bool = quarnel.compare("a.vcd", "b.vcd")["mismatches"][0]["is_unknown"]
        """))
    output = _mypy(*mypy_cache, "misuse.py", cwd=tmp_path).stdout
    flagged = sorted({int(line.split(":")[1]) for line in output.splitlines()
                      if line.startswith("misuse.py:") and ": error:" in line})
    assert flagged == [2, 3, 4, 5, 6], output


def test_typed_usage_example_runs():
    result = subprocess.run([sys.executable, str(REPO / "examples" / "typed_usage.py")],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert result.returncode == 0, result.stdout

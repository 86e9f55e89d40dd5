"""The type stubs: installed where type checkers look, in step with the module, usable by mypy."""

import ast
import inspect
import subprocess
import sys
from pathlib import Path

import quarnel
import quarnel.extended
from conftest import REPO

STUB = (REPO / "python" / "quarnel.pyi").read_text(encoding="utf-8")
EXTENDED_STUB = (REPO / "python" / "quarnel_extended.pyi").read_text(encoding="utf-8")


def test_stubs_are_installed_and_match_the_module():
    # quarnel.pyi beside the .so is for editors and other checkers; mypy reads only the stub
    # package, the one place it looks for the stubs of a single-module distribution.
    for installed, stub in (("quarnel.pyi", STUB), ("quarnel-stubs/__init__.pyi", STUB),
                            ("quarnel-stubs/extended.pyi", EXTENDED_STUB)):
        assert (Path(quarnel.__file__).resolve().parent / installed).read_text("utf-8") == stub
    for module, text in ((quarnel, STUB), (quarnel.extended, EXTENDED_STUB)):
        functions = {f.name: f.args for f in ast.parse(text).body
                     if isinstance(f, ast.FunctionDef)}
        assert list(functions) == module.__all__
        check_signatures(module, functions)


def check_signatures(module, functions):
    for name, args in functions.items():
        kinds = [inspect.Parameter.POSITIONAL_OR_KEYWORD] * len(args.args) + [
            inspect.Parameter.KEYWORD_ONLY] * len(args.kwonlyargs)
        defaults = [inspect.Parameter.empty] * (len(args.args) - len(args.defaults)) + [
            ast.literal_eval(d) for d in args.defaults + args.kw_defaults]
        stub = inspect.Signature([inspect.Parameter(a.arg, k, default=d) for a, k, d in zip(
            args.args + args.kwonlyargs, kinds, defaults)])
        assert stub == inspect.signature(getattr(module, name))


def test_mypy_strict_accepts_the_typed_example_and_it_runs(tmp_path):
    # The example reads quarnel_batch as installed, the batch and the command as written.
    example = str(REPO / "examples" / "typed_usage.py")
    mypy = [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path)]
    for command in ([*mypy, example], [*mypy, *(str(REPO / "python" / name)
                                                for name in ("quarnel_batch", "quarnel_cli.py"))],
                    [sys.executable, example]):
        result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                text=True)
        assert result.returncode == 0, result.stdout

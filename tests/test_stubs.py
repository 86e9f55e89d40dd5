"""The type stubs: installed where type checkers look, in step with the module, usable by mypy."""

import ast
import inspect
import subprocess
import sys
from pathlib import Path

import pytest

import quarnel
from conftest import REPO

STUB_SOURCE = (REPO / "python" / "quarnel.pyi").read_text(encoding="utf-8")
STUB = {node.name: node for node in ast.parse(STUB_SOURCE).body
        if isinstance(node, ast.FunctionDef)}


@pytest.mark.parametrize("installed", ["quarnel.pyi", "quarnel-stubs/__init__.pyi"])
def test_stub_is_installed_beside_the_extension(installed):
    # quarnel.pyi beside the .so is for editors and other checkers; mypy reads only the stub
    # package, the one place it looks for the stubs of a single-module distribution.
    path = Path(quarnel.__file__).resolve().parent / installed
    assert path.read_text(encoding="utf-8") == STUB_SOURCE


@pytest.mark.parametrize("name", quarnel.__all__)
def test_stub_signature_matches_the_module(name):
    arguments = STUB[name].args
    defaults = [inspect.Parameter.empty] * (len(arguments.args) - len(arguments.defaults))
    defaults += [ast.literal_eval(default) for default in arguments.defaults]
    parameters = [inspect.Parameter(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, default=d)
                  for a, d in zip(arguments.args, defaults)]
    parameters += [inspect.Parameter(a.arg, inspect.Parameter.KEYWORD_ONLY,
                                     default=ast.literal_eval(d))
                   for a, d in zip(arguments.kwonlyargs, arguments.kw_defaults)]
    assert inspect.Signature(parameters) == inspect.signature(getattr(quarnel, name))
    assert sorted(STUB) == sorted(quarnel.__all__)


def test_mypy_strict_accepts_the_typed_example(tmp_path):
    example = REPO / "examples" / "typed_usage.py"
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir",
         str(tmp_path), str(example)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert result.returncode == 0, result.stdout
    result = subprocess.run([sys.executable, str(example)], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    assert result.returncode == 0, result.stdout

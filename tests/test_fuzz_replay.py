"""Every saved fuzz input, replayed: the corpora grown by fuzzing and the inputs that once
crashed a target or broke one of its checks (fuzz/regressions). The targets are built as
plain programs with the compiler at hand, with the sanitizers when QUARNEL_SANITIZE=ON."""

import subprocess

import pytest

from conftest import REPO, build

TARGETS = ["fuzz_header", "fuzz_body", "fuzz_vocabulary", "fuzz_target", "fuzz_fst",
           "fuzz_index", "fuzz_sample"]


@pytest.fixture(scope="module")
def replay_build(unit_tests_binary):
    """The fuzz targets, added to the build of the unit tests: the libraries are built."""
    build(unit_tests_binary.parent, "-DQUARNEL_FUZZ_REPLAY=ON", targets=TARGETS)
    return unit_tests_binary.parent / "fuzz"


@pytest.mark.parametrize("target", TARGETS)
def test_saved_inputs_pass(replay_build, target):
    folders = [str(f) for f in (REPO / "fuzz" / "corpus" / target,
                                REPO / "fuzz" / "regressions" / target) if f.is_dir()]
    assert folders
    result = subprocess.run([str(replay_build / target), *folders], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    assert result.returncode == 0, result.stdout[-5000:]
    assert result.stdout.startswith("replayed ")

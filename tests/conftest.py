import os
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
DATA = REPO / "tests" / "data"
MAX = 2**64 - 1
# The module under test was built with the sanitizers (README, "Reliability").
SANITIZED = os.environ.get("QUARNEL_SANITIZE", "OFF").upper() in ("1", "ON", "TRUE", "YES")


def code_text(number):
    """The identifier code of `number`: bijective base 94, first character least significant."""
    text = ""
    while number >= 0:
        text += chr(33 + number % 94)
        number = number // 94 - 1
    return text


def error_of(call, *args, error=RuntimeError, **kwargs):
    """The text of the exception, exactly of type `error`, that call(*args, **kwargs) raises."""
    with pytest.raises(error) as info:
        call(*args, **kwargs)
    assert type(info.value) is error
    return str(info.value)


def outcomes(calls, errors=(RuntimeError, UnicodeEncodeError, OverflowError)):
    """What each call returns, or the repr of the exception of `errors` it raises."""
    results = []
    for call in calls:
        try:
            results.append(call())
        except errors as error:
            results.append(repr(error))
    return results


def build(folder, *options, targets):
    for cmd in (["cmake", "-S", str(REPO), "-B", str(folder), *options], ["cmake", "--build",
                str(folder), "--parallel", str(os.cpu_count() or 2), "--target", *targets]):
        result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            pytest.fail(f"{' '.join(cmd)} failed:\n{result.stdout}", pytrace=False)


@pytest.fixture(scope="session")
def unit_tests_binary(tmp_path_factory):
    """Configures and builds the C++ unit tests; returns the path of the binary. A folder
    named by QUARNEL_UNIT_BUILD keeps the build between runs."""
    kept = os.environ.get("QUARNEL_UNIT_BUILD")
    folder = Path(kept).resolve() if kept else tmp_path_factory.mktemp("unit_tests_build")
    build(folder, "-DQUARNEL_UNIT_TESTS=ON", "-DQUARNEL_PYTHON=OFF",
          f"-DQUARNEL_SANITIZE={os.environ.get('QUARNEL_SANITIZE', 'OFF')}",
          *(["-G", "Ninja"] if shutil.which("ninja") else []), targets=["unit_tests"])
    return folder / "unit_tests"


@pytest.fixture
def vcd(tmp_path):
    """A writer: vcd(text) stores VCD text (str as UTF-8, bytes as they are) in a new file
    under tmp_path and returns its path as str."""
    count = 0

    def write(text):
        nonlocal count
        count += 1
        path = tmp_path / f"dump{count}.vcd"
        path.write_bytes(text if isinstance(text, bytes) else text.encode("utf-8"))
        return str(path)
    return write

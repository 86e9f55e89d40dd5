import os
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent
DATA = REPO / "tests" / "data"
MAX = 2**64 - 1


def code_text(number):
    """The identifier code whose value is `number`: bijective base 94, first character
    least significant."""
    text = ""
    number += 1
    while number:
        number -= 1
        text += chr(33 + number % 94)
        number //= 94
    return text


def error_of(call, *args, error=RuntimeError, **kwargs):
    """The text of the exception, exactly of type `error`, that call(*args, **kwargs) raises."""
    with pytest.raises(error) as info:
        call(*args, **kwargs)
    assert type(info.value) is error
    return str(info.value)


def build(build_dir, *options, targets):
    for cmd in (["cmake", "-S", str(REPO), "-B", str(build_dir), *options],
                ["cmake", "--build", str(build_dir), "--parallel", str(os.cpu_count() or 2),
                 "--target", *targets]):
        result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            pytest.fail(f"{' '.join(cmd)} failed:\n{result.stdout}", pytrace=False)


@pytest.fixture(scope="session")
def unit_tests_binary(tmp_path_factory):
    """Configures and builds the C++ unit tests; returns the path of the binary."""
    build_dir = tmp_path_factory.mktemp("unit_tests_build")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    build(build_dir, "-DQUARNEL_UNIT_TESTS=ON", "-DQUARNEL_PYTHON=OFF",
          f"-DQUARNEL_SANITIZE={os.environ.get('QUARNEL_SANITIZE', 'OFF')}", *generator,
          targets=["unit_tests"])
    return build_dir / "unit_tests"


@pytest.fixture
def vcd(tmp_path):
    """Returns a writer: vcd(text) stores VCD text (str as UTF-8, bytes unchanged) in a
    new file under tmp_path and returns its path as str."""
    count = 0

    def write(text, name=None):
        nonlocal count
        count += 1
        path = tmp_path / (name or f"dump{count}.vcd")
        path.write_bytes(text if isinstance(text, bytes) else text.encode("utf-8"))
        return str(path)

    return write

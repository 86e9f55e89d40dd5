import os
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parent.parent


@pytest.fixture(scope="session")
def unit_tests_binary(tmp_path_factory):
    """Configures and builds the C++ unit tests; returns the path of the binary."""
    build = tmp_path_factory.mktemp("unit_tests_build")
    configure = ["cmake", "-S", str(REPO), "-B", str(build),
                 "-DQUARNEL_UNIT_TESTS=ON", "-DQUARNEL_PYTHON=OFF",
                 f"-DQUARNEL_SANITIZE={os.environ.get('QUARNEL_SANITIZE', 'OFF')}"]
    if shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    build_cmd = ["cmake", "--build", str(build), "--target", "unit_tests",
                 "--parallel", str(os.cpu_count() or 2)]
    for cmd in (configure, build_cmd):
        result = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if result.returncode != 0:
            pytest.fail(f"{' '.join(cmd)} failed:\n{result.stdout}", pytrace=False)
    return build / "unit_tests"


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

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

#!/usr/bin/env bash
# Creates the benchmark's own environment, bench/.venv, with the peer VCD readers and the
# charting and process tools the benchmark uses. The venv sees the interpreter's site
# packages, so the quarnel installed there by `python -m pip install .` is the one measured;
# nothing here is added to quarnel's own dependencies.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
python="${PYTHON:-python3}"
venv="${BENCH_VENV:-$here/.venv}"
"$python" -m venv --system-site-packages "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q pyvcd vcdvcd pywellen matplotlib psutil
"$venv/bin/python" - <<'PY'
from importlib.metadata import version
for name in ("pyvcd", "vcdvcd", "pywellen", "matplotlib", "psutil"):
    print(f"{name} {version(name)}")
try:
    import quarnel
    print("quarnel", quarnel.__file__)
except ImportError:
    print("quarnel is not installed for this interpreter: run `python -m pip install .` first")
PY

"""The C++ Unicode helpers against Python's own str.lower() and lossy decoding."""

import random
import re
import subprocess
import unicodedata

from conftest import REPO


def run(binary, mode, data):
    result = subprocess.run([binary, mode], input=data, capture_output=True)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    return result.stdout


def test_lower_matches_python_for_every_code_point_and_final_sigma_context(unit_tests_binary):
    # Code points assigned both in Python's Unicode version and in the tables' one.
    tables = (REPO / "vcd" / "unicode_tables.inc").read_text(encoding="utf-8")
    body = re.search(r"kAssigned\[\] = \{(.*?)\};", tables, re.S).group(1)
    points = [c for first, last in re.findall(r"\{0x([0-9A-F]+), 0x([0-9A-F]+)\}", body)
              for c in range(int(first, 16), int(last, 16) + 1)
              if unicodedata.category(chr(c)) not in ("Cn", "Cs") and c != 0x0A]
    assert len(points) > 140000
    # Around a capital sigma each character is either skipped (Case_Ignorable) or Cased.
    lines = [chr(c) for c in points] + [f"\u0391{chr(c)}\u03a3" for c in points] + [
        f"\u0391\u03a3{chr(c)}" for c in points] + ["\u0391'\u03a3'", "\u0391\u03a3\u0301\u0391"]
    got = run(unit_tests_binary, "lower", "".join(line + "\n" for line in lines).encode())
    bad = [(ascii(a), ascii(b)) for a, b in zip(lines, got.decode().split("\n")) if a.lower() != b]
    assert not bad and got.count(b"\n") == len(lines), bad[:20]


def test_lossy_matches_python_on_random_bytes(unit_tests_binary):
    # Bytes at the edges of every lead and continuation range, mixed at random.
    alphabet = [0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF]
    data = bytes(random.Random(1364).choices(alphabet, k=200000))
    assert run(unit_tests_binary, "lossy", data) == data.decode("utf-8", "replace").encode()

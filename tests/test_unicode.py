"""Compares the C++ Unicode helpers with Python's own str.lower() and lossy decoding."""

import random
import re
import subprocess
import unicodedata
from pathlib import Path

import pytest

TABLES = Path(__file__).resolve().parent.parent / "vcd" / "unicode_tables.inc"


def table_version_and_assigned():
    text = TABLES.read_text(encoding="utf-8")
    version = re.search(r'kUcdVersion\[\] = "([\d.]+)"', text).group(1)
    body = re.search(r"kAssigned\[\] = \{(.*?)\};", text, re.S).group(1)
    assigned = set()
    for first, last in re.findall(r"\{0x([0-9A-F]+), 0x([0-9A-F]+)\}", body):
        assigned.update(range(int(first, 16), int(last, 16) + 1))
    return version, assigned


def common_code_points():
    """Code points assigned both in Python's Unicode version and in the tables' one."""
    _, assigned = table_version_and_assigned()
    return [c for c in sorted(assigned)
            if unicodedata.category(chr(c)) not in ("Cn", "Cs") and c != 0x0A]


def run(binary, mode, data):
    result = subprocess.run([binary, mode], input=data, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    return result.stdout


def lower_lines(binary, lines):
    out = run(binary, "lower", "".join(line + "\n" for line in lines).encode())
    return out.decode().split("\n")[:-1]


def mismatches(lines, got):
    assert len(got) == len(lines)
    return [(ascii(line), ascii(g), ascii(line.lower()))
            for line, g in zip(lines, got) if g != line.lower()]


def test_lower_matches_python_for_every_code_point(unit_tests_binary):
    lines = [chr(c) for c in common_code_points()]
    assert len(lines) > 140000
    bad = mismatches(lines, lower_lines(unit_tests_binary, lines))
    assert not bad, f"{len(bad)} differences (line, C++, Python): {bad[:20]}"


def test_final_sigma_context_matches_python_for_every_code_point(unit_tests_binary):
    # Around a capital sigma, every character is tested for being skipped
    # (Case_Ignorable) or ending the search as Cased.
    lines = []
    for c in map(chr, common_code_points()):
        lines += ["Α" + c + "Σ", c + "Σ", "ΑΣ" + c]
    bad = mismatches(lines, lower_lines(unit_tests_binary, lines))
    assert not bad, f"{len(bad)} differences (line, C++, Python): {bad[:20]}"


@pytest.mark.parametrize("word", [
    "ΟΔΟΣ", "Σ", "ΑΣ ΑΣ.", "Σ'Α", "ΑΣΑ", "ΑΣΣ", "Α'Σ", "Α'Σ'", "ΑΣ'Α", "ΣΑ", "1Σ", "İΣ",
    "Α\u0345Σ", "ΑΣ\u0301", "ΑΣ\u0301Α", "ʰΣ", "ΑΣʰ", "Α\U0001D16DΣ", "ΑΣ\U00010400",
])
def test_final_sigma_words(unit_tests_binary, word):
    assert lower_lines(unit_tests_binary, [word]) == [word.lower()]


TRICKY_BYTES = [
    b"", b"plain ascii", "é€😀".encode(),
    b"\xc2", b"\xe1\x80", b"\xf0\x90\x80", b"a\xe1\x80b", b"\xf4\x8f\xbf",  # truncated
    b"\xc0\x80", b"\xc1\xbf", b"\xe0\x80\x80", b"\xe0\x9f\xbf", b"\xf0\x80\x80\x80",
    b"\xf0\x8f\xbf\xbf",  # overlong
    b"\xed\xa0\x80", b"\xed\xbf\xbf", b"\xed\xa0\x80\xed\xb0\x80", b"\xed\x9f\xbf",  # surrogates
    b"\xf4\x90\x80\x80", b"\xf5\x80\x80\x80", b"\xf8\x88\x80\x80\x80", b"\xfe\xff",
    bytes(range(0xF5, 0x100)),
    b"\x80", b"\xbf\x80\xbf", b"a\x80\x80b", b"\xc2\xc2\x80", b"\xe1\xc2\x80",  # continuations
    b"\xf1\x80\x80\xe1\x80\xc2", b"\x00\x7f\x80",
]


@pytest.mark.parametrize("data", TRICKY_BYTES, ids=lambda b: b.hex() or "empty")
def test_lossy_matches_python(unit_tests_binary, data):
    assert run(unit_tests_binary, "lossy", data) == data.decode("utf-8", "replace").encode()


def test_lossy_matches_python_on_random_bytes(unit_tests_binary):
    # Bytes at the edges of every lead and continuation range, mixed at random.
    alphabet = [0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF]
    data = bytes(random.Random(1364).choices(alphabet, k=200000))
    assert run(unit_tests_binary, "lossy", data) == data.decode("utf-8", "replace").encode()

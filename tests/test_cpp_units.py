"""The C++ unit tests, and the reader's Unicode helpers against Python's own lowercasing and
lossy decoding, for every code point the tables know."""

import random
import re
import subprocess
import unicodedata

from conftest import REPO


def test_cpp_unit_tests_pass(unit_tests_binary):
    result = subprocess.run([unit_tests_binary], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    assert result.returncode == 0, result.stdout


def run(binary, mode, data):
    result = subprocess.run([binary, mode], input=data, capture_output=True, check=True)
    return result.stdout


def test_lowercase_and_final_sigma_match_python(unit_tests_binary):
    tables = (REPO / "vcd" / "unicode_tables.inc").read_text(encoding="utf-8")
    body = re.search(r"kAssigned\[\] = \{(.*?)\};", tables, re.S).group(1)
    chars = [chr(c) for first, last in re.findall(r"\{0x([0-9A-F]+), 0x([0-9A-F]+)\}", body)
             for c in range(int(first, 16), int(last, 16) + 1)
             if unicodedata.category(chr(c)) not in ("Cn", "Cs") and c != 0x0A]
    assert len(chars) > 140000
    # Around a capital sigma each character is skipped (case-ignorable) or ends the search.
    lines = [line for c in chars
             for line in (c, "\u0391" + c + "\u03a3", c + "\u03a3", "\u0391\u03a3" + c)]
    got = run(unit_tests_binary, "lower", "".join(l + "\n" for l in lines).encode())
    bad = [(ascii(l), ascii(g)) for l, g in zip(lines, got.decode().split("\n")) if g != l.lower()]
    assert not bad, bad[:20]


def test_lossy_decoding_matches_python(unit_tests_binary):
    # Bytes at the edges of every lead and continuation range, mixed at random.
    alphabet = [0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF,
                0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF]
    data = bytes(random.Random(1364).choices(alphabet, k=200000))
    assert run(unit_tests_binary, "lossy", data) == data.decode("utf-8", "replace").encode()

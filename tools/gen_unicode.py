#!/usr/bin/env python3
"""Generates vcd/unicode_tables.inc from the Unicode Character Database.

Reads UnicodeData.txt, PropList.txt, SpecialCasing.txt and DerivedCoreProperties.txt
(Debian package unicode-data, /usr/share/unicode). When DerivedCoreProperties.txt is
missing, Cased and Case_Ignorable are derived from their definitions instead.

Usage: python3 tools/gen_unicode.py [--ucd DIR] [--output FILE]
"""

import argparse
import re
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent
NUMERIC_CATEGORIES = {"Nd", "Nl", "No"}


def data_lines(path):
    """Yields the fields of each non-comment line of a UCD file."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def file_version(path):
    with open(path, encoding="utf-8") as f:
        m = re.match(r"#\s*\S+?-(\d+\.\d+\.\d+)\.txt", f.readline())
    if not m:
        raise SystemExit(f"{path}: no version in the first line")
    return m.group(1)


def code_range(text):
    first, _, last = text.partition("..")
    return int(first, 16), int(last or first, 16)


def read_unicode_data(path):
    """Returns {code point: (general category, simple lowercase or None)}."""
    chars = {}
    range_start = None
    for fields in data_lines(path):
        cp, name, category, lower = int(fields[0], 16), fields[1], fields[2], fields[13]
        if name.endswith(", First>"):
            range_start = cp
            continue
        first = range_start if name.endswith(", Last>") else cp
        range_start = None
        for c in range(first, cp + 1):
            chars[c] = (category, int(lower, 16) if lower else None)
    return chars


def read_property(path, name):
    """Returns the set of code points that have the binary property `name`."""
    result = set()
    for fields in data_lines(path):
        if fields[1] == name:
            first, last = code_range(fields[0])
            result.update(range(first, last + 1))
    return result


def derive_case_properties(ucd, chars):
    """Cased and Case_Ignorable by their definitions in the standard (chapter 3.13)."""
    other_lower = read_property(ucd / "PropList.txt", "Other_Lowercase")
    other_upper = read_property(ucd / "PropList.txt", "Other_Uppercase")
    word_break = {}
    for fields in data_lines(ucd / "auxiliary" / "WordBreakProperty.txt"):
        first, last = code_range(fields[0])
        word_break.update(dict.fromkeys(range(first, last + 1), fields[1]))
    cased = {c for c, (cat, _) in chars.items() if cat in ("Ll", "Lu", "Lt")}
    cased |= other_lower | other_upper
    ignorable = {c for c, (cat, _) in chars.items() if cat in ("Mn", "Me", "Cf", "Lm", "Sk")}
    mid_word = ("MidLetter", "MidNumLet", "Single_Quote")
    ignorable |= {c for c, wb in word_break.items() if wb in mid_word}
    return cased, ignorable


def ranges(code_points):
    """Sorted inclusive (first, last) ranges covering exactly `code_points`."""
    result = []
    for c in sorted(code_points):
        if result and result[-1][1] == c - 1:
            result[-1][1] = c
        else:
            result.append([c, c])
    return result


def case_runs(mapping):
    """Groups single code point mappings into runs (first, last, delta, stride): every
    code point first + k * stride up to last maps to itself plus delta; the code points
    between the strides of a run have no mapping."""
    runs = []
    for c in sorted(mapping):
        delta = mapping[c] - c
        if runs:
            first, last, run_delta, stride = runs[-1]
            step = c - last
            if run_delta == delta and (step == stride or (first == last and step == 2)):
                runs[-1] = [first, c, delta, step]
                continue
        runs.append([c, c, delta, 1])
    return runs


def utf8_literal(code_points):
    return '"' + "".join(f"\\x{b:02x}" for b in "".join(map(chr, code_points)).encode()) + '"'


def emit_ranges(out, name, comment, items):
    out.append(f"// {comment}")
    out.append(f"constexpr Range {name}[] = {{")
    cells = [f"{{0x{a:04X}, 0x{b:04X}}}," for a, b in items]
    for i in range(0, len(cells), 4):
        out.append("    " + " ".join(cells[i : i + 4]))
    out.append("};")
    out.append("")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--ucd", type=Path, default=Path("/usr/share/unicode"))
    parser.add_argument("--output", type=Path, default=REPO / "vcd" / "unicode_tables.inc")
    args = parser.parse_args()
    ucd = args.ucd

    version = file_version(ucd / "PropList.txt")
    derived = ucd / "DerivedCoreProperties.txt"
    for path in (ucd / "SpecialCasing.txt", derived):
        if path.exists() and file_version(path) != version:
            raise SystemExit(f"{path}: version differs from PropList.txt ({version})")

    chars = read_unicode_data(ucd / "UnicodeData.txt")
    white_space = read_property(ucd / "PropList.txt", "White_Space")
    numeric = {c for c, (cat, _) in chars.items() if cat in NUMERIC_CATEGORIES}
    if derived.exists():
        cased = read_property(derived, "Cased")
        ignorable = read_property(derived, "Case_Ignorable")
    else:
        cased, ignorable = derive_case_properties(ucd, chars)

    simple = {c: lower for c, (_, lower) in chars.items() if lower is not None and lower != c}
    full = {}
    for fields in data_lines(ucd / "SpecialCasing.txt"):
        if len(fields) > 4 and fields[4]:
            continue  # conditional; Final_Sigma is implemented in code, the rest ignored
        cp = int(fields[0], 16)
        lower = [int(x, 16) for x in fields[1].split()]
        simple.pop(cp, None)
        if len(lower) == 1 and lower[0] != cp:
            simple[cp] = lower[0]
        elif len(lower) != 1:
            full[cp] = lower
    assigned = {c for c, (cat, _) in chars.items() if cat != "Cs"}

    out = [
        f"// Generated by tools/gen_unicode.py from the Unicode Character Database {version}.",
        "// Do not edit; regenerate with: python3 tools/gen_unicode.py",
        "// clang-format off",
        "",
        f'constexpr char kUcdVersion[] = "{version}";',
        "",
    ]
    emit_ranges(out, "kWhiteSpace", "White_Space.", ranges(white_space))
    emit_ranges(out, "kNumeric", "General categories Nd, Nl and No.", ranges(numeric))
    emit_ranges(out, "kCased", "Cased.", ranges(cased))
    emit_ranges(out, "kCaseIgnorable", "Case_Ignorable.", ranges(ignorable))
    out.append("// Single code point lowercase mappings: every code point first + k * stride")
    out.append("// up to last lowercases to itself plus delta.")
    out.append("constexpr CaseRun kLowerRuns[] = {")
    for first, last, delta, stride in case_runs(simple):
        out.append(f"    {{0x{first:04X}, 0x{last:04X}, {delta}, {stride}}},")
    out.append("};")
    out.append("")
    out.append("// Lowercase mappings to more than one code point, as UTF-8.")
    out.append("constexpr SpecialCase kLowerSpecial[] = {")
    for cp in sorted(full):
        out.append(f"    {{0x{cp:04X}, {utf8_literal(full[cp])}}},")
    out.append("};")
    out.append("")
    emit_ranges(out, "kAssigned", "Assigned code points (not Cn, not Cs); used by the tests.",
                ranges(assigned))
    out.append("// clang-format on")
    args.output.write_text("\n".join(out) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()

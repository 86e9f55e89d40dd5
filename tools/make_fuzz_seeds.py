#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Seeds come from the dumps written by real simulators (tests/data, examples and,
when present, the Icarus dump of bench/out), from the edge cases of the test
suite and from the vocabularies. Run it once to start a corpus; the committed
corpora are what fuzzing grew from these seeds, merged and minimised.
"""

import hashlib
import pathlib

REPO = pathlib.Path(__file__).resolve().parent.parent
CORPUS = REPO / "fuzz" / "corpus"
MARKER = b"$enddefinitions"
# Control bytes in front of every body seed of fuzz_body (see fuzz_body.cpp).
BODY_CONTROLS = [bytes([0, 0, 0, 0, 0]), bytes([1, 128, 3, 1, 0x33]), bytes([2, 200, 7, 2, 0x1B]),
                 bytes([3, 60, 11, 5, 0xFF])]
# Control bytes in front of every dump seed of fuzz_index (see fuzz_index.cpp).
INDEX_CONTROLS = [bytes([0, 0, 255]), bytes([21, 40, 90])]
INDEX_CASES = [  # time that goes back, and an error after the first pieces
    b"$var wire 1 ! a $end\n$enddefinitions $end\n#0\n1!\n#5\n0!\n#3\n1!\n#9\n0!\n",
    b"$var wire 1 ! a $end\n$var reg 4 # b [3:0] $end\n$enddefinitions $end\n#0\n$dumpvars\n"
    b"1!\nb0 #\n$end\n#10\n0!\nb1010 #\n#20\n1!\n#30\n?bad\n#40\n0!\n",
]
# Bytes of the Icarus dump of the benchmarks taken as seeds.
SIM_PREFIX = 16384


def dumps():
    paths = sorted((REPO / "tests" / "data").glob("*.vcd"))
    paths += sorted((REPO / "examples").rglob("*.vcd"))
    for path in paths:
        yield path.name, path.read_bytes()
    sim = REPO / "bench" / "out" / "sim.vcd"
    if sim.exists():
        with sim.open("rb") as f:
            data = f.read(SIM_PREFIX)
        yield "sim.vcd", data[: data.rfind(b"\n") + 1]


def split(data):
    """Header and body of a dump, cut after the line holding the marker."""
    at = data.find(MARKER)
    if at < 0:
        return data, b""
    end = data.find(b"\n", at)
    end = len(data) if end < 0 else end + 1
    return data[:end], data[end:]


HEADER_CASES = [
    b"",
    b"$enddefinitions $end",
    b"$enddefinitions $end\n",
    b"$enddefinitions\n$end\n",
    b"$EndDefinitions $end\n",
    b"$comment $enddefinitions $end\n$var wire 1 ! a $end\n$enddefinitions $end\n",
    b"$scope module top $end $var wire 1 ! clk $end\n$upscope $end\n$enddefinitions $end\n",
    b"$scope module gen[0] $end\n$var wire 1 ! q $end\n$upscope $end\n$enddefinitions $end #0\n1!\n",
    b"$scope module top\n$end\n$upscope $end\n$enddefinitions $end\n",
    b"$timescale 10 ps $end\r\n$scope module top $end\r\n$var reg 8 # d [7:0] $end\r\n"
    b"$upscope $end\r\n$enddefinitions $end\r\n#0\r\nb1 #\r\n",
    b"$scope module top $end\n$var wire 1 ! a $end\n$var wire 1 ! a $end\n$upscope $end\n"
    b"$enddefinitions $end\n",
    b"$scope module t\xc3\xa4p $end\n$var wire 1 ! \xff\xfe $end\n$upscope $end\n$enddefinitions $end\n",
    b"$date x $end\n$date y $end\n$version v $end\n$timescale 1fs $end\n$enddefinitions $end\n",
    b"$scope module a $end\n" * 40 + b"$var wire 1 ! deep $end\n" + b"$upscope $end\n" * 40
    + b"$enddefinitions $end\n",
    b"$var wire 1 " + b"!" * 33 + b" long $end\n$enddefinitions $end\n",
    b"$scope module top $end\n$var wire 1 ! a [3] $end\n$var wire 2 \" b [1:0] $end\n"
    b"$var wire 2 # c [-1:+0] $end\n$upscope $end\n$enddefinitions $end\n",
    b"$" + b"k" * 40 + b" x $end\n$scope module t $end\n$var wire 0 H e $end\n$var wire 1 0a a $end\n"
    b"$upscope $end\n$enddefinitions $end\n#0\nb H\n10a\n#3.0\n",
]

BODY_CASES = [
    b"#0\n$dumpvars\nb0 #\n1!\nx\"\n$end\n#10\n0!\nZ\"\nb1010 $\nr1.5e3 &\nsHello '\n#20\n",
    b"#0\n1!\n#5\n0!\n#5\n1!\n#3\n0!\n",
    b"$dumpoff\nx!\nbxxxx #\nrNaN &\n$end\n$dumpon\n1!\n$end\n$dumpall\n0!\n$end\n",
    b"#18446744073709551615\n1!\n#18446744073709551616\n",
    b"1!!\nb1111 !!\n0~~~~\nb" + b"1" * 129 + b" %\nb" + b"0" * 130 + b" %\n",
    b"$comment in the body $end\n$var wire 1 ! late $end\n#1\nr-0 &\nr0 &\nrinf &\n",
    b"#1\nb1021 #\n",
    b"#1\n1!",
    b"$end\n",
    b"#1\nsABC '\n#2\nsabc '\n#3\nb0001 \"\n#4\nb1 \"\n",
    # Codes of value letters, empty vectors, fractional times, long unknown commands.
    b"#0\n$dumpvars\nb H\n1!\nb x\n1h!\n$end\n#1\nb\t0a\nbUx0 Hq\nb Zz \n#3.0\nu!\n0u\n#4\nb 0\n!\n",
    b"$" + b"k" * 40 + b" some text $end\n#2\nB H\nX!\nbLH- Hq\nb 1\n#3\n$" + b"k" * 40
    + b"$end\nb 0 \n$end\n#3.000\nw!\n#3.2\n",
]

VOCABULARY_CASES = [
    b"!", b"~", b"!!", b"~~~~~~~~~~", b"!" * 11, b"", b" ", b"\x7f",
    b"event", b"integer", b"parameter", b"real", b"reg", b"supply0", b"supply1", b"time", b"tri",
    b"triand", b"trior", b"trireg", b"tri0", b"tri1", b"wand", b"wire", b"wor", b"string",
    b"module", b"task", b"function", b"begin", b"fork", b"s", b"ms", b"us", b"ns", b"ps", b"fs",
    b"[3]", b"[+3]", b"[7:0]", b"[31:-4]", b"[2147483648]", b"[-2147483648:0]", b"[ 1 ]",
    b"0", b"+12", b"4294967296", b"18446744073709551615", b"18446744073709551616",
    b"1.5e3", b"-0.25", b"inf", b"-Infinity", b"NaN", b"1e400", b"1,5", b".5", b"5.",
    b"01xzXZ", b"uwlh-UWLH", b"3.0", b"3.000", b"3.2", b"3.", b"\xc3\xa4\xe2\x80\x83\xce\xa3\xcf\x82", b"\xed\xa0\x80\xf4\x90\x80\x80\xc0\xaf",
]

TARGET_CASES = [
    b"0", b"1", b"x", b"Z", b" 0x1F ", b"0x", b"+7", b"-1", b"340282366920938463463374607431768211455",
    b"340282366920938463463374607431768211456", b"0xffffffffffffffffffffffffffffffff",
    b"Busy", b"\xc4\xb0stanbul", b"\xce\xa3\xce\x91\xce\xa3", b"\xe2\x80\x83 x \xe2\x80\x83",
    b"0.5", b"-0", b"NaN", b"inf", bytes(16), b"\xff" * 16, b"\x00\x00\x00\x00\x00\x00\xf0\x7f" * 2,
]


def write(target, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / hashlib.sha1(data).hexdigest()).write_bytes(data)


def main():
    for _, data in dumps():
        header, body = split(data)
        write("fuzz_header", data)
        write("fuzz_header", header)
        for controls in BODY_CONTROLS:
            write("fuzz_body", controls + body)
        for controls in INDEX_CONTROLS:
            write("fuzz_index", controls + data)
    for case in HEADER_CASES:
        write("fuzz_header", case)
    for case in BODY_CASES:
        for controls in BODY_CONTROLS:
            write("fuzz_body", controls + case)
    for case in INDEX_CASES:
        for controls in INDEX_CONTROLS:
            write("fuzz_index", controls + case)
    for case in VOCABULARY_CASES:
        write("fuzz_vocabulary", case)
    for case in TARGET_CASES:
        write("fuzz_target", case)


if __name__ == "__main__":
    main()

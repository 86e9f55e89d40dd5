"""Waveform pictures: quarnel plot, and the HTML page of compare seen in a browser."""

import os
import re
import shutil
import subprocess
import xml.etree.ElementTree as ElementTree

import junitparser
import pytest

from quarnel_batch import waveform
from test_cli import EXAMPLES, run

SVG = "{http://www.w3.org/2000/svg}"
HEAD = ("$timescale 10 ps $end $scope module t $end $var wire 1 ! a $end "
        "$var wire 8 \" v [7:0] $end $var string 1 # s $end $upscope $end $enddefinitions $end\n")


def classes(svg):
    root = ElementTree.fromstring(svg)  # the SVG parses
    return [e.get("class") for e in root.iter() if e.get("class")], root


def test_plot_draws_values_as_viewers_do(vcd, tmp_path):
    path = vcd(HEAD + "#0\n0!\nb0 \"\n#10\n1!\nbx \"\nsa<b #\n#20\nx!\nbz \"\n#30\nz!\n"
               "b10100011 \"\n#40\n0!\n")
    out = tmp_path / "w.svg"
    assert run("plot", path, "-s", "t.a", "-s", "t.v[7:0]", "-s", "t.s", "--start", "5", "-o",
               str(out)) == (0, "", "")
    found, root = classes(out.read_text())
    # The value at --start is carried in; x as a red band, z as a middle line, vectors in hex.
    assert found.count("unknown") == 2 and found.count("hiz") == 2 and "level" in found
    assert [t.text for t in root.iter(SVG + "text") if t.text in ("0", "x", "a3", "a<b")] == \
        ["0", "x", "a3", "a<b"]
    assert ["50 ps", "400 ps"] == [t.text for t in root.iter(SVG + "text")
                                   if t.text in ("50 ps", "400 ps")]


@pytest.mark.parametrize("ticks, timescale, text", [
    (150, "10 ns", "1.5 us"), (7, None, "7"), (0, "1 ps", "0 ps"), (3, "100 fs", "300 fs")])
def test_time_text(ticks, timescale, text):
    assert waveform.time_text(ticks, timescale) == text


def test_a_window_of_many_changes_is_drawn_to_the_pixel(vcd, tmp_path):
    rows = "".join(f"#{t}\n{t % 2}!\nb{t % 256:b} \"\n" for t in range(100_000))
    out = tmp_path / "w.svg"
    status = run("plot", vcd(HEAD + rows + "#100000\nx!\n"), "-s", "t.a", "-s", "t.v[7:0]",
                 "--end", "200000", "-o", str(out))[0]
    found, _ = classes(out.read_text())
    assert status == 0 and out.stat().st_size < 20_000
    # Half the picture is one block of changes per signal, then the last values.
    assert found.count("busy") == 2 and found.count("unknown") == 1


def test_plot_png_and_errors(tmp_path):
    assert run("plot", "counter.vcd", "-s", "tb.nope", "-o", str(tmp_path / "w.svg"))[:2] == \
        (2, "")
    assert "-o must name a .svg or .png file" in run("plot", "counter.vcd", "-s", "tb.clk", "-o",
                                                     "w.txt")[2]
    assert run("plot", "counter.vcd", "-s", "tb.clk", "-o", str(tmp_path / "w.png"))[0] == 0
    assert (tmp_path / "w.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


@pytest.mark.skipif(shutil.which("chromium") is None, reason="needs chromium (.ci/run has it)")
def test_compare_page_in_a_browser(tmp_path):
    golden, new = tmp_path / "golden", tmp_path / "new"
    pairs = {"uart.vcd": ("uart/uart_tx_golden.vcd", "uart/uart_tx_msb_first.vcd"),
             "counter.vcd": ("counter.vcd", "counter_changed.vcd"),
             "same.vcd": ("counter.vcd", "counter.vcd")}
    for name, (a, b) in pairs.items():
        for side, source in ((golden, a), (new, b)):
            side.mkdir(exist_ok=True)
            (side / name).symlink_to(EXAMPLES / source)
    page, junit = tmp_path / "report.html", tmp_path / "junit.xml"
    status = run("compare", golden, new, "--html", page, "--junit", junit)[0]
    assert status == 1
    (suite,) = junitparser.JUnitXml.fromfile(str(junit))
    messages = {case.name: case.result[0].message for case in suite if case.result}
    assert messages == {
        "counter.vcd": "FAILED: 1 mismatch in 1 signal (17 signals compared) "
                       f"(waveforms: {page}#pair-1)",
        "uart.vcd": "FAILED: 12 mismatches in 1 signal (6 signals compared) "
                    f"(waveforms: {page}#pair-3)"}
    text = page.read_text()
    assert "http" not in text.replace('xmlns="http://www.w3.org/2000/svg"', "")  # self-contained
    for svg in re.findall(r"<svg .*?</svg>", text, re.S):
        classes(svg)

    browser = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", f"file://{page}"]
    # Not the sanitizer runtime that a sanitized test run preloads.
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    loaded = subprocess.run([*browser[:-1], "--dump-dom", browser[-1]], capture_output=True,
                            text=True, timeout=120, env=env)
    dom = loaded.stdout
    assert loaded.returncode == 0 and dom.rstrip().endswith("</html>")
    # A section per failing pair, each mismatching signal with its golden and new waveform.
    for section, signals in (("pair-1", ["tb.count[3:0]"]), ("pair-3", ["tb.tx"])):
        part = dom.split(f'id="{section}"')[1].split("</section>")[0]
        assert re.findall(r'class="signal">(.*?): first', part) == signals
        assert part.count('class="trace golden"') == part.count('class="trace new"') == 1
    assert "same.vcd: passed" in dom
    shot = tmp_path / "report.png"
    subprocess.run([*browser[:-1], f"--screenshot={shot}", "--window-size=1000,1200",
                    browser[-1]], capture_output=True, timeout=120, check=True, env=env)
    assert shot.read_bytes()[:4] == b"\x89PNG" and shot.stat().st_size > 10_000


def test_page_in_the_finer_timescale(vcd, tmp_path):
    # The same waveform at 1 ns and at 100 ps, but for one value: times meet in 100 ps.
    head = "$timescale {} $end $scope module t $end $var wire 1 ! a $end $upscope $end " \
           "$enddefinitions $end\n"
    golden = vcd(head.format("1 ns") + "".join(f"#{t}\n{t % 2}!\n" for t in range(40)))
    new = vcd(head.format("100 ps") + "".join(f"#{t * 10}\n{t % 2 ^ (t == 30)}!\n"
                                              for t in range(40)))
    page = tmp_path / "r.html"
    assert run("compare", golden, new, "--finer-unit", "--html", page)[0] == 1
    text = page.read_text()
    assert "t.a: first mismatch at 30 ns" in text
    # Both dumps drawn over the same stretch: the same path but where the value differs.
    paths = re.findall(r'class="level" d="([^"]*)"', text)
    assert len(paths) == 2 and paths[0] != paths[1]
    assert paths[0].split("V")[0] == paths[1].split("V")[0]
    assert paths[0].count("H") == paths[1].count("H") == 19


def test_a_pipe_is_read_once(tmp_path):
    # Read again, a pipe would wait for a writer; plot reads it once, compare --html never again.
    text = (EXAMPLES / "counter.vcd").read_text()
    out = tmp_path / "w.svg"
    assert run("plot", "/dev/stdin", "-s", "tb.rst", "--start", "100", "-o", str(out),
               input=text, timeout=60)[0] == 0
    assert "level" in classes(out.read_text())[0]  # rst's 0, held since before --start
    assert run("compare", "/dev/stdin", "counter_changed.vcd", "--html", tmp_path / "r.html",
               input=text, timeout=60)[0] == 1
    assert "/dev/stdin is not a regular file" in (tmp_path / "r.html").read_text()


@pytest.mark.parametrize("start", [1, 999, 5000])
def test_plot_begins_with_the_value_held_at_start_however_old(vcd, tmp_path, start):
    path = vcd(HEAD + "#0\nb101 \"\n#1\nb110 \"\n#6000\n1!\n")
    out = tmp_path / "w.svg"
    assert run("plot", path, "-s", "t.v[7:0]", "--start", str(start), "--end",
               str(start + 10), "-o", str(out))[0] == 0
    assert [t.text for t in classes(out.read_text())[1].iter(SVG + "text")][-2] == "6"

"""Resources and robustness: descriptors, memory and references, threads, signals, endless,
cut-short and very large files."""

import contextlib
import gc
import gzip
import itertools
import os
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pyarrow
import pytest

import quarnel
import quarnel.extended
from conftest import SANITIZED, code_text, error_of, outcomes

# Under AddressSanitizer memory is held back on purpose and everything runs slower.
HEAD = "$timescale 1 ns $end\n$scope module top $end\n$var wire 1 ! clk $end\n" \
       "$var wire 4 # count [3:0] $end\n$var real 64 $ r $end\n$upscope $end\n" \
       "$enddefinitions $end\n"
# 256 is the first number whose text is not made once per call.
BODY = "#0\n$dumpvars\n0!\nb0 #\nr0 $\n$end\n#5\n1!\nb1010 #\n#10\n0!\nr1.5 $\n#15\n1!\n" \
       "b100000000 #\n"
NAMES = ["top.clk", "top.count[3:0]", "top.r"]
CALLS = {  # on a path `p` and a regular file `q`, in module `m`
    "list_signals": lambda p, q, m=quarnel: m.list_signals(p, "c"),
    "metadata": lambda p, q, m=quarnel: m.metadata(p),
    "extract": lambda p, q, m=quarnel: m.extract(p, NAMES, start=5),
    "toggles": lambda p, q, m=quarnel: m.toggles(p, NAMES),
    "find": lambda p, q, m=quarnel: m.find(p, "top.clk", "1", 2),  # stops reading at the match
    "compare": lambda p, q, m=quarnel: m.compare(q, p, max_mismatches=1),
    "extract_table": lambda p, q, m=quarnel: read_table(
        quarnel.extended.extract_table(p, NAMES, start=5))}
TO_THE_END = dict(CALLS, find=lambda p, q, m=quarnel: m.find(p, "top.clk", "z"))


def read_table(table):
    """The rows of one stream of `table`, after a stream and a schema released unread."""
    table.__arrow_c_stream__(), table.__arrow_c_schema__()
    return pyarrow.table(table).to_pylist()


def state(*objects):
    """Open descriptors, the interpreter's blocks, the references to `objects`, resident bytes."""
    gc.collect()
    with open("/proc/self/statm") as statm:
        resident = int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    return (sorted(os.listdir("/proc/self/fd")), sys.getallocatedblocks(),
            [sys.getrefcount(o) for o in objects], resident)


@pytest.mark.parametrize("name", CALLS)
def test_descriptors_memory_and_references_stay_flat(vcd, tmp_path, name):
    paths = [vcd(HEAD + BODY), str(tmp_path / "missing.vcd"), str(tmp_path), vcd(""),
             vcd("$scope module top $end\n$bogus $end\n$enddefinitions $end\n"),
             vcd("$var wire 1 ! a $end\n$var wire 1 # a $end\n$enddefinitions $end\n"),
             vcd(HEAD + "#0\n1!\nb102 #\n"), vcd(HEAD + "#0\n1!")]
    calls = [lambda p=p: CALLS[name](p, paths[0]) for p in paths] + [
        lambda: quarnel.extract(paths[0], ["top.clk", "no.such"]),
        lambda: quarnel.find(paths[0], "top.clk", "1", 0),
        lambda: quarnel.toggles(paths[0], ["top.clk", "\ud800"]),
        lambda: quarnel.compare(paths[0], paths[0], max_mismatches=2**64)]
    outcomes(calls * (2500 if name == "extract_table" else 500))  # pyarrow fills caches longer
    fds, blocks, refs, resident = state(*paths)
    outcomes(calls * (200 if SANITIZED else 2000))
    after = state(*paths)
    assert (after[0], after[2]) == (fds, refs) and after[1] - blocks < 100
    assert SANITIZED or after[3] - resident < 4 * 2**20


def test_threads_get_the_results_of_one_thread(vcd):
    paths = [vcd(HEAD + BODY), vcd(HEAD + BODY.replace("#15", "#12")), vcd(HEAD + "#0\nbx1 #\n"),
             vcd(HEAD + "#0\n1!\nb102 #\n")]
    calls = [lambda a=a, b=b, c=c: c(a, b) for a in paths for b in paths for c in CALLS.values()]
    expected, start = outcomes(calls), threading.Barrier(8)

    def ten_runs(_):
        start.wait()
        return [outcomes(calls) for _ in range(10)]
    with ThreadPoolExecutor(8) as pool:
        assert all(run == expected for runs in pool.map(ten_runs, range(8)) for run in runs)


class Stop(Exception):
    """Raised by a signal handler of the program's own."""


def raise_stop(signum, frame):
    raise Stop


def interrupted(call, handler, repeat=0):
    """`call`, with a timer into `handler` after 0.05 s (then every `repeat` s), raises the
    handler's exception within 0.5 s, with no file left open and the collector as it was."""
    fds, collecting, begin = state()[0], gc.isenabled(), time.monotonic()
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.05, repeat)
        with pytest.raises(Stop if handler is raise_stop else KeyboardInterrupt):
            call()
        assert time.monotonic() - begin < 0.55
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert state()[0] == fds and gc.isenabled() is collecting


@pytest.fixture(scope="module")
def long_dump(tmp_path_factory):
    """A dump with a 1 GiB body: long enough that no call on it ends within a second."""
    path = tmp_path_factory.mktemp("long") / "long.vcd"
    with open(path, "wb") as f:
        f.write(HEAD.encode())
        for _ in range(1024):
            f.write(b"#1\n1!\nb1010 #\n0!\n" * (2**20 // 18))
    yield str(path)
    path.unlink()


@pytest.mark.parametrize("handler", [signal.default_int_handler, raise_stop])
@pytest.mark.parametrize("name", CALLS)
def test_long_and_endless_reads_stop_at_a_signal(long_dump, vcd, tmp_path, name, handler):
    os.mkfifo(tmp_path / "fifo")  # no program writes to it
    short = vcd(HEAD + "#1\n")  # compare reads both at once: the short one ends at once
    pairs = [("/dev/zero",) * 2, (str(tmp_path / "fifo"),) * 2] + (
        [] if name == "list_signals" else  # reads the header only
        [(long_dump, short), (short, long_dump)] if name == "compare" else [(long_dump,) * 2])
    for a, b in pairs:
        interrupted(lambda: TO_THE_END[name](a, b), handler)
    with pytest.raises(RuntimeError, match=r"^I/O error: Is a directory \(os error 21\)$"):
        CALLS[name](str(tmp_path), str(tmp_path))


@pytest.mark.parametrize("read", ["pyarrow.table(t)", "list(t.rows())"])
def test_ctrl_c_while_a_table_streams(long_dump, read):
    """pyarrow waits for the reader thread with the interpreter lock released, list() runs no
    handler between rows: Ctrl-C still ends the stream with KeyboardInterrupt."""
    code = ("import pyarrow, quarnel.extended\n"
            f"t = quarnel.extended.extract_table({long_dump!r}, ['top.clk'])\n"
            f"print('reading', flush=True)\n{read}")
    child = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "reading\n"
    time.sleep(0.1)
    child.send_signal(signal.SIGINT)
    assert child.wait(timeout=10) == -signal.SIGINT
    assert child.stderr.read().splitlines()[-1] == "KeyboardInterrupt"


@pytest.mark.parametrize("handler", [signal.default_int_handler, raise_stop])
def test_compare_stopped_while_waiting_for_the_second_file(vcd, tmp_path, handler):
    """The signal comes while compare waits for the second file, read on another thread,
    and that read then ends well (at the window's end, with nothing more to ask): the call
    still raises the handler's exception."""
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    end = os.open(fifo, os.O_RDWR)  # the writer's, so that opening it to read does not wait
    writer = subprocess.Popen(["sh", "-c", 'printf "$0"; sleep 0.3; printf "#1\\n1!\\n#99\\n"',
                               HEAD.replace("\n", "\\n")], stdout=end)
    os.close(end)
    try:
        interrupted(lambda: quarnel.compare(vcd(HEAD + "#1\n1!\n"), str(fifo), end=50), handler)
    finally:
        writer.wait(timeout=60)


FEEDS = {"stdin": "cat", "FIFO": "cat", "gzip FIFO": "gzip -c"}


@contextlib.contextmanager
def piped(tmp_path, feed, dump):
    """A path that reads `dump` once: standard input fed by cat, or a FIFO that one process
    writes once, the dump as it is or gzip-compressed."""
    if feed == "stdin":
        cat = subprocess.Popen(["cat", dump], stdout=subprocess.PIPE)
        saved = os.dup(0)
        os.dup2(cat.stdout.fileno(), 0)
        try:
            yield "/dev/stdin"
        finally:
            os.dup2(saved, 0)
            os.close(saved)
            cat.stdout.close()
            cat.wait(timeout=60)
        return
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = subprocess.Popen(["sh", "-c", f'{FEEDS[feed]} "$0" > "$1"', dump, fifo])
    try:
        yield str(fifo)
    finally:
        writer.wait(timeout=60)
        fifo.unlink()


@pytest.mark.parametrize("feed", FEEDS)
def test_a_pipe_is_read_once_with_the_answers_of_its_file(tmp_path, feed):
    q = tmp_path / "dump.vcd"
    q.write_text(HEAD + BODY + "#20\n0!\n")
    # quarnel.extended reads a pipe's first bytes to tell its compression, then hands them
    # out again.
    modules = [quarnel.extended] if feed.startswith("gzip") else [quarnel, quarnel.extended]
    for module, (name, call) in itertools.product(modules, CALLS.items()):
        with piped(tmp_path, feed, q) as p:  # compare's file2: the path as given
            got, plain = call(p, str(q), module), call(str(q), str(q), module)
            assert (got if name != "compare" else dict(got, file2=str(q))) == plain, name
    tables = {"extract_table": lambda p: quarnel.extended.extract_table(p, NAMES),
              "sample": lambda p: quarnel.extended.sample(p, NAMES[0], NAMES[1:])}
    for name, make in tables.items():
        with piped(tmp_path, feed, q) as p:
            table = make(p)
            assert pyarrow.table(table) == pyarrow.table(make(str(q))), name
            assert error_of(table.rows) == \
                "I/O error: a pipe is read once: this table has been read"


def test_every_cut_of_a_dump_ends_in_a_result_or_the_end_of_input_error(tmp_path):
    data = (HEAD + BODY + "$comment c $end\nsDone $\n#20\nr-2.5e3 $\n").encode()
    ends = {i + 1 for i, byte in enumerate(data) if byte == ord("\n")}
    ends.add(data.index(b"$comment c $end") + 15)  # a command ends at its "$end"
    for size in range(len(data) + 1):
        (tmp_path / "cut.vcd").write_bytes(data[:size])
        for name, call in TO_THE_END.items():
            try:
                call(str(tmp_path / "cut.vcd"), str(tmp_path / "cut.vcd"))
                assert size in ends or (name == "list_signals" and size > len(HEAD)), size
            except RuntimeError as error:
                assert str(error) in ("missing $enddefinitions marker in VCD file",
                                      "unexpected parse error: unexpected end of VCD file",
                                      "I/O error: unexpected end of VCD file"), (size, error)


def comment_gzip(mebibytes, body=None, lines=False):
    """A gzip dump, in members of 16 MiB, whose header begins with a comment of `mebibytes`
    MiB, on one line or in lines of 64 bytes, and ends with HEAD and `body` or nothing."""
    text = (b"x" * 63 + b"\n") * 2**18 if lines else b"x" * 2**24
    member = gzip.compress(text, 1)
    end = b"" if body is None else f"$end\n{HEAD}{body}".encode()
    return [gzip.compress(b"$comment\n")] + [member] * (mebibytes // 16) + [gzip.compress(end)]


BIG = {  # the dump, the calls on `p` and what they print, the memory they may take in MiB
    "a million signals": (lambda: "$scope module top $end\n" + "".join(
        f"$var wire 1 {code_text(i)} s{i} $end\n" for i in range(10**6)) +
        "$upscope $end\n$enddefinitions $end\n#0\n1!\n#1\n0!\n",
        "n = quarnel.list_signals(p); print(len(n), n[-1], quarnel.metadata(p)['signal_count'], "
        "quarnel.toggles(p, ['top.s0', n[-1]]), quarnel.compare(p, p, signals=n[:1])['passed'])",
        "1000000 top.s999999 1000000 {'top.s0': 1, 'top.s999999': 0} True", 1500),
    # Bits of 0 and 1 are a number: a million ones are not the decimal 111...1.
    "a vector of a million bits": (lambda: "$var wire 1000000 # v $end\n$enddefinitions $end\n"
                                   f"#0\nb{'1' * 10**6} #\n#1\nb{'10' * 500000} #\n#2\nb1 #\n",
        "print([len(r['value']) for r in quarnel.extract(p, ['v'])], quarnel.toggles(p, ['v']), "
        "quarnel.find(p, 'v', '1' * 10**6)['found'], quarnel.compare(p, p)['passed'])",
        "[1000000, 1000000, 1] {'v': 2} False True", 200),
    "a million nested scopes": (lambda: "$scope module a $end\n" * 10**6 + "$var wire 1 ! x $end\n"
                                + "$upscope $end\n" * 10**6 + "$enddefinitions $end\n#3\n1!\n",
        "n = quarnel.list_signals(p); print(n == ['a.' * 10**6 + 'x'], "
        "quarnel.extract(p, n)[0]['time'])", "True 3", 800),
    # A scope line is held whole: one that never ends exhausts memory.
    "an address space of 2 GiB": (lambda: HEAD, "import resource, subprocess\nresource.setrlimit("
        "resource.RLIMIT_AS, (2**31, 2**31))\nfeed = subprocess.Popen(['sh', '-c', \"printf "
        "'$scope module '; cat /dev/zero\"], stdout=subprocess.PIPE)\ntry:\n"
        "    quarnel.metadata(f'/dev/fd/{feed.stdout.fileno()}')\nexcept MemoryError:\n"
        "    print('MemoryError')", "MemoryError", 2048),
    # The declaration section is read as a stream: a long comment takes no memory, with or
    # without the marker, whether the text before it parses or not.
    "a gzip header of a 256 MiB comment line": (lambda: comment_gzip(256), "import quarnel.extended"
        "\ntry:\n    quarnel.extended.list_signals(p)\nexcept RuntimeError as e:\n    print(e)",
        "missing $enddefinitions marker in VCD file", 64),
    "a gzip dump with a 256 MiB comment": (lambda: comment_gzip(256, BODY, lines=True),
        "import quarnel.extended as m\nprint(m.list_signals(p), m.metadata(p)['end_time'])",
        f"{NAMES} 15", 64),
    "a header of 256 MiB that does not parse": (lambda: ["#0\n$comment\n"] + [("x" * 63 + "\n") * 2**16] * 64,
        "try:\n    quarnel.list_signals(p)\nexcept RuntimeError as e:\n    print(e)",
        "missing $enddefinitions marker in VCD file", 64),
}
SLOW_BIG = "a gzip header of a 2 GiB comment line"
BIG[SLOW_BIG] = (lambda: comment_gzip(2048), *BIG["a gzip header of a 256 MiB comment line"][1:])


@pytest.mark.skipif(SANITIZED, reason="memory use of a sanitizer build says nothing, and "
                    "AddressSanitizer reserves more address space than 2 GiB")
@pytest.mark.parametrize("name", [pytest.param(n, marks=pytest.mark.slow) if n == SLOW_BIG else n
                                  for n in BIG])
def test_large_inputs_in_bounded_memory_and_memory_error(tmp_path, name):
    # In a fresh interpreter, so that a crash fails one test only; its peak memory is compared
    # with that of a call on a small dump.
    text, calls, printed, megabytes = BIG[name]
    with open(tmp_path / "big.vcd", "wb") as f:
        parts = text()
        for part in [parts] if isinstance(parts, str) else parts:
            f.write(part.encode() if isinstance(part, str) else part)
    (tmp_path / "small.vcd").write_text(HEAD)
    runs = [subprocess.run([sys.executable, "-c", f"import os, sys, quarnel\np = sys.argv[1]\n{code}"
                            "\nprint(next(line.split()[1] for line in open('/proc/self/status') "
                            "if line.startswith('VmHWM:')))", str(tmp_path / file)],
                           capture_output=True, text=True, timeout=300)
            for code, file in ((calls, "big.vcd"), ("quarnel.metadata(p)", "small.vcd"))]
    assert runs[0].stdout.splitlines()[:-1] == [printed], runs[0].stderr[-2000:]
    peak, base = (int(run.stdout.split()[-1]) / 1024 for run in runs)
    assert peak - base < megabytes


@pytest.mark.slow
def test_a_body_past_4_gib(tmp_path):
    """Offsets, times and counts past 2**32: a 4.5 GiB body, read by every function."""
    p, block = str(tmp_path / "huge.vcd"), b"".join(b"#%d\n1!\n0!\n" % t for t in range(10**5))
    blocks = (9 * 2**29) // len(block) + 1  # each 300,000 lines
    with open(p, "wb") as f:
        f.writelines([HEAD.encode()] + [block] * blocks + [b"#5000000000\nb1111 #\n#5000000001\n"])
    assert list(quarnel.metadata(p).values()) == [3, 0, 5_000_000_001, "1 ns"]
    assert quarnel.toggles(p, NAMES[:2]) == {"top.clk": blocks * 200_000 - 1, "top.count[3:0]": 0}
    hit = {"signal": "top.count[3:0]", "time": 5_000_000_000, "value": "15"}
    assert quarnel.find(p, "top.count[3:0]", "15") == dict(found=True, **hit)
    assert quarnel.find(p, "top.clk", "0", blocks * 100_000)["time"] == 99_999
    assert quarnel.extract(p, ["top.count[3:0]"], start=4_000_000_000) == [hit]
    assert quarnel.compare(p, p, signals=["top.count[3:0]"])["passed"] is True
    with open(p, "ab") as f:
        f.write(b"b2 #\n")
    assert error_of(quarnel.metadata, p) == \
        f"I/O error: invalid VCD logic value at line {blocks * 300_000 + 4}"

"""Resources and robustness: file descriptors, memory and references over many calls,
threads, interruption by signals, files that never end, cut-short files and very large
inputs."""

import gc
import os
import resource
import signal
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import pytest

import quarnel
from idcodes import code_text

# Under AddressSanitizer memory is held back on purpose and everything runs slower.
SANITIZED = os.environ.get("QUARNEL_SANITIZE", "OFF").upper() in ("1", "ON", "TRUE", "YES")

HEAD = """\
$timescale 1 ns $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 4 # count [3:0] $end
$var real 64 $ r $end
$upscope $end
$enddefinitions $end
"""
BODY = "#0\n$dumpvars\n0!\nb0 #\nr0 $\n$end\n#5\n1!\nb1010 #\n#10\n0!\nr1.5 $\n#15\n1!\n"
NAMES = ["top.clk", "top.count[3:0]", "top.r"]


def open_fds():
    return sorted(os.listdir("/proc/self/fd"))


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.fixture
def good(vcd):
    return vcd(HEAD + BODY)


def all_six(path, other=None):
    """One call of every function on `path`; returns the results."""
    return [
        quarnel.list_signals(path),
        quarnel.metadata(path),
        quarnel.extract(path, NAMES),
        quarnel.toggles(path, NAMES),
        quarnel.find(path, "top.clk", "1", 2),
        quarnel.compare(path, other or path),
    ]


def error_cases(vcd, tmp_path):
    """(function name, call, exception type) for every way a call can fail."""
    good = vcd(HEAD + BODY)
    missing = str(tmp_path / "missing.vcd")
    folder = str(tmp_path)
    empty = vcd("")
    unparsable = vcd("$scope module top $end\n$bogus $end\n$enddefinitions $end\n")
    duplicate = vcd("$var wire 1 ! a $end\n$var wire 1 # a $end\n$enddefinitions $end\n")
    damaged = vcd(HEAD + "#0\n1!\nb102 #\n")
    cut = vcd(HEAD + "#0\n1!")
    cases = []
    for path in (missing, folder, empty, unparsable, duplicate):
        cases += [
            ("list_signals", lambda p=path: quarnel.list_signals(p), RuntimeError),
            ("compare", lambda p=path: quarnel.compare(good, p), RuntimeError),
        ]
    for path in (missing, folder, empty, unparsable, duplicate, damaged, cut):
        cases += [
            ("metadata", lambda p=path: quarnel.metadata(p), RuntimeError),
            ("extract", lambda p=path: quarnel.extract(p, NAMES), RuntimeError),
            ("toggles", lambda p=path: quarnel.toggles(p, NAMES), RuntimeError),
            ("find", lambda p=path: quarnel.find(p, "top.clk", "z"), RuntimeError),
            ("compare", lambda p=path: quarnel.compare(p, good), RuntimeError),
        ]
    cases += [
        ("extract", lambda: quarnel.extract(good, ["top.clk", "no.such"]), RuntimeError),
        ("toggles", lambda: quarnel.toggles(good, ["no.such"]), RuntimeError),
        ("find", lambda: quarnel.find(good, "no.such", "1"), RuntimeError),
        ("find", lambda: quarnel.find(good, "top.clk", "1", 0), RuntimeError),
        ("find", lambda: quarnel.find(missing, "top.clk", "1", 0), RuntimeError),
        ("metadata", lambda: quarnel.metadata(Path(good)), TypeError),
        ("extract", lambda: quarnel.extract(good, "top.clk"), TypeError),
        ("extract", lambda: quarnel.extract(good, NAMES, start=-1), OverflowError),
        ("compare", lambda: quarnel.compare(good, good, max_mismatches=2**64), OverflowError),
        ("list_signals", lambda: quarnel.list_signals("\udc80"), UnicodeEncodeError),
        ("toggles", lambda: quarnel.toggles(good, ["top.clk", "\ud800"]), UnicodeEncodeError),
    ]
    return cases


def success_cases(vcd):
    good = vcd(HEAD + BODY)
    other = vcd(HEAD + BODY.replace("1!\n", "0!\n"))
    return [
        lambda: quarnel.list_signals(good, "c"),
        lambda: quarnel.metadata(good),
        lambda: quarnel.extract(good, NAMES, start=5, end=10),
        lambda: quarnel.toggles(good, NAMES),
        # Stops reading at the match, in the middle of the file.
        lambda: quarnel.find(good, "top.clk", "1"),
        lambda: quarnel.compare(good, other, max_mismatches=1),
    ]


def test_no_descriptor_left_open_after_10000_calls(vcd, tmp_path):
    calls = [(call, None) for call in success_cases(vcd)]
    calls += [(call, error) for _, call, error in error_cases(vcd, tmp_path)]
    before = open_fds()
    for i in range(10_000):
        call, error = calls[i % len(calls)]
        if error is None:
            call()
        else:
            with pytest.raises(error):
                call()
    assert open_fds() == before


def test_every_error_path_raises_only_documented_exceptions(vcd, tmp_path):
    for _, call, error in error_cases(vcd, tmp_path):
        with pytest.raises(error) as info:
            call()
        assert type(info.value) is error


def flat_over(calls, count):
    """Runs the calls round robin `count` times after a warm-up; returns the growth of
    the interpreter's allocated blocks and of the resident memory."""
    def run(n):
        for i in range(n):
            call, error = calls[i % len(calls)]
            try:
                call()
            except Exception as exc:  # noqa: BLE001 - the expected failure of this case
                assert error is not None and isinstance(exc, error), exc
    run(5_000)
    gc.collect()
    blocks, resident = sys.getallocatedblocks(), resident_bytes()
    run(count)
    gc.collect()
    return sys.getallocatedblocks() - blocks, resident_bytes() - resident


CALLS = 10_000 if SANITIZED else 100_000


@pytest.mark.parametrize("function", quarnel.__all__)
def test_memory_and_references_stay_flat(vcd, tmp_path, function):
    good = vcd(HEAD + BODY)
    names = list(NAMES)
    success = success_cases(vcd)[quarnel.__all__.index(function)]
    calls = []
    for name, call, error in error_cases(vcd, tmp_path):
        if name == function:
            calls += [(success, None), (call, error)]
    refs = sys.getrefcount(good), sys.getrefcount(names), [sys.getrefcount(n) for n in names]
    blocks, resident = flat_over(calls, CALLS)
    assert blocks < 100
    if not SANITIZED:
        assert resident < 4 * 2**20
    assert (sys.getrefcount(good), sys.getrefcount(names),
            [sys.getrefcount(n) for n in names]) == refs


def test_threads_get_the_results_of_one_thread(vcd, tmp_path):
    paths = [vcd(HEAD + BODY), vcd(HEAD + BODY.replace("#15", "#12")),
             vcd(HEAD + "#0\n1!\nb1x #\n#3\n0!\n"), vcd(HEAD + "#0\n1!\nb102 #\n")]

    def outcomes():
        results = []
        for a in paths:
            for b in paths:
                for call in (lambda: all_six(a, b), lambda: quarnel.compare(b, a)):
                    try:
                        results.append(call())
                    except RuntimeError as error:
                        results.append(str(error))
        return results

    expected = outcomes()
    got = [None] * 8
    start = threading.Barrier(8)

    def worker(slot):
        start.wait()
        runs = [outcomes() for _ in range(20)]
        got[slot] = runs

    threads = [threading.Thread(target=worker, args=(slot,)) for slot in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert all(run == expected for runs in got for run in runs)


# --- Interruption -------------------------------------------------------------------------

class Stop(Exception):
    pass


@pytest.fixture(scope="module")
def long_dump(tmp_path_factory):
    """A dump with a 1 GiB body: long enough that no call on it ends within a second."""
    path = tmp_path_factory.mktemp("long") / "long.vcd"
    chunk = b"#1\n1!\nb1010 #\n0!\n" * (2**20 // 18)
    with open(path, "wb") as f:
        f.write(HEAD.encode())
        for _ in range(2**30 // len(chunk)):
            f.write(chunk)
        f.write(b"#2\n")
    yield str(path)
    path.unlink()


def interrupted_after(delay, call, handler, repeat=0):
    """Runs `call` with a timer that fires after `delay` seconds (then every `repeat`
    seconds) into `handler`; returns the exception the call raised and the seconds between
    the first signal and the end of the call."""
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        begin = time.monotonic()
        signal.setitimer(signal.ITIMER_REAL, delay, repeat)
        try:
            call()
        except BaseException as error:  # noqa: BLE001 - the handler's exception
            return error, time.monotonic() - begin - delay
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
        pytest.fail("the call ended before the signal")
    finally:
        signal.signal(signal.SIGALRM, previous)


def raise_stop(signum, frame):
    raise Stop


STREAMING = {
    "metadata": lambda p: quarnel.metadata(p),
    # A signal that never changes: no records pile up should the stop fail.
    "extract": lambda p: quarnel.extract(p, ["top.r"]),
    "toggles": lambda p: quarnel.toggles(p, NAMES),
    "find": lambda p: quarnel.find(p, "top.clk", "z"),
    "compare": lambda p: quarnel.compare(p, p),
}


@pytest.mark.parametrize("name", STREAMING)
def test_ctrl_c_stops_a_long_call_quickly(long_dump, name):
    before = open_fds()
    error, late = interrupted_after(0.05, lambda: STREAMING[name](long_dump),
                                    signal.default_int_handler)
    assert type(error) is KeyboardInterrupt
    assert late < 0.5
    assert open_fds() == before


@pytest.mark.parametrize("name", STREAMING)
def test_the_handlers_own_exception_comes_through(long_dump, name):
    error, late = interrupted_after(0.05, lambda: STREAMING[name](long_dump), raise_stop)
    assert type(error) is Stop and late < 0.5


@pytest.mark.parametrize("handler", [signal.default_int_handler, raise_stop])
def test_compare_stops_while_only_the_longer_file_is_still_read(long_dump, vcd, handler):
    # The two files are read at once; the short one is done long before the signal.
    short = vcd(HEAD + "#1\n")
    for first, second in [(short, long_dump), (long_dump, short)]:
        error, late = interrupted_after(0.05, lambda: quarnel.compare(first, second), handler)
        assert type(error) is (Stop if handler is raise_stop else KeyboardInterrupt)
        assert late < 0.5


def test_ctrl_c_is_not_lost_to_python_code_run_by_the_garbage_collector(tmp_path):
    """extract builds objects as it reads, so collections run during the call, and with
    them Python code (here a gc callback) that takes a pending signal and drops what its
    handler raises. The call pauses the collector while it builds and looks for signals
    every 65,536 records, so a repeated Ctrl-C always stops the call."""
    path = tmp_path / "records.vcd"
    with open(path, "wb") as f:
        f.write(HEAD.encode())
        f.write(b"#1\n1!\n0!\n" * (40 * 2**20 // 9))
    callback = lambda phase, info: None  # noqa: E731 - any Python callable will do
    gc.callbacks.append(callback)
    try:
        error, late = interrupted_after(0.05, lambda: quarnel.extract(str(path), ["top.clk"]),
                                        signal.default_int_handler, repeat=0.1)
    finally:
        gc.callbacks.remove(callback)
    assert type(error) is KeyboardInterrupt and late < 0.5


def test_a_handler_that_does_not_raise_lets_the_call_finish(vcd):
    path = vcd(HEAD + BODY * 20000)
    ticks = []
    previous = signal.signal(signal.SIGALRM, lambda signum, frame: ticks.append(signum))
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
        result = quarnel.toggles(path, NAMES)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert result == quarnel.toggles(path, NAMES)


@pytest.mark.parametrize("function", quarnel.__all__)
def test_dev_zero_can_be_interrupted(function):
    call = {
        "list_signals": lambda: quarnel.list_signals("/dev/zero"),
        "metadata": lambda: quarnel.metadata("/dev/zero"),
        "extract": lambda: quarnel.extract("/dev/zero", []),
        "toggles": lambda: quarnel.toggles("/dev/zero", []),
        "find": lambda: quarnel.find("/dev/zero", "a", "1"),
        "compare": lambda: quarnel.compare("/dev/zero", "/dev/zero"),
    }[function]
    before = open_fds()
    error, late = interrupted_after(0.05, call, signal.default_int_handler)
    assert type(error) is KeyboardInterrupt and late < 0.5
    assert open_fds() == before


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves more address space than the limit")
def test_dev_zero_under_a_memory_limit_raises_memory_error():
    script = textwrap.dedent("""
        import resource, quarnel
        resource.setrlimit(resource.RLIMIT_AS, (2 * 2**30, 2 * 2**30))
        try:
            quarnel.metadata("/dev/zero")
        except MemoryError:
            print("MemoryError")
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert result.stdout.strip() == "MemoryError", result.stderr


def test_fifo_without_writer_can_be_interrupted(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    before = open_fds()
    for call in (lambda: quarnel.list_signals(str(fifo)),
                 lambda: quarnel.compare(str(fifo), str(fifo))):
        error, late = interrupted_after(0.05, call, signal.default_int_handler)
        assert type(error) is KeyboardInterrupt and late < 0.5
    assert open_fds() == before


def test_fifo_holding_a_dump(tmp_path):
    """The header is read from the pipe. The body pass opens it again: it fails to seek
    when the writer is still there, else it waits for a writer until it is interrupted."""
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    before = open_fds()
    for call, signals in ((quarnel.list_signals, None), (quarnel.metadata, 0.3)):
        writer = subprocess.Popen([sys.executable, "-c", textwrap.dedent(f"""
            with open({str(fifo)!r}, "w") as f:
                f.write({HEAD + BODY!r})
        """)])
        try:
            if signals is None:
                assert call(str(fifo)) == NAMES
            else:
                error, late = interrupted_after(signals, lambda: call(str(fifo)),
                                                signal.default_int_handler)
                assert type(error) in (KeyboardInterrupt, RuntimeError) and late < 0.5
                if type(error) is RuntimeError:
                    assert str(error) == "I/O error: Illegal seek (os error 29)"
        finally:
            writer.wait(timeout=10)
    assert open_fds() == before


def test_directory_fails(tmp_path):
    for call in (quarnel.list_signals, quarnel.metadata, lambda p: quarnel.compare(p, p)):
        with pytest.raises(RuntimeError, match=r"^I/O error: Is a directory \(os error 21\)$"):
            call(str(tmp_path))


# --- Cut-short files ------------------------------------------------------------------------

EOF_TEXTS = {
    "missing $enddefinitions marker in VCD file",
    "unexpected parse error: unexpected end of VCD file",
    "I/O error: unexpected end of VCD file",
}


def test_every_cut_of_a_dump_ends_in_a_result_or_the_end_of_input_error(tmp_path):
    data = (HEAD + BODY + "$comment c $end\nsDone $\n#20\nr-2.5e3 $\n").encode()
    path = tmp_path / "cut.vcd"
    ends_of_lines = {i + 1 for i, byte in enumerate(data) if byte == ord("\n")}
    for size in range(len(data) + 1):
        path.write_bytes(data[:size])
        for function in (quarnel.metadata, lambda p: quarnel.extract(p, NAMES),
                         lambda p: quarnel.toggles(p, NAMES),
                         lambda p: quarnel.find(p, "top.clk", "x"),
                         lambda p: quarnel.compare(p, p), quarnel.list_signals):
            try:
                function(str(path))
                # A string command ends at its "$end", with nothing behind it.
                ended = size in ends_of_lines or data[:size].endswith(b"$comment c $end")
                assert ended or (function is quarnel.list_signals and size > len(HEAD)), size
            except RuntimeError as error:
                assert str(error) in EOF_TEXTS, (size, str(error))


def test_a_dump_still_being_written(tmp_path):
    """A writer appends a dump in small pieces while calls read it."""
    path, source = tmp_path / "growing.vcd", tmp_path / "whole.vcd"
    path.write_bytes(b"")
    source.write_text(HEAD + BODY * 2000)
    writer = subprocess.Popen([sys.executable, "-c", textwrap.dedent(f"""
        import time
        with open({str(source)!r}, "rb") as f:
            data = f.read()
        with open({str(path)!r}, "ab", buffering=0) as f:
            for at in range(0, len(data), 997):
                f.write(data[at:at + 997])
                time.sleep(0.0002)
    """)])
    outcomes = set()
    try:
        while writer.poll() is None:
            try:
                quarnel.toggles(str(path), NAMES)
                outcomes.add("result")
            except RuntimeError as error:
                assert str(error) in EOF_TEXTS, str(error)
                outcomes.add(str(error))
    finally:
        writer.wait(timeout=60)
    assert outcomes
    assert quarnel.toggles(str(path), NAMES) == {"top.clk": 7999, "top.count[3:0]": 3999,
                                                  "top.r": 3999}


# --- Very large inputs ----------------------------------------------------------------------

def measured(script, *args):
    """Runs `script` in a fresh interpreter; returns its output lines, its peak resident
    memory in MiB and its run time in seconds."""
    # The peak of this process's own memory; ru_maxrss would start from the parent's.
    code = script + textwrap.dedent("""
        with open("/proc/self/status") as status:
            print(next(line.split()[1] for line in status if line.startswith("VmHWM:")))
    """)
    begin = time.monotonic()
    result = subprocess.run([sys.executable, "-c", code, *map(str, args)],
                            capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    return lines[:-1], int(lines[-1]) / 1024, time.monotonic() - begin


BASELINE = """
import sys, quarnel
print(len(quarnel.list_signals(sys.argv[1])))
"""


def baseline_memory(tmp_path):
    small = tmp_path / "small.vcd"
    small.write_text(HEAD)
    return measured(BASELINE, small)[1]


@pytest.mark.skipif(SANITIZED, reason="memory use and times of a sanitizer build say nothing")
def test_a_million_signals(tmp_path):
    path = tmp_path / "wide.vcd"
    with open(path, "w") as f:
        f.write("$scope module top $end\n")
        f.writelines(f"$var wire 1 {code_text(i)} s{i} $end\n" for i in range(1_000_000))
        f.write("$upscope $end\n$enddefinitions $end\n#0\n1!\n#1\n0!\n")
    out, memory, seconds = measured("""
import sys, quarnel
p = sys.argv[1]
names = quarnel.list_signals(p)
print(len(names), names[-1])
print(quarnel.metadata(p)["signal_count"])
print(sorted(quarnel.toggles(p, ["top.s0", "top.s999999"]).items()))
print(quarnel.compare(p, p, signals=["top.s0"])["passed"])
""", path)
    assert out == ["1000000 top.s999999", "1000000", "[('top.s0', 1), ('top.s999999', 0)]", "True"]
    assert seconds < 60
    assert memory - baseline_memory(tmp_path) < 1500


@pytest.mark.skipif(SANITIZED, reason="memory use and times of a sanitizer build say nothing")
def test_a_vector_of_a_million_bits(tmp_path):
    bits = 1_000_000
    path = tmp_path / "vector.vcd"
    ones, mixed = "1" * bits, "10" * (bits // 2)
    path.write_text(f"$scope module top $end\n$var wire {bits} # v [{bits - 1}:0] $end\n"
                    f"$upscope $end\n$enddefinitions $end\n"
                    f"#0\nb{ones} #\n#1\nb{mixed} #\n#2\nb{ones} #\n")
    out, memory, seconds = measured("""
import sys, quarnel
p, name = sys.argv[1], "top.v[999999:0]"
records = quarnel.extract(p, [name])
print([(r["time"], len(r["value"]), r["value"][:2]) for r in records])
print(quarnel.toggles(p, [name]))
# Bits of 0 and 1 are a number: a million ones are not the decimal 111...1.
print(quarnel.find(p, name, "1" * 1000000, 1)["time"])
print(quarnel.compare(p, p)["passed"])
""", path)
    assert out == ["[(0, 1000000, '11'), (1, 1000000, '10'), (2, 1000000, '11')]",
                   "{'top.v[999999:0]': 2}", "None", "True"]
    assert seconds < 30
    assert memory - baseline_memory(tmp_path) < 200


@pytest.mark.skipif(SANITIZED, reason="memory use and times of a sanitizer build say nothing")
def test_a_comment_of_100_megabytes(tmp_path):
    comment = ("a comment line, long enough to matter\n" * (100 * 2**20 // 38))
    path = tmp_path / "comment.vcd"
    path.write_text(f"$comment\n{comment}$end\n{HEAD}{BODY}$comment\n{comment}$end\n#20\n")
    out, memory, seconds = measured("""
import sys, quarnel
p = sys.argv[1]
print(quarnel.list_signals(p))
print(quarnel.metadata(p))
print(quarnel.toggles(p, ["top.clk"]))
""", path)
    assert out == [str(NAMES),
                   "{'signal_count': 3, 'start_time': 0, 'end_time': 20, 'timescale': '1 ns'}",
                   "{'top.clk': 3}"]
    assert seconds < 60
    # The header text is held in memory a few times over while it is parsed.
    assert memory - baseline_memory(tmp_path) < 800


@pytest.mark.slow
def test_a_body_past_4_gib(tmp_path):
    """Offsets, times and counts past 2**32: a 4.5 GiB body, read by every function."""
    path = tmp_path / "huge.vcd"
    block = b"".join(b"#%d\n1!\n0!\n" % (t) for t in range(0, 100_000))
    lines_per_block = 300_000
    blocks = (9 * 2**29) // len(block) + 1
    with open(path, "wb") as f:
        f.write(HEAD.encode())
        for _ in range(blocks):
            f.write(block)
        # Past 4 GiB: a timestamp above 2**32, a change found there, then a fault.
        f.write(b"#5000000000\nb1111 #\n#5000000001\n")
    size = path.stat().st_size
    assert size - len(HEAD) > 2**32
    p = str(path)
    assert quarnel.metadata(p) == {"signal_count": 3, "start_time": 0,
                                   "end_time": 5_000_000_001, "timescale": "1 ns"}
    changes = blocks * 200_000
    assert quarnel.toggles(p, ["top.clk", "top.count[3:0]"]) == {
        "top.clk": changes - 1, "top.count[3:0]": 0}
    assert quarnel.find(p, "top.count[3:0]", "15") == {
        "found": True, "signal": "top.count[3:0]", "time": 5_000_000_000, "value": "15"}
    assert quarnel.find(p, "top.clk", "0", changes // 2) == {
        "found": True, "signal": "top.clk", "time": 99_999, "value": "0"}
    assert quarnel.extract(p, ["top.count[3:0]"], start=4_000_000_000) == [
        {"signal": "top.count[3:0]", "time": 5_000_000_000, "value": "15"}]
    assert quarnel.compare(p, p, signals=["top.count[3:0]"])["passed"] is True
    with open(path, "ab") as f:
        f.write(b"b2 #\n")
    line = blocks * lines_per_block + 4
    with pytest.raises(RuntimeError) as info:
        quarnel.metadata(p)
    assert str(info.value) == f"I/O error: invalid VCD logic value at line {line}"

"""Resources and robustness: file descriptors, memory and references over many calls,
threads, interruption by signals, files that never end, cut-short files and very large
inputs."""

import gc
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import quarnel
from conftest import code_text

# Under AddressSanitizer memory is held back on purpose and everything runs slower.
SANITIZED = os.environ.get("QUARNEL_SANITIZE", "OFF").upper() in ("1", "ON", "TRUE", "YES")
HEAD = "$timescale 1 ns $end\n$scope module top $end\n$var wire 1 ! clk $end\n" \
       "$var wire 4 # count [3:0] $end\n$var real 64 $ r $end\n$upscope $end\n" \
       "$enddefinitions $end\n"
BODY = "#0\n$dumpvars\n0!\nb0 #\nr0 $\n$end\n#5\n1!\nb1010 #\n#10\n0!\nr1.5 $\n#15\n1!\n"
NAMES = ["top.clk", "top.count[3:0]", "top.r"]
CALLS = {"list_signals": lambda p, q: quarnel.list_signals(p, "c"),
         "metadata": lambda p, q: quarnel.metadata(p),
         "extract": lambda p, q: quarnel.extract(p, NAMES, start=5),
         "toggles": lambda p, q: quarnel.toggles(p, NAMES),
         "find": lambda p, q: quarnel.find(p, "top.clk", "1", 2),
         "compare": lambda p, q: quarnel.compare(q, p, max_mismatches=1)}
# The same calls, each reading to the end of the file.
TO_THE_END = dict(CALLS, find=lambda p, q: quarnel.find(p, "top.clk", "z"))


def open_fds():
    return sorted(os.listdir("/proc/self/fd"))


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def files(vcd, tmp_path):
    """A good dump, then a file for every way a call can fail on its file."""
    return [vcd(HEAD + BODY), str(tmp_path / "missing.vcd"), str(tmp_path), vcd(""),
            vcd("$scope module top $end\n$bogus $end\n$enddefinitions $end\n"),
            vcd("$var wire 1 ! a $end\n$var wire 1 # a $end\n$enddefinitions $end\n"),
            vcd(HEAD + "#0\n1!\nb102 #\n"), vcd(HEAD + "#0\n1!")]


@pytest.mark.parametrize("name", CALLS)
def test_descriptors_memory_and_references_stay_flat(vcd, tmp_path, name):
    paths, call = files(vcd, tmp_path), CALLS[name]
    calls = [lambda p=p: call(p, paths[0]) for p in paths] + [
        lambda: quarnel.extract(paths[0], ["top.clk", "no.such"]),
        lambda: quarnel.find(paths[0], "top.clk", "1", 0),
        lambda: quarnel.toggles(paths[0], ["top.clk", "\ud800"]),
        lambda: quarnel.compare(paths[0], paths[0], max_mismatches=2**64)]

    def run(n):
        for i in range(n):
            try:
                calls[i % len(calls)]()
            except (RuntimeError, UnicodeEncodeError, OverflowError):
                pass
    run(2000)
    gc.collect()
    before = open_fds(), sys.getallocatedblocks(), [sys.getrefcount(p) for p in paths], rss()
    run(2000 if SANITIZED else 20000)
    gc.collect()
    fds, blocks, refs, resident = open_fds(), sys.getallocatedblocks(), [
        sys.getrefcount(p) for p in paths], rss()
    assert (fds, refs) == (before[0], before[2]) and blocks - before[1] < 100
    assert SANITIZED or resident - before[3] < 4 * 2**20


def test_threads_get_the_results_of_one_thread(vcd, tmp_path):
    paths = files(vcd, tmp_path)
    paths = [paths[0], paths[6], vcd(HEAD + BODY.replace("#15", "#12")), vcd(HEAD + "#0\nbx1 #\n")]

    def outcomes():
        results = []
        for a, b, call in ((a, b, call) for a in paths for b in paths for call in CALLS.values()):
            try:
                results.append(call(a, b))
            except RuntimeError as error:
                results.append(str(error))
        return results
    expected, got, start = outcomes(), [], threading.Barrier(8)
    threads = [threading.Thread(target=lambda: start.wait() or got.extend(
        outcomes() for _ in range(10))) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(got) == 80 and all(run == expected for run in got)


class Stop(Exception):
    pass


def raise_stop(signum, frame):
    raise Stop


@pytest.fixture(scope="module")
def long_dump(tmp_path_factory):
    """A dump with a 1 GiB body: long enough that no call on it ends within a second."""
    path = tmp_path_factory.mktemp("long") / "long.vcd"
    chunk = b"#1\n1!\nb1010 #\n0!\n" * (2**20 // 18)
    with open(path, "wb") as f:
        f.write(HEAD.encode())
        for _ in range(2**30 // len(chunk)):
            f.write(chunk)
    yield str(path)
    path.unlink()


def interrupted(call, handler, repeat=0):
    """Runs `call` with a timer that fires after 0.05 s (then every `repeat` seconds) into
    `handler`; checks that the call raised the handler's exception within half a second of
    the signal, with no file left open and the collector as it was."""
    fds, collecting = open_fds(), gc.isenabled()
    previous = signal.signal(signal.SIGALRM, handler)
    try:
        begin = time.monotonic()
        signal.setitimer(signal.ITIMER_REAL, 0.05, repeat)
        with pytest.raises((Stop, KeyboardInterrupt)) as info:
            call()
        assert time.monotonic() - begin < 0.55
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert type(info.value) is (Stop if handler is raise_stop else KeyboardInterrupt)
    assert open_fds() == fds and gc.isenabled() is collecting


@pytest.mark.parametrize("handler", [signal.default_int_handler, raise_stop])
@pytest.mark.parametrize("name", ["metadata", "extract", "toggles", "find", "compare"])
def test_a_long_call_stops_at_a_signal(long_dump, vcd, name, handler):
    if name == "compare":  # read at once: the short file is done long before the signal
        short = vcd(HEAD + "#1\n")
        interrupted(lambda: quarnel.compare(short, long_dump), handler)
        interrupted(lambda: quarnel.compare(long_dump, short), handler)
    else:
        interrupted(lambda: TO_THE_END[name](long_dump, long_dump), handler)


def test_a_signal_is_not_lost_to_python_code_run_by_the_collector(tmp_path):
    """extract builds objects as it reads; Python code run by a collection (a gc callback)
    could take a pending signal and drop what its handler raises."""
    path = tmp_path / "records.vcd"
    path.write_bytes(HEAD.encode() + b"#1\n1!\n0!\n" * (40 * 2**20 // 9))
    callback = lambda phase, info: None  # noqa: E731 - any Python callable will do
    gc.callbacks.append(callback)
    try:
        for enabled in (gc.enable, gc.disable):
            enabled()
            interrupted(lambda: quarnel.extract(str(path), ["top.clk"]),
                        signal.default_int_handler, repeat=0.1)
    finally:
        gc.callbacks.remove(callback)
        gc.enable()


@pytest.mark.parametrize("name", CALLS)
def test_endless_files_can_be_interrupted(tmp_path, name):
    interrupted(lambda: CALLS[name]("/dev/zero", "/dev/zero"), signal.default_int_handler)
    fifo = tmp_path / "fifo"  # no program writes to it
    os.mkfifo(fifo)
    interrupted(lambda: CALLS[name](str(fifo), str(fifo)), signal.default_int_handler)
    with pytest.raises(RuntimeError, match=r"^I/O error: Is a directory \(os error 21\)$"):
        CALLS[name](str(tmp_path), str(tmp_path))


@pytest.mark.skipif(SANITIZED, reason="AddressSanitizer reserves more address space than the limit")
def test_dev_zero_under_a_memory_limit_raises_memory_error():
    script = "import resource, quarnel\nresource.setrlimit(resource.RLIMIT_AS, (2**31, 2**31))\n" \
             "try:\n    quarnel.metadata('/dev/zero')\nexcept MemoryError:\n    print('ok')\n"
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert result.stdout == "ok\n", result.stderr


def test_every_cut_of_a_dump_ends_in_a_result_or_the_end_of_input_error(tmp_path):
    data = (HEAD + BODY + "$comment c $end\nsDone $\n#20\nr-2.5e3 $\n").encode()
    ends = {i + 1 for i, byte in enumerate(data) if byte == ord("\n")}
    ends.add(data.index(b"$comment c $end") + 15)  # a command ends at its "$end"
    path = tmp_path / "cut.vcd"
    for size in range(len(data) + 1):
        path.write_bytes(data[:size])
        for name, call in TO_THE_END.items():
            try:
                call(str(path), str(path))
                assert size in ends or (name == "list_signals" and size > len(HEAD)), size
            except RuntimeError as error:
                assert str(error) in ("missing $enddefinitions marker in VCD file",
                                      "unexpected parse error: unexpected end of VCD file",
                                      "I/O error: unexpected end of VCD file"), (size, error)


BIG = {  # a dump writer, the calls on it and what they print
    "a million signals": (lambda f: f.write("$scope module top $end\n" + "".join(
        f"$var wire 1 {code_text(i)} s{i} $end\n" for i in range(10**6)) +
        "$upscope $end\n$enddefinitions $end\n#0\n1!\n#1\n0!\n"),
        "n = quarnel.list_signals(p); print(len(n), n[-1], quarnel.metadata(p)['signal_count'], "
        "quarnel.toggles(p, ['top.s0', n[-1]]), quarnel.compare(p, p, signals=n[:1])['passed'])",
        "1000000 top.s999999 1000000 {'top.s0': 1, 'top.s999999': 0} True", 1500),
    "a vector of a million bits": (lambda f: f.write(
        "$var wire 1000000 # v $end\n$enddefinitions $end\n"
        f"#0\nb{'1' * 10**6} #\n#1\nb{'10' * 500000} #\n#2\nb{'1' * 10**6} #\n"),
        # Bits of 0 and 1 are a number: a million ones are not the decimal 111...1.
        "r = quarnel.extract(p, ['v']); print([len(x['value']) for x in r], quarnel.toggles(p, "
        "['v']), quarnel.find(p, 'v', '1' * 10**6)['found'], quarnel.compare(p, p)['passed'])",
        "[1000000, 1000000, 1000000] {'v': 2} False True", 200),
    "a million nested scopes": (lambda f: f.write(
        "$scope module a $end\n" * 10**6 + "$var wire 1 ! x $end\n" + "$upscope $end\n" * 10**6 +
        "$enddefinitions $end\n#3\n1!\n"),
        "n = quarnel.list_signals(p); print(n == ['a.' * 10**6 + 'x'], "
        "quarnel.extract(p, n)[0]['time'])", "True 3", 800),
}


def peak_run(code, path):
    """Runs `code` on `path` in a fresh interpreter, so that a crash fails one test only;
    returns its output lines and its own peak resident memory in MiB."""
    script = (f"import sys, quarnel\np = sys.argv[1]\n{code}\nprint(next(line.split()[1] "
              "for line in open('/proc/self/status') if line.startswith('VmHWM:')))\n")
    result = subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, result.stderr[-2000:]
    *out, peak = result.stdout.splitlines()
    return out, int(peak) / 1024


@pytest.mark.skipif(SANITIZED, reason="memory use and times of a sanitizer build say nothing")
@pytest.mark.parametrize("name", BIG)
def test_very_large_inputs_in_bounded_memory(tmp_path, name):
    write, calls, printed, megabytes = BIG[name]
    with open(tmp_path / "big.vcd", "w") as f:
        write(f)
    (tmp_path / "small.vcd").write_text(HEAD)
    out, peak = peak_run(calls, tmp_path / "big.vcd")
    assert out == [printed]
    assert peak - peak_run("quarnel.list_signals(p)", tmp_path / "small.vcd")[1] < megabytes


@pytest.mark.slow
def test_a_body_past_4_gib(tmp_path):
    """Offsets, times and counts past 2**32: a 4.5 GiB body, read by every function."""
    path, p = tmp_path / "huge.vcd", str(tmp_path / "huge.vcd")
    block = b"".join(b"#%d\n1!\n0!\n" % t for t in range(100_000))  # 300,000 lines
    blocks = (9 * 2**29) // len(block) + 1
    with open(path, "wb") as f:
        f.write(HEAD.encode() + block * blocks + b"#5000000000\nb1111 #\n#5000000001\n")
    assert quarnel.metadata(p) == {"signal_count": 3, "start_time": 0,
                                   "end_time": 5_000_000_001, "timescale": "1 ns"}
    assert quarnel.toggles(p, NAMES[:2]) == {"top.clk": blocks * 200_000 - 1, "top.count[3:0]": 0}
    hit = {"signal": "top.count[3:0]", "time": 5_000_000_000, "value": "15"}
    assert quarnel.find(p, "top.count[3:0]", "15") == dict(found=True, **hit)
    assert quarnel.find(p, "top.clk", "0", blocks * 100_000)["time"] == 99_999
    assert quarnel.extract(p, ["top.count[3:0]"], start=4_000_000_000) == [hit]
    assert quarnel.compare(p, p, signals=["top.count[3:0]"])["passed"] is True
    with open(path, "ab") as f:
        f.write(b"b2 #\n")
    assert str(pytest.raises(RuntimeError, quarnel.metadata, p).value) == \
        f"I/O error: invalid VCD logic value at line {blocks * 300_000 + 4}"

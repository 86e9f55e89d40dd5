"""Compressed dumps through quarnel.extended: a gzip or zstd file gives the answers and the
errors of the dump it holds, line numbers included; a damaged one is an I/O error."""

import gzip

import pytest
import zstandard

import quarnel
from conftest import DATA, REPO, error_of, outcomes
from quarnel import extended

DUMPS = sorted(DATA.glob("*.vcd")) + sorted((REPO / "examples").rglob("*.vcd"))


def halves(compress):
    return lambda data: compress(data[: len(data) // 2]) + compress(data[len(data) // 2:])


def skippable(kind, payload):
    return (0x184D2A50 + kind).to_bytes(4, "little") + len(payload).to_bytes(4, "little") + payload


def skipping(data):
    """zstd frames behind and between skippable frames, as seekable and tagging tools write."""
    return skippable(0, b"tag" * 50) + halves(lambda d: zstandard.compress(d) + skippable(15, b""))(data)


def to_block(compress):
    """A stream that ends where a read block ends: a comment fills the text up to 64 KiB."""
    return lambda data: compress(data + b"$comment " + b"x" * (-(len(data) + 15) % 2**16) + b" $end\n")


COMPRESS = {"gzip": gzip.compress, "zstd": zstandard.compress,
            "gzip members": halves(gzip.compress), "zstd frames": halves(zstandard.compress),
            "zstd skippable frames": skipping, "gzip to a block's end": to_block(gzip.compress),
            "zstd to a block's end": to_block(zstandard.compress)}


def answers(path, plain, names):
    return outcomes([
        lambda: extended.list_signals(path), lambda: extended.metadata(path),
        lambda: extended.extract(path, names, start=1), lambda: extended.toggles(path, names),
        lambda: extended.find(path, names[-1], "1", 2),
        lambda: dict(extended.compare(path, plain), file1=None)], RuntimeError)


@pytest.mark.parametrize("kind", COMPRESS)
@pytest.mark.parametrize("dump", DUMPS + ["damaged"], ids=lambda d: getattr(d, "name", d))
def test_compressed_dumps_answer_as_the_plain_one(tmp_path, dump, kind):
    plain = tmp_path / "plain.vcd"
    data = (REPO / "examples" / "counter.vcd").read_bytes() + b"#400\nb2 !\n" \
        if dump == "damaged" else dump.read_bytes()
    plain.write_bytes(data)
    (tmp_path / "packed").write_bytes(COMPRESS[kind](data))
    names = extended.list_signals(str(plain))
    expected = answers(str(plain), str(plain), names)
    assert answers(str(tmp_path / "packed"), str(plain), names) == expected


@pytest.mark.parametrize("kind, damage, message", [
    ("gzip", lambda d: d[:-9], "gzip stream cut short"),
    ("zstd", lambda d: d[:-9], "zstd stream cut short"),
    ("gzip", lambda d: d[:-8] + bytes([d[-8] ^ 1]) + d[-7:], "invalid gzip data: "),  # CRC
    ("zstd", lambda d: d + b"junk", "invalid zstd data: "),
])
def test_damaged_streams_are_io_errors(vcd, kind, damage, message):
    path = vcd(damage(COMPRESS[kind]((REPO / "examples" / "counter.vcd").read_bytes())))
    assert error_of(extended.metadata, path).startswith("I/O error: " + message)
    assert error_of(quarnel.metadata, path) == error_of(quarnel.metadata, vcd(b"\x1f\x8b"))

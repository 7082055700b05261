#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Each target reads a first byte choosing the argument buffer's shape (0-4 pass
the buffer rule: 0-2 library buffers with spare capacity, 3 from_bytes, 4 the
null buffer; 5-7 break the rule), then the bytes the lift sees."""

import pathlib
import struct

ROOT = pathlib.Path(__file__).resolve().parent / "corpus"


def f64s(*xs):
    return struct.pack(">i", len(xs)) + b"".join(struct.pack(">d", x) for x in xs)


def u64s(*xs):
    return struct.pack(">i", len(xs)) + b"".join(struct.pack(">Q", x) for x in xs)


def shapes(payload):
    return [bytes([s]) + payload for s in (0, 3, 0x08, 4, 5, 6, 7)]


def vec_arg(payload, shape=0, framing=0):
    return bytes([shape, framing]) + struct.pack(">H", len(payload)) + payload


SEEDS = {
    "lift_f64": shapes(f64s(1.5, -0.0)) + [
        b"\0" + f64s(), b"\0" + f64s(float("nan"), float("inf")),
        b"\0" + struct.pack(">i", 2) + bytes(15), b"\0" + bytes([0, 0, 0, 0, 1, 2, 3]),
        b"\0\xff\xff\xff\xff", b"\0\x7f\xff\xff\xff", b"\0\0\0"],
    "lift_u64": shapes(u64s(1, 2**64 - 1)) + [
        b"\0" + u64s(), b"\0" + struct.pack(">i", 1) + bytes(7), b"\0" + u64s(5) + b"\0"],
    "lift_bool": shapes(b"\0\0\0\2\1\0") + [
        b"\0\0\0\0\0", b"\0\0\0\0\2\1\2", b"\0\0\0\0\1\1\0", b"\0\x7f\xff\xff\xff\1", b"\0\xff\xff\xff\xfe"],
    "lift_string": shapes(b"hello") + [b"\0", b"\0" + "prix \u20ac".encode(), b"\3\xff\xfe\0"],
    "lift_swiss_mode": shapes(b"\0\0\0\2") + [
        b"\0\0\0\0\x09", b"\0\0\0\0\x0a", b"\0\0\0\0\0", b"\0\xff\xff\xff\xff", b"\0\0\0\0\2\0", b"\0\0\0\2",
        b"\0\0\0\0\0\0"],
    "batch": [
        b"\0" + struct.pack(">Q", 3) + vec_arg(f64s(1, 2, 3, 4)),
        b"\0" + struct.pack(">Q", 2**64 - 1) + vec_arg(f64s(1.0)),
        b"\0" + struct.pack(">Q", 3) + vec_arg(bytes(16), framing=1),
        b"\1" + struct.pack(">Q", 14) + vec_arg(f64s(3, 4, 5)) + vec_arg(f64s(1, 2, 3)) + vec_arg(f64s(2, 3)),
        b"\1" + struct.pack(">Q", 0) + vec_arg(f64s(3)) + vec_arg(f64s() + b"\1\2\3") + vec_arg(f64s(2), shape=5),
        b"\1" + struct.pack(">Q", 5) + vec_arg(bytes(40), framing=2) + vec_arg(bytes(40), framing=3)
        + vec_arg(b"", shape=4),
        b"\2" + struct.pack(">Q", 3) + vec_arg(f64s(5, 4, 6, 2, 7, 1, 1)) + vec_arg(f64s(1, 2, 0, 3, 0, 5, 5)),
        b"\2" + struct.pack(">Q", 70) + vec_arg(bytes(800), framing=1) + vec_arg(bytes(800), framing=1),
        b"\2" + struct.pack(">Q", 2) + vec_arg(f64s(1, 2)) + vec_arg(f64s(1), shape=5),
        b"\3" + vec_arg(f64s(3, 4)) + vec_arg(f64s(1, 2)) + vec_arg(f64s(2, 3)) + vec_arg(f64s(10, 20))
        + struct.pack(">QQ", 1, 2),
        b"\3" + vec_arg(f64s(3)) + vec_arg(f64s(1), shape=6) + vec_arg(f64s(2), shape=7) + vec_arg(f64s())
        + struct.pack(">QQ", 3, 10),
    ],
    "buffers": [
        b"\0" + struct.pack(">Q", 3) + b"\0abc",            # from_bytes, 3 bytes
        b"\0" + struct.pack(">Q", 2) + b"\1",                # null data, length 2
        b"\0" + struct.pack(">Q", 0xFFFFFFFF) + b"\0x",      # negative length
        b"\1\0\x10\x04abcd" + b"\1\2" + b"\1\3",              # free: alloc'd, null, dangling
        b"\1\3" + struct.pack(">QQ", 4, 5),                  # free: length beyond capacity
        b"\1\4" + struct.pack(">QQ", 0, 5) + b"\1\5" + struct.pack(">QQ", 3, 0),
        b"\2\0\x0a\x04abcd" + struct.pack(">Q", 6) + b"\0",   # reserve within capacity
        b"\2\1\x04abcd" + struct.pack(">Q", 7) + b"\1",       # reserve that grows
        b"\2\0\x08\x00" + struct.pack(">Q", 0) + b"\2",       # reserve that wraps
        b"\2\1\x01z" + struct.pack(">Q", 0) + b"\3",          # reserve at the signed limit
        b"\3" + struct.pack(">Q", 32) + b"\3" + struct.pack(">Q", 2**63),
    ],
    # class, instruction set, period (top bit: long), palette flag, values
    "kernels": [
        bytes([k, 0]) + struct.pack(">H", 5) + b"\0" + struct.pack(">10d", *range(10)) for k in range(17)
    ] + [
        bytes([k, 1]) + struct.pack(">H", 14) + b"\1" + bytes(range(16)) * 6 for k in range(17)
    ] + [
        bytes([2, 0]) + struct.pack(">H", 0x8000 | 2050) + b"\1" + bytes((i * 7) % 16 for i in range(4200)),
        bytes([11, 2]) + struct.pack(">H", 0x8000 | 20) + b"\1" + bytes((i * 5) % 13 for i in range(6300)),
    ],
}

for target, seeds in SEEDS.items():
    folder = ROOT / target
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.glob("seed-*"):
        old.unlink()
    for i, seed in enumerate(seeds):
        (folder / f"seed-{i:02d}").write_bytes(seed)

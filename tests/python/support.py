"""Shared helpers of the Python tests: the interface description, sample bars
and a comparison that is exact to the bit, NaN sign and payload included (or,
where asked, any NaN for a NaN)."""

import json
import math
import os
import pathlib
import random
import struct

import lumenfold_python as lf

BUILD = pathlib.Path(os.environ.get("LUMENFOLD_BUILD_DIR", pathlib.Path(__file__).parents[2] / "build"))
INTERFACE = json.loads((BUILD / "generated" / "interface.json").read_text())
LIBRARY = BUILD / "python" / "lumenfold_python" / "liblumenfold_python.so"
# Variables a sanitizer build of the library needs in every process that loads it.
SANITIZER_ENV = ("LD_PRELOAD", "PYTHONMALLOC", "ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS")


def ohlcv(n, seed=7):
    """A deterministic random walk of bars with consistent high/low."""
    rng = random.Random(seed)
    bars = {k: [] for k in ("open", "high", "low", "close", "volume")}
    price = 100.0
    for _ in range(n):
        o = price
        c = max(1.0, o + rng.gauss(0, 1.5))
        bars["open"].append(o)
        bars["close"].append(c)
        bars["high"].append(max(o, c) + rng.random())
        bars["low"].append(min(o, c) - rng.random())
        bars["volume"].append(float(rng.randint(1000, 5000)))
        price = c
    return bars


def series_for(arg_name, arg_type, bars, n):
    """The input series fed to a `next` argument, chosen by its name."""
    if arg_type == "bool":
        return [i % 7 == 0 for i in range(n)]
    key = arg_name if arg_name in bars else "close"
    return bars[key][:n]


def lend(*buffers):
    """Buffers the host made, handed to a raw call that consumes them: they
    stop being the host's to release."""
    for b in buffers:
        b.__class__ = lf._RustBuffer
    return buffers[0] if len(buffers) == 1 else buffers


def same(a, b, nans_alike=False):
    """Bit-exact equality of results, NaN sign and payload included, or with
    `nans_alike` every NaN equal to every NaN."""
    if isinstance(a, float) and isinstance(b, float):
        if nans_alike and (math.isnan(a) or math.isnan(b)):
            return math.isnan(a) and math.isnan(b)
        return struct.pack("<d", a) == struct.pack("<d", b)
    if isinstance(a, (list, tuple)) and isinstance(b, (list, tuple)):
        return len(a) == len(b) and all(same(x, y, nans_alike) for x, y in zip(a, b))
    if hasattr(a, "__dataclass_fields__") and type(a) is type(b):
        return all(same(getattr(a, f), getattr(b, f), nans_alike) for f in a.__dataclass_fields__)
    return a == b

"""One contract for every exported object that has a batch function, driven
by the interface description: streaming and batch give a NaN on the same bars
and the same bits on every other, also when the series is fed in chunks
through cloned handles and on edge series in every input position; degenerate
parameters and NaN inputs never crash; empty input gives empty output;
unequal input lengths pair to the shortest.
Objects without a batch function keep the parts that need none: cloned
handles advance one stream, and nothing crashes."""

import math
import struct
import unittest

import lumenfold_python as lf
from support import INTERFACE, ohlcv, same, series_for

N = 160
BARS = ohlcv(N)


def constructor_values(obj, zero=False):
    """The description's contract values; with `zero`, every count set to 0."""
    values = [0 if zero and t not in ("f64", "f32", "SwissMode") else v
              for v, (_, t) in zip(obj["test_new"], obj["new"])]
    return [lf.SwissMode(v) if t == "SwissMode" else v for v, (_, t) in zip(values, obj["new"])]


def inputs(obj, bars, n):
    return [series_for(name, t, bars, n) for name, t in obj["methods"][0]["args"]]


def batch_call(obj, ctor, columns):
    fn = getattr(lf, obj["batch"]["name"])
    by_name = {name: v for (name, _), v in zip(obj["new"], ctor)}
    cols = iter(columns)
    args = [next(cols) if t.startswith("vec<") else by_name[name] for name, t in obj["batch"]["args"]]
    return fn(*args)


def clone(py_obj):
    """A second Python object holding a cloned handle of the same library object."""
    cls = type(py_obj)
    other = cls.__new__(cls)
    getattr(lf, f"_clone_{cls.__name__.lower()}")(py_obj._h, lf._UNUSED)
    other._h = type(py_obj._h)(py_obj._h.value)  # a handle that owns the clone
    return other


def construct(obj, ctor):
    cls = getattr(lf, obj["name"])
    return cls(*ctor) if obj["constructor"] == "new" else getattr(cls, obj["constructor"])(*ctor)


def stream(obj, ctor, columns, chunk=None):
    first = construct(obj, ctor)
    handles = [first, clone(first)] if chunk else [first]
    rows = list(zip(*columns))
    out = []
    for i, row in enumerate(rows):
        owner = handles[(i // chunk) % 2] if chunk else first
        out.append(owner.next(*row))
    return out


def guarded(fn, *args):
    try:
        return fn(*args)
    except lf.LumenfoldError as e:  # a reported failure is fine; a crash is not
        return e


BATCHED = [o for o in INTERFACE["objects"] if o["batch"]]


def agree(streamed, batch):
    """Streaming and batch results agree: a NaN for a NaN (its sign and payload
    are the arithmetic's), every other value to the bit."""
    return same(streamed, batch, nans_alike=True)

STREAM_ONLY = [o for o in INTERFACE["objects"] if not o["batch"] and o["methods"]
               and o["methods"][0]["name"] == "next"]
NAN_BARS = {k: [math.nan if i % 11 == 3 else v for i, v in enumerate(col)] for k, col in BARS.items()}


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# Quiet NaNs of both signs, with and without payloads, and a signalling NaN.
NANS = [from_bits(b) for b in (0x7FF8000000000000, 0xFFF8000000000000, 0x7FF800000000ABCD, 0xFFF800000000ABCD,
                               0x7FF0000000000001)]
INF = math.inf
EDGE_LEN = 40


def edge(kind, col, c):
    """One input's series made an edge case; `c`, the input's position,
    shifts where the special values fall."""
    out = list(col)
    for i in range(len(out)):
        if kind == "NaN holes" and (i + 3 * c) % 6 == 0:
            out[i] = math.nan
        elif kind == "NaNs of both signs and payloads" and (i + c) % 4 == 1:
            out[i] = NANS[(i // 4) % 5]
        elif kind == "infinities" and (i + c) % 5 == 1:
            out[i] = INF if i % 10 < 5 else -INF
        elif kind == "ties and signed zeros":
            out[i] = [1.0, 2.0, 0.0, -0.0, 2.0, 1.0, 3.5][(3 * i + c) % 7]
        elif kind == "huge and tiny":
            out[i] = [out[i] * 1e300, out[i] * 1e-300, 1.7976931348623157e308, 5e-324, -out[i] * 1e300][(i + c) % 5]
        elif kind == "all of them" and (2 * i + c) % 3 == 1:
            out[i] = [math.nan, INF, -0.0, NANS[1], -INF, 0.0, 1e308, NANS[2]][(i + c) % 8]
    return out


EDGE_KINDS = ("NaN holes", "NaNs of both signs and payloads", "infinities", "ties and signed zeros",
              "huge and tiny", "all of them")


class Contract(unittest.TestCase):
    def test_streaming_equals_batch(self):
        for obj in BATCHED:
            with self.subTest(obj["name"]):
                ctor = constructor_values(obj)
                cols = inputs(obj, BARS, N)
                expected = batch_call(obj, ctor, cols)
                self.assertEqual(len(expected), N)
                self.assertTrue(agree(stream(obj, ctor, cols), expected))

    def test_chunked_through_cloned_handles(self):
        for obj in BATCHED:
            ctor = constructor_values(obj)
            cols = inputs(obj, BARS, 60)
            expected = batch_call(obj, ctor, cols)
            for chunk in (1, 2, 3, 7, 13, 60):
                with self.subTest(obj["name"], chunk=chunk):
                    self.assertTrue(agree(stream(obj, ctor, cols, chunk), expected))

    def test_streaming_equals_batch_on_edge_series(self):
        for obj in BATCHED:
            ctor = constructor_values(obj)
            clean = inputs(obj, BARS, EDGE_LEN)
            positions = [c for c, col in enumerate(clean) if isinstance(col[0], float)]
            for kind in EDGE_KINDS:
                for where in [[c] for c in positions] + ([positions] if len(positions) > 1 else []):
                    with self.subTest(obj["name"], kind=kind, inputs=where):
                        cols = [edge(kind, col, c) if c in where else col for c, col in enumerate(clean)]
                        batch = guarded(batch_call, obj, ctor, cols)
                        streamed = guarded(stream, obj, ctor, cols)
                        if isinstance(batch, Exception) or isinstance(streamed, Exception):
                            self.assertEqual(repr(streamed), repr(batch))
                            continue
                        self.assertTrue(agree(streamed, batch))

    def test_empty_and_unequal_lengths(self):
        for obj in BATCHED:
            with self.subTest(obj["name"]):
                ctor = constructor_values(obj)
                cols = inputs(obj, BARS, 0)
                self.assertEqual(batch_call(obj, ctor, cols), [])
                cols = inputs(obj, BARS, 40)
                full = batch_call(obj, ctor, cols)
                ragged = [c[: 40 - 7 * i] for i, c in enumerate(cols)]
                shortest = min(len(c) for c in ragged)
                self.assertTrue(same(batch_call(obj, ctor, ragged), full[:shortest]))

    def test_degenerate_parameters_and_nan_never_crash(self):
        for obj in BATCHED:
            for zero, bars in ((True, BARS), (False, NAN_BARS), (True, NAN_BARS)):
                with self.subTest(obj["name"], zero=zero):
                    ctor = constructor_values(obj, zero)
                    cols = inputs(obj, bars, 50)
                    batch = guarded(batch_call, obj, ctor, cols)
                    streamed = guarded(stream, obj, ctor, cols)
                    if isinstance(batch, Exception) or isinstance(streamed, Exception):
                        # Both ways fail alike, or neither does.
                        self.assertEqual(repr(streamed), repr(batch))
                    else:
                        self.assertTrue(agree(streamed, batch))

    def test_stream_only_objects(self):
        for obj in STREAM_ONLY:
            ctor = constructor_values(obj)
            cols = inputs(obj, BARS, N)
            expected = stream(obj, ctor, cols)
            self.assertEqual(len(expected), N)
            for chunk in (1, 3, 13):
                with self.subTest(obj["name"], chunk=chunk):
                    self.assertTrue(same(stream(obj, ctor, cols, chunk), expected))
            for zero, bars in ((True, BARS), (False, NAN_BARS), (True, NAN_BARS)):
                with self.subTest(obj["name"], zero=zero):
                    guarded(stream, obj, constructor_values(obj, zero), inputs(obj, bars, 50))


if __name__ == "__main__":
    unittest.main()

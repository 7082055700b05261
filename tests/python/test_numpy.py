"""NumPy arrays and scalars as arguments: run under an interpreter that has
NumPy (CMake's LUMENFOLD_NUMPY_PYTHON), so that without it this fails."""

import array
import math
import struct
import subprocess
import sys
import unittest
import warnings

import numpy

import lumenfold_python as lf
from support import ohlcv, same


class NumpyArguments(unittest.TestCase):
    def test_float64_arrays_in_any_layout(self):
        xs = [v + (i % 13) for i, v in enumerate(ohlcv(6000)["close"])]
        xs[5], xs[77] = -0.0, struct.unpack("<d", struct.pack("<Q", 0x7FF8DEADBEEF0001))[0]
        expected = lf.sma(20, xs)
        a = numpy.array(xs)
        interleaved = numpy.repeat(a, 2)
        for value in (a, numpy.array(xs, dtype=">f8"), interleaved[::2], a[::-1][::-1],
                      numpy.asfortranarray(a), numpy.array(xs[::-1])[::-1]):
            self.assertTrue(same(lf.sma(20, value), expected), (value.dtype, value.strides))
        self.assertTrue(same(lf.ema(10, a[77:78]), [xs[77]]), "a value passed through keeps its bits")
        self.assertTrue(same(a.tolist(), xs), "the caller's array is not modified")
        bars = ohlcv(3000)
        cols = [numpy.array(bars[k]) for k in ("high", "low", "close")]
        self.assertTrue(same(lf.atr(14, *cols), lf.atr(14, bars["high"], bars["low"], bars["close"])))
        self.assertIs(type(lf.sma(3, a[:3])[0]), float)

    def test_other_arrays_are_converted_as_their_numbers(self):
        values = [1, 2, 3, 250, 7]
        for dtype in ("f4", "i8", "u1", "i2", ">i4"):
            self.assertEqual(lf.sma(2, numpy.array(values, dtype=dtype)), lf.sma(2, values), dtype)
        self.assertEqual(lf.chain_pcr(numpy.array([1, 2]), numpy.array([3, 4], dtype="u4")),
                         lf.chain_pcr([1, 2], [3, 4]))
        with self.assertRaises(TypeError) as ctx:
            lf.sma(2, numpy.zeros((2, 2)))
        self.assertEqual(str(ctx.exception),
                         "sma(): argument 'series' must be a sequence of numbers, not a 2-dimensional ndarray")

    def test_other_real_arrays_are_cast_whole_value_for_value(self):
        # Cast by NumPy, never read item by item: a subclass that refuses to
        # be iterated is read all the same. Every value comes out as float()
        # makes it from the same value in a list, NaN payloads included.
        class Uniterable(numpy.ndarray):
            def __iter__(self):
                raise AssertionError("read item by item")
        rng = numpy.random.default_rng(5)
        halves = numpy.arange(2**16, dtype="u2").view("f2")
        singles = rng.integers(0, 2**32, 20000, dtype="u4")
        singles[:4] = [0x7F800001, 0xFFC00001, 0x7FBFFFFF, 0x80000001]  # signalling and quiet NaNs, a subnormal
        cases = [halves, singles.view("f4"), singles.view(">f4"),
                 numpy.array([2**63 - 1, -2**63, 2**53 + 1, -(2**53 + 3), 2**62 + 2**9 + 1, 0]),
                 numpy.array([2**64 - 1, 2**63 + 1025, 2**63 + 1024, 2**53 + 1], dtype="u8"),
                 rng.integers(-2**31, 2**31, 9000, dtype="i4")[::-3], numpy.array([True, False, True]),
                 rng.integers(0, 256, 20000, dtype="u1"), numpy.array([-7, 3, 120], dtype=">i2")]
        with warnings.catch_warnings():
            warnings.simplefilter("error")  # nor is a signalling NaN warned of
            for values in cases:
                expected = [lf.wma(1, values.tolist()), lf.sma(20, values.tolist())]
                for given in (values, values.view(Uniterable)):
                    self.assertTrue(same([lf.wma(1, given), lf.sma(20, given)], expected), (values.dtype, type(given)))
            for i in range(4):  # a value passed through keeps the bits float() gives it
                self.assertTrue(same(lf.ema(3, singles.view("f4")[i:i + 1]), [float(singles.view("f4")[i])]))
        self.assertTrue(same(lf.obv(numpy.arange(5.0), memoryview(array.array("q", [9, 2**60 + 1, 3, 4, 5]))[::2]),
                             lf.obv([0.0, 1.0, 2.0], [9, 3, 5])))

    def test_the_module_never_imports_numpy(self):
        code = ("import array, sys, lumenfold_python as lf\n"
                "assert lf.sma(2, array.array('i', [1, 3])) == [1.0, 2.0]\n"
                "assert 'numpy' not in sys.modules, 'NumPy was imported'")
        subprocess.run([sys.executable, "-c", code], check=True)

    def test_complex_and_datetime_arrays_are_refused_by_their_dtype(self):
        series = "sma(): argument 'series' must be a sequence of numbers, not "
        cases = [(numpy.array([1 + 2j, 3 + 0j]), "a buffer of complex numbers (ndarray)"),
                 (numpy.array([1j, 2j, 3j], dtype=">c8")[::2], "a buffer of complex numbers (ndarray)"),
                 (numpy.array(["2024-01-01", "2024-01-02"], dtype="M8[D]"), "a ndarray of dtype datetime64[D]"),
                 (numpy.array([1, 2], dtype="m8[s]"), "a ndarray of dtype timedelta64[s]"),
                 (numpy.zeros((2, 2), dtype="M8[s]"), "a 2-dimensional ndarray")]
        for values, what in cases:
            with self.assertRaises(TypeError) as ctx:
                lf.sma(2, values)
            self.assertEqual(str(ctx.exception), series + what)

    def test_a_masked_array_is_refused_whatever_its_dtype(self):
        # Its buffer holds the values masked out, which would be read as data.
        for values, call in (([1.0, 99.0, 3.0], lambda a: lf.sma(1, a)), ([1, 99, 3], lambda a: lf.sma(1, a)),
                             ([1, 2, 3], lambda a: lf.chain_pcr(a, [1, 1, 1])),
                             ([True, False, True], lambda a: lf.anchored_vwap([1.0] * 3, [1.0] * 3, a))):
            with self.assertRaisesRegex(TypeError, r"argument '\w+' must be a sequence of \w+, not a masked array"):
                call(numpy.ma.masked_array(values, mask=[0, 1, 0]))
        filled = numpy.ma.filled(numpy.ma.masked_array([1.0, 99.0, 3.0], mask=[0, 1, 0]), numpy.nan)
        self.assertTrue(same(lf.sma(1, filled), [1.0, math.nan, math.nan], nans_alike=True))

    def test_scalars(self):
        self.assertEqual(lf.sma(2, [numpy.float64(1.5), numpy.int64(2), numpy.float32(0.5)]), [1.5, 1.75, 1.25])
        self.assertEqual(lf.sma(2, iter([numpy.float64(1.5), numpy.int64(2)])), [1.5, 1.75])
        self.assertEqual(lf.Ema(numpy.uint64(3)).next(numpy.float64(2.5)), 2.5)
        for flag in (numpy.True_, numpy.False_):
            self.assertEqual(lf.bs_delta(100, 95, 0.05, 0.5, 0.2, flag),
                             lf.bs_delta(100, 95, 0.05, 0.5, 0.2, bool(flag)))
        self.assertEqual(lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], numpy.array([True, False])),
                         lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], [True, False]))
        with self.assertRaises(TypeError):
            lf.bs_delta(100, 95, 0.05, 0.5, 0.2, numpy.int64(1))


if __name__ == "__main__":
    unittest.main()

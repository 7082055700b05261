"""pandas objects as arguments: run under an interpreter that has pandas
(CMake's LUMENFOLD_NUMPY_PYTHON), so that without it this fails. A Series or
Index is read as the array it holds; a DataFrame, however many columns it
has, is refused rather than read as its column labels."""

import math
import re
import unittest
import weakref

import numpy
import pandas

import lumenfold_python as lf
from support import ohlcv, same

TABLE = "must be a sequence of {}, not a 2-dimensional DataFrame: pass one column, as df['close']"


class PandasArguments(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.bars = ohlcv(3000)
        cls.bars["close"][17] = math.nan
        cls.index = pandas.date_range("2024-01-01", periods=3000, freq="min")

    def test_a_series_gives_what_the_same_values_as_a_list_give(self):
        bars, index = self.bars, self.index
        close = bars["close"]
        for series in (pandas.Series(close), pandas.Series(close, index=index), pandas.Index(close),
                       pandas.DataFrame(bars, index=index)["close"]):
            self.assertTrue(same(lf.sma(20, series), lf.sma(20, close)), type(series))
        hlc = [bars[k] for k in ("high", "low", "close")]
        # Columns of a table built from one array are strided views of it.
        table = pandas.DataFrame(numpy.c_[tuple(hlc)], index=index)
        expected = lf.atr(14, *hlc)
        self.assertTrue(same(lf.atr(14, *(pandas.Series(c, index=index) for c in hlc)), expected))
        self.assertTrue(same(lf.atr(14, table[0], table[1], table[2]), expected))
        ints, flags = [3, 1, 4, 1, 5, 9, 2, 6], [True, False, False, True, False, True, True, False]
        for values in (ints, flags):
            self.assertEqual(lf.sma(3, pandas.Series(values, index=index[:8])), lf.sma(3, values))
        self.assertEqual(lf.sma(3, pandas.Series(ints, dtype="Int64")), lf.sma(3, ints))
        self.assertEqual(lf.chain_pcr(pandas.Series(ints, index=index[:8]), pandas.Series(ints[::-1], dtype="uint32")),
                         lf.chain_pcr(ints, ints[::-1]))
        vwap = ([1.0 + i for i in range(8)], [2.0] * 8)
        self.assertEqual(lf.anchored_vwap(*vwap, pandas.Series(flags, index=index[:8])), lf.anchored_vwap(*vwap, flags))
        self.assertEqual(lf.sma(3, pandas.Series([], dtype="float64")), [])
        # An int64 volume column, with values a double cannot hold exactly: rounded as float() rounds them.
        volume = [int(v) for v in bars["volume"]]
        volume[5:9] = [2**53 + 1, 2**63 - 1, -2**63, 2**62 + 2**9 + 1]
        self.assertTrue(same(lf.obv(pandas.Series(close, index=index), pandas.Series(volume, index=index)),
                             lf.obv(close, volume)))

    def test_a_dataframe_is_refused_naming_the_argument(self):
        bars = self.bars
        labelled = pandas.DataFrame(numpy.c_[bars["high"], bars["low"], bars["close"]])  # labels 0, 1, 2
        named = pandas.DataFrame({"close": bars["close"]})
        for table in (labelled, labelled[[2]], named):
            with self.assertRaises(TypeError) as ctx:
                lf.sma(3, table)
            self.assertEqual(str(ctx.exception), "sma(): argument 'series' " + TABLE.format("numbers"))
        with self.assertRaises(TypeError) as ctx:
            lf.atr(14, labelled[[0]], labelled[[1]], labelled[[2]])
        self.assertEqual(str(ctx.exception), "atr(): argument 'high' " + TABLE.format("numbers"))
        with self.assertRaises(TypeError) as ctx:
            lf.chain_pcr([1, 2], pandas.DataFrame({0: [5, 6]}))
        self.assertEqual(str(ctx.exception), "chain_pcr(): argument 'pe_oi' " + TABLE.format("integers"))
        with self.assertRaises(TypeError) as ctx:
            lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], pandas.DataFrame({"anchor": [True, False]}))
        self.assertEqual(str(ctx.exception), "anchored_vwap(): argument 'anchor' " + TABLE.format("booleans"))

    def test_dates_times_and_complex_numbers_are_refused_by_their_dtype(self):
        # A TypeError, as for the same values in a list; a table as a table, whatever its columns hold.
        index = self.index[:3]
        frame = pandas.DataFrame({"when": index, "close": [1.0, 2.0, 3.0]}, index=index)
        numbers, table = "must be a sequence of numbers, not ", TABLE.format("numbers")
        cases = [
            (lambda: lf.sma(3, pandas.Series(index)), "sma", numbers + "a Series of dtype datetime64[ns]"),
            (lambda: lf.sma(3, frame.index), "sma", numbers + "a DatetimeIndex of dtype datetime64[ns]"),
            (lambda: lf.atr(3, frame.close, frame.close, frame.when - index[0]), "atr",
             numbers + "a Series of dtype timedelta64[ns]"),
            (lambda: lf.chain_pcr(pandas.Series(index), [1, 2, 3]), "chain_pcr",
             "must be a sequence of integers, not a Series of dtype datetime64[ns]"),
            (lambda: lf.sma(3, pandas.Series([1 + 2j, 3])), "sma", numbers + "a buffer of complex numbers (Series)"),
            (lambda: lf.sma(3, frame[["when"]]), "sma", table),
            (lambda: lf.sma(3, frame), "sma", table),
            (lambda: lf.sma(3, pandas.DataFrame({"z": [1j, 2j]})), "sma", table),
        ]
        for call, label, message in cases:
            with self.assertRaisesRegex(TypeError, rf"^{label}\(\): argument '\w+' {re.escape(message)}$"):
                call()
        with self.assertRaisesRegex(TypeError, "item 0 is Timestamp$"):
            lf.sma(3, list(index))

    def test_what_array_returns_must_be_an_array(self):
        frame = pandas.DataFrame({"close": self.bars["close"][:50]})

        class Wrap:
            def __array__(self):
                return frame
        with self.assertRaisesRegex(TypeError, r"^sma\(\): argument 'series' must be a sequence of numbers, but "
                                               r"Wrap\.__array__\(\) returned DataFrame, which exposes no buffer$"):
            lf.sma(2, Wrap())
        # A proxy forwards __array__: read as what it stands for.
        self.assertTrue(same(lf.sma(2, weakref.proxy(frame["close"])), lf.sma(2, self.bars["close"][:50])))
        with self.assertRaisesRegex(TypeError, "not a 2-dimensional ProxyType$"):
            lf.sma(2, weakref.proxy(frame))

    def test_what_arrays_refuse_stays_refused(self):
        index = self.index[:3]
        refused = [
            (TypeError, lambda: lf.sma(2, pandas.Series([1.0, pandas.NA, 2.0], dtype="Float64"))),
            (TypeError, lambda: lf.chain_pcr(pandas.Series([1, pandas.NA], dtype="Int64"), [1, 2])),
            (TypeError, lambda: lf.sma(2, pandas.Series(["1", "2", "3"]))),
            (TypeError, lambda: lf.sma(2, pandas.Series(index.tz_localize("UTC")))),
            (TypeError, lambda: lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], pandas.Series([1, 0]))),
            (ValueError, lambda: lf.chain_pcr(pandas.Series([-1, 2]), [1, 2])),
        ]
        for error, call in refused:
            with self.assertRaisesRegex(error, r"^\w+\(\): argument '\w+'"):
                call()


if __name__ == "__main__":
    unittest.main()

"""The options functions through the host: the flag byte of the call/put
functions, optional results, the string argument and result, and a failed
length rule reported with the library's message."""

import ctypes
import math
import unittest

import lumenfold_python as lf
from support import lend


def raw_call(fn, *args):
    """Calls an entry point directly; returns (result, status)."""
    st = lf._RustCallStatus()
    return fn(*args, ctypes.byref(st)), st


def message(st):
    """The error message of a failed call (the status is cleared)."""
    try:
        lf._raise_status(st)
    except lf.LumenfoldError as e:
        return str(e)
    return None


SPOT = [ctypes.c_double(v) for v in (100.0, 100.0, 0.05, 1.0, 0.2)]


class CallFlag(unittest.TestCase):
    def test_only_the_bytes_0_and_1_are_accepted(self):
        for fn in (lf._fn_func_bs_delta, lf._fn_func_bs_theta, lf._fn_func_bs_rho):
            for byte, ok in ((0, True), (1, True), (2, False), (-1, False)):
                result, st = raw_call(fn, *SPOT, ctypes.c_int8(byte))
                self.assertEqual(st.code == 0, ok, (fn, byte))
                if not ok:
                    self.assertEqual(message(st), "Failed to convert arg 'is_call':\nunexpected byte for Boolean")
        _, st = raw_call(lf._fn_func_implied_vol, ctypes.c_double(10.0), *SPOT[:4], ctypes.c_int8(2))
        self.assertEqual(message(st), "Failed to convert arg 'is_call':\nunexpected byte for Boolean")

    def test_calls_and_puts_differ(self):
        self.assertAlmostEqual(lf.bs_delta(100, 100, 0.05, 1, 0.2, True), 0.63683065117561907, places=14)
        self.assertAlmostEqual(lf.bs_delta(100, 100, 0.05, 1, 0.2, False), -0.36316934882438093, places=14)

    def test_functions_that_cannot_fail_leave_the_status_alone(self):
        st = lf._RustCallStatus()
        st.code = 5
        self.assertEqual(lf._fn_func_bs_vega(*SPOT, ctypes.byref(st)), lf.bs_vega(100, 100, 0.05, 1, 0.2))
        self.assertEqual(lf._fn_func_nse_risk_free_rate(ctypes.byref(st)), 0.065)
        self.assertEqual(st.code, 5)


class OptionalResults(unittest.TestCase):
    def test_implied_vol(self):
        price = lf.bs_call_price(100, 100, 0.05, 1, 0.2)
        self.assertAlmostEqual(lf.implied_vol(price, 100, 100, 0.05, 1, True), 0.2, places=14)
        self.assertIsNone(lf.implied_vol(price, 100, 100, 0.05, 0, True))
        self.assertIsNone(lf.implied_vol(100.0, 100, 100, 0.05, 1, True))
        self.assertEqual(lf.implied_vol(0.0, 100, 150, 0.05, 1, True), 0.0)
        self.assertTrue(math.isnan(lf.implied_vol(math.nan, 100, 100, 0.05, 1, True)))

    def test_flip_strike_and_lot_size(self):
        self.assertEqual(lf.gex_flip_strike([100, 110, 120], [-5, 3, 4]), 100.0)
        self.assertIsNone(lf.gex_flip_strike([100, 110, 120], [-5, 0, 4]))
        self.assertEqual(lf.nse_lot_size("BankNifty"), 15)
        self.assertIsNone(lf.nse_lot_size(""))


class Strings(unittest.TestCase):
    def test_symbol_argument(self):
        self.assertEqual(lf.nse_lot_size("\ufb01nnifty"), 40)
        self.assertEqual(lf.nse_lot_size("n\u0131fty"), 50)
        self.assertIsNone(lf.nse_lot_size(" NIFTY"))

    def test_invalid_utf8_is_absent_not_a_failure(self):
        for raw in (b"NIFTY\xff", b"\xc4", b"\xed\xa0\x80"):
            buf = lend(lf._buffer_of(bytearray(raw)))
            result, st = raw_call(lf._fn_func_nse_lot_size, buf)
            self.assertEqual(st.code, 0)
            self.assertEqual(lf._take_buffer(result), b"\x00")

    def test_moneyness_label(self):
        self.assertEqual([lf.moneyness(100, k) for k in (99.79, 99.8, 100.2, 100.21)], ["ITM", "ATM", "ATM", "OTM"])
        self.assertEqual(lf.moneyness(math.nan, 100), "ATM")


class Chains(unittest.TestCase):
    def test_records(self):
        self.assertEqual(lf.gex_per_strike(100, [100], [0.01], [0.02], [1000], [500], 50),
                         [lf.GexResult(ce_gex=500.0, pe_gex=-500.0, net_gex=0.0)])
        self.assertEqual(lf.oi_zones([100, 110, 120], [5, 9, 5], [1, 2, 3], 2),
                         lf.OIZonesResult(resistance_strikes=[110.0, 100.0], support_strikes=[120.0, 110.0]))
        self.assertEqual(lf.atm_straddle(102.5, [100, 105], [4, 2], [1, 3]),
                         lf.StraddleResult(atm_strike=100.0, straddle_premium=5.0, implied_move_pct=5 / 102.5 * 100))

    def test_short_vector_fails_the_call(self):
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf.synthetic_futures([100, 110], [7], [2, 3])
        self.assertEqual(str(ctx.exception), "index out of bounds: the len is 1 but the index is 1")
        with self.assertRaises(lf.LumenfoldError):
            lf.max_pain([90, 110], [], [5, 5], 1)


if __name__ == "__main__":
    unittest.main()

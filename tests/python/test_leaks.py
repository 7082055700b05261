"""Ownership across the boundary on the paths that end early: whatever the
host or the library allocated for a call is released however the call ends,
and every object is freed once its last holder lets go. The sanitizer build
runs these under the leak checker, which fails the run on any block left
behind; every build checks the failures themselves."""

import ctypes
import gc
import struct
import unittest

import lumenfold_python as lf


def raw_status():
    return lf._RustCallStatus()


class FailedCalls(unittest.TestCase):
    def test_host_conversion_fails_after_earlier_vectors(self):
        with self.assertRaises(TypeError):
            lf.adosc([1.0, 2.0], [1.0, 2.0], ["x"], [1.0, 2.0], 3, 10)
        with self.assertRaises(ValueError):
            lf.adosc([1.0], [1.0], [1.0], [1.0], 3, -10)

    def test_library_rejects_a_middle_argument(self):
        # Three library buffers, the second one short: the library consumes
        # all three and names the second.
        good = lf._vec_f64([1.0, 2.0], "high")
        short = bytearray(struct.pack(">i", 1))
        bufs = lf._buffers(good, short, good)
        st = raw_status()
        out = lf._fn_func_atr(ctypes.c_uint64(3), *bufs, ctypes.byref(st))
        self.assertEqual(out.len, 0)
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf._raise_status(st)
        self.assertEqual(str(ctx.exception),
                         "Failed to convert arg 'low':\nnot enough bytes remaining in buffer (0 < 8)")

    def test_buffer_rule_violation_consumes_the_valid_arguments(self):
        # The middle argument breaks the buffer rule: it is not the library's
        # to free, but the two valid ones are released.
        good = lf._vec_f64([1.0], "high")
        first, last = lf._buffers(good, good)
        st = raw_status()
        lf._fn_func_atr(ctypes.c_uint64(3), first, lf._RustBuffer(4, 0, None), last, ctypes.byref(st))
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf._raise_status(st)
        self.assertEqual(str(ctx.exception), "null RustBuffer had non-zero capacity")

    def test_constructor_failure_after_the_vectors_were_lifted(self):
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf.sma(2**64 - 1, [1.0, 2.0])
        self.assertEqual(str(ctx.exception), "capacity overflow")


class Objects(unittest.TestCase):
    def test_record_results_and_objects_are_released(self):
        for _ in range(50):
            a = lf.Aroon(5)
            for i in range(20):
                a.next(float(i), float(-i))
        self.assertEqual(len(lf.aroon(5, [1.0] * 30, [0.5] * 30)), 30)

    def test_last_holder_frees_a_cloned_object(self):
        first = lf.Sma(3)
        second = lf.Sma.__new__(lf.Sma)
        lf._clone_sma(first._h, lf._UNUSED)
        second._h = ctypes.c_uint64(first._h.value)
        del first
        gc.collect()
        self.assertEqual(second.next(4.0), 4.0)
        del second

    def test_method_call_consumes_a_raw_clone(self):
        obj = lf.Ema(3)
        for x in (1.0, 2.0):
            lf._clone_ema(obj._h, lf._UNUSED)
            st = raw_status()
            lf._fn_method_ema_next(obj._h, ctypes.c_double(x), ctypes.byref(st))
            self.assertEqual(st.code, 0)
        self.assertEqual(obj.next(2.0), 2.0 * 0.5 + 1.5 * 0.5)


if __name__ == "__main__":
    unittest.main()

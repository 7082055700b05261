"""Boundary behaviour of the channel-family objects that the generic contract
cannot see: bool arguments refused unless 0 or 1, and a volume profile whose
bins cannot be allocated failing the call instead of the process."""

import ctypes
import struct
import unittest

import lumenfold_python as lf
from support import lend

BAD_BOOL = "Failed to convert arg 'anchor':\nunexpected byte for Boolean"


def f64_vector(values):
    return bytearray(struct.pack(">i%dd" % len(values), len(values), *values))


class AnchorFlag(unittest.TestCase):
    def test_method_refuses_other_bytes(self):
        vwap = lf.AnchoredVwap()
        for byte in (2, -1, 127):
            lf._clone_anchoredvwap(vwap._h, lf._UNUSED)
            st = lf._RustCallStatus()
            lf._fn_method_anchoredvwap_next(vwap._h, ctypes.c_double(10.0), ctypes.c_double(2.0),
                                            ctypes.c_int8(byte), ctypes.byref(st))
            with self.assertRaises(lf.LumenfoldError) as ctx:
                lf._raise_status(st)
            self.assertEqual(str(ctx.exception), BAD_BOOL)
        # A refused argument never reached the object: it still runs, unpoisoned.
        self.assertEqual(vwap.next(10.0, 2.0, False), 10.0)
        self.assertEqual(vwap.next(20.0, 2.0, True), 20.0)

    def test_batch_refuses_other_bytes(self):
        st = lf._RustCallStatus()
        bufs = lend(*lf._buffers(f64_vector([1.0, 2.0]), f64_vector([1.0, 1.0]),
                                 bytearray(b"\x00\x00\x00\x02\x01\x02")))
        lf._fn_func_anchored_vwap(*bufs, ctypes.byref(st))
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf._raise_status(st)
        self.assertEqual(str(ctx.exception), BAD_BOOL)
        self.assertEqual(lf.anchored_vwap([10, 20, 30, 40], [2, 2, 1], [False, False, True, False, True]),
                         [10.0, 15.0, 30.0])


class VolumeProfileBins(unittest.TestCase):
    def test_unallocatable_bins_fail_the_call(self):
        for bins, message in ((2**62, "capacity overflow"), (2**44, "memory allocation failed")):
            with self.subTest(bins=bins):
                with self.assertRaises(lf.LumenfoldError) as ctx:
                    lf.volumeprofile([1.0, 2.0], [1.0, 1.0], 5, bins)
                self.assertEqual(str(ctx.exception), message)
                vp = lf.VolumeProfile(5, bins)
                self.assertEqual(vp.next(1.0, 1.0).poc, 1.0)  # a flat window needs no bins
                with self.assertRaises(lf.LumenfoldError) as ctx:
                    vp.next(2.0, 1.0)
                self.assertEqual(str(ctx.exception), message)


if __name__ == "__main__":
    unittest.main()

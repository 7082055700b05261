"""Spectral rows at the boundary: a spectrum wider than a serialized vector can
count is refused with its length; one too wide to be sized fails as its step
does, once there is a bar."""

import unittest

import lumenfold_python as lf


class WideSpectrum(unittest.TestCase):
    def test_refused_rows(self):
        for bounds, message in (((1, 2**32), "vector too long to serialize: 4294967296 elements"),
                                ((20, 18), "capacity overflow")):
            with self.subTest(bounds=bounds):
                with self.assertRaises(lf.LumenfoldError) as ctx:
                    lf.griffithsspectrum(*bounds, 5, [1.0])
                self.assertEqual(str(ctx.exception), message)
        self.assertEqual(lf.griffithsspectrum(20, 18, 5, []), [])


if __name__ == "__main__":
    unittest.main()

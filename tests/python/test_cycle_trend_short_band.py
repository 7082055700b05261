"""Boundary behaviour of cycle and trend analytics that the generic contract
cannot see: a band too short for its record fails every call with the bounds
message and never poisons the object; the batch fails the same way."""

import unittest

import lumenfold_python as lf

ONE = "index out of bounds: the len is 1 but the index is 1"
NONE = "index out of bounds: the len is 0 but the index is 0"


class ShortBand(unittest.TestCase):
    def test_every_call_fails_with_the_bounds_message(self):
        for lengths, message in (((6, 6), ONE), ((6, 5), NONE)):
            with self.subTest(lengths=lengths):
                obj = lf.CycleTrendAnalytics(*lengths)
                for _ in range(3):
                    with self.assertRaises(lf.LumenfoldError) as ctx:
                        obj.next(1.0)
                    self.assertEqual(str(ctx.exception), message)
                with self.assertRaises(lf.LumenfoldError) as ctx:
                    lf.cycletrendanalytics([1.0, 2.0], *lengths)
                self.assertEqual(str(ctx.exception), message)
                self.assertEqual(lf.cycletrendanalytics([], *lengths), [])

    def test_record_holds_the_two_shortest_lengths(self):
        out = lf.cycletrendanalytics([1.0, 2.0, 3.0], 2, 3)
        self.assertEqual([(r.cycle, r.trend) for r in out], [(0.0, 0.0), (0.5, 0.5), (0.5, 1.0)])


if __name__ == "__main__":
    unittest.main()

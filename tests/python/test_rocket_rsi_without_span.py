"""A Rocket RSI without a momentum span at the boundary: its first step
fails, and the object stays poisoned."""

import unittest

import lumenfold_python as lf

POISONED = "called `Result::unwrap()` on an `Err` value: PoisonError { .. }"


class RocketRsiWithoutSpan(unittest.TestCase):
    def test_first_step_fails_then_the_object_is_poisoned(self):
        r = lf.RocketRsi(0, 10)
        with self.assertRaises(lf.LumenfoldError) as ctx:
            r.next(1.0)
        self.assertEqual(str(ctx.exception), "index out of bounds")
        for x in (1.0, 2.0):
            with self.assertRaises(lf.LumenfoldError) as ctx:
                r.next(x)
            self.assertEqual(str(ctx.exception), POISONED)
        self.assertEqual(lf.RocketRsi(3, 10).next(1.0), 0.0)

    def test_batch(self):
        self.assertEqual(lf.rocketrsi(0, 10, []), [])
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf.rocketrsi(0, 10, [1.0, 2.0])
        self.assertEqual(str(ctx.exception), "index out of bounds")

    def test_windows_too_large_fail_their_constructor(self):
        for make in (lambda: lf.RocketRsi(2**64 - 2, 5), lambda: lf.Rsih(2**64 - 1), lambda: lf.Reflex(2**64 - 2)):
            with self.assertRaises(lf.LumenfoldError):
                make()


if __name__ == "__main__":
    unittest.main()

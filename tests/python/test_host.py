"""The generated host module end to end: the moving averages streamed and
batch-computed, records and the enum, errors carrying the library's message,
and refusal of a library that does not match."""

import array
import collections.abc
import copy
import ctypes
import decimal
import gc
import itertools
import math
import os
import pathlib
import pickle
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import typing
import unittest
import weakref

import lumenfold_python as lf
from support import BUILD, LIBRARY, SANITIZER_ENV, lend, ohlcv, same


class SubList(list):
    pass


class SubTuple(tuple):
    pass


class MovingAverages(unittest.TestCase):
    def test_worked_values(self):
        self.assertEqual(lf.sma(3, [1, 2, 3, 4]), [1, 1.5, 2, 3])
        self.assertEqual(lf.wma(3, [1, 2, 3, 4]), [1, 5 / 3, 14 / 6, 20 / 6])
        self.assertEqual(lf.ema(10, [5, 16]), [5, 16 * (2 / 11) + 5 * (1 - 2 / 11)])
        self.assertAlmostEqual(lf.ema(10, [5, 16])[1], 7.0, places=12)

    def test_streaming_equals_batch(self):
        xs = [math.sin(i / 3) * 10 + i for i in range(200)]
        for cls, fn in ((lf.Sma, lf.sma), (lf.Ema, lf.ema), (lf.Wma, lf.wma)):
            obj = cls(14)
            self.assertEqual([obj.next(x) for x in xs], fn(14, xs), cls.__name__)

    def test_a_value_passed_through_keeps_its_bits(self):
        # Ema's first output is its input: every pattern comes back as it went
        # in, NaN payloads and a signalling NaN included.
        patterns = (0x0000000000000000, 0x8000000000000000, 0x7FF0000000000000, 0xFFF0000000000000,
                    0x7FF8000000000000, 0xFFF8000000000000, 0x7FF8DEADBEEF0001, 0xFFF8000000000123,
                    0x7FF0000000000001, 0x0000000000000001, 0x800FFFFFFFFFFFFF, 0x7FEFFFFFFFFFFFFF,
                    0x3FF0000000000001)
        def bits(x):
            return struct.unpack("<Q", struct.pack("<d", x))[0]

        class Real:
            def __init__(self, x):
                self.x = x

            def __float__(self):
                return self.x
        for pattern in patterns:
            x = struct.unpack("<d", struct.pack("<Q", pattern))[0]
            for out in (lf.Ema(10).next(x), lf.ema(10, [x])[0], lf.ema(10, (x,))[0], lf.ema(10, iter([x]))[0],
                        lf.ema(10, iter([Real(x)]))[0], lf.ema(10, array.array("d", [x, 1.0]))[0]):
                self.assertEqual(bits(out), pattern, hex(pattern))

    def test_any_sequence_of_numbers(self):
        expected = [1.0, 1.5, 2.5]
        for xs in ([1, 2, 3], (1.0, 2.0, 3.0), array.array("d", [1, 2, 3]), range(1, 4)):
            self.assertEqual(lf.sma(2, xs), expected)
        a = array.array("d", [1, 2, 3])
        lf.sma(2, a)
        self.assertEqual(list(a), [1, 2, 3], "the caller's array is not modified")

    def test_buffers_of_doubles(self):
        # Long enough to pass through the staging array, twice, and three at once.
        xs = [math.sin(i / 7) * 50 + (i % 13) for i in range(6000)]
        xs[5] = -0.0
        xs[77] = math.nan
        expected = lf.sma(20, xs)
        a = array.array("d", xs)
        big_endian = (ctypes.c_double.__ctype_be__ * len(xs))(*xs)
        interleaved = array.array("d", [v for x in xs for v in (x, 1.0)])
        for xs_in in (a, memoryview(a), memoryview(interleaved)[::2], memoryview(big_endian)):
            for _ in range(2):
                self.assertTrue(same(lf.sma(20, xs_in), expected), type(xs_in))
        self.assertEqual(a.tolist()[:5], xs[:5], "the caller's array is not modified")
        singles = array.array("f", xs)  # not doubles: converted item by item
        self.assertTrue(same(lf.sma(20, singles), lf.sma(20, singles.tolist())))
        bars = ohlcv(5000)
        cols = [array.array("d", bars[k]) for k in ("high", "low", "close")]
        self.assertTrue(same(lf.atr(14, *cols), lf.atr(14, bars["high"], bars["low"], bars["close"])))

    def test_empty_and_degenerate(self):
        for fn in (lf.sma, lf.ema, lf.wma):
            self.assertEqual(fn(3, []), [])
        self.assertTrue(all(math.isnan(v) for v in lf.sma(0, [1, 2, 3])))
        self.assertEqual(lf.wma(0, [1, 2, 3]), [0, 0, 0])
        self.assertEqual(lf.ema(0, [1, 2]), [1, 3])
        e = lf.Ema(3)
        self.assertTrue(all(math.isnan(e.next(x)) for x in (float("nan"), 1, 2)))

    def test_negative_period_is_a_value_error(self):
        with self.assertRaises(ValueError):
            lf.Sma(-1)
        with self.assertRaises(ValueError):
            lf.sma(-3, [1.0])

    def test_unallocatable_period_raises(self):
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf.Sma(2**64 - 1)
        self.assertEqual(str(ctx.exception), "capacity overflow")

    def test_shared_object_across_threads(self):
        # The window is longer than all calls together: after N zeros and one
        # 1.0 the mean is exactly 1/(N+1), so a lost or doubled call shows.
        threads, calls = 8, 2000
        total = threads * calls
        obj = lf.Sma(total + 1)

        def feed():
            for _ in range(calls):
                obj.next(0.0)
        workers = [threading.Thread(target=feed) for _ in range(threads)]
        for t in workers:
            t.start()
        for t in workers:
            t.join()
        self.assertEqual(obj.next(1.0), 1.0 / (total + 1))


class ObjectsUnderAbuse(unittest.TestCase):
    def test_reinit_and_del_racing_calls_on_other_threads(self):
        # Calls go on while other threads run __init__ and __del__ on the same
        # object: no crash, no call on a freed object, every library object
        # made is freed once.
        made, freed = [], []
        real_new, real_free = lf._fn_constructor_sma_new, lf._handle_sma._free
        lf._fn_constructor_sma_new = lambda *a: made.append(1) or real_new(*a)
        lf._handle_sma._free = staticmethod(lambda *a: freed.append(1) or real_free(*a))
        try:
            obj = lf.Sma(64)
            stop = threading.Event()
            failures = []

            def call():
                while not stop.is_set():
                    try:
                        self.assertEqual(obj.next(1.0), 1.0)
                    except lf.LumenfoldError as e:  # right after a __del__
                        if str(e) != "Sma.next(): this Sma was already finalised: its library object is freed":
                            failures.append(e)

            def reinit(n):
                for i in range(n):
                    if i % 50 == 49:
                        obj.__del__()
                    obj.__init__(64)
            callers = [threading.Thread(target=call) for _ in range(8)]
            for t in callers:
                t.start()
            reiniters = [threading.Thread(target=reinit, args=(3000,)) for _ in range(8)]
            for t in reiniters:
                t.start()
            for t in reiniters:
                t.join()
            stop.set()
            for t in callers:
                t.join()
            self.assertEqual(failures, [])
            del obj
        finally:
            lf._fn_constructor_sma_new, lf._handle_sma._free = real_new, real_free
        self.assertEqual(len(made), 1 + 8 * 3000)
        self.assertEqual(len(freed), len(made))

    def test_a_method_or_init_of_another_class_is_refused(self):
        ema, sma = lf.Ema(3), lf.Sma(3)
        with self.assertRaisesRegex(TypeError, r"^Vortex\.next\(\) called on an object of type Ema$"):
            lf.Vortex.next(ema, 1.0, 2.0, 3.0)
        with self.assertRaisesRegex(TypeError, r"^Sma\.next\(\) called on an object of type Ema$"):
            lf.Sma.next(ema, 1.0)
        with self.assertRaisesRegex(TypeError, r"^Macd\.__init__\(\) called on an object of type Sma$"):
            lf.Macd.__init__(sma, 3, 5, 2)
        with self.assertRaisesRegex(TypeError, r"^Sma\.__init__\(\) called on an object of type Ema$"):
            lf.Sma.__init__(ema, 3)
        # Nor is what is no lumenfold object at all (the cleanup must not hide the refusal).
        for other in (5, None, "x"):
            with self.assertRaisesRegex(TypeError, rf"^Ema\.next\(\) called on an object of type {type(other).__name__}$"):
                lf.Ema.next(other, 1.0)
            with self.assertRaisesRegex(TypeError, rf"^VolumeProfile\.next\(\) called on an object of type {type(other).__name__}$"):
                lf.VolumeProfile.next(other, 1.0, 2.0)
        # Both still work as what they are.
        self.assertEqual([ema.next(4.0), ema.next(8.0)], [4.0, 6.0])
        self.assertEqual([sma.next(4.0), sma.next(8.0)], [4.0, 6.0])

    def test_an_object_used_after_it_was_finalised_is_refused(self):
        # The collector runs every finaliser of cyclic garbage before it clears
        # any of it: one that then uses an indicator whose own finaliser (or
        # its handle's) has run reaches neither the freed library object nor
        # one made since in its memory.
        class Own(lf.Ema):
            def __del__(self):  # its own finaliser, not calling the base's
                pass

        class Owner:
            def __del__(self):
                fresh = lf.Ema(3)  # may take the freed block
                try:
                    outcome.append(self.e.next(100.0))
                except lf.LumenfoldError as e:
                    outcome.append(str(e))
                outcome.append(fresh.next(1.0))
        for kind in (Own, lf.Ema):
            outcome = []
            e = kind(3)
            e.next(50.0)
            o = Owner()
            o.e, o.me = e, o
            del e, o
            gc.collect()
            self.assertEqual(outcome, [f"Ema.next(): this {kind.__name__} was already finalised: its library object "
                                       f"is freed", 1.0], kind.__name__)
        # The same states reached directly, on both return paths; __init__
        # run again makes the object usable.
        for kind, args, handle_only in ((Own, (3,), True), (lf.Ema, (3,), False), (lf.Macd, (3, 5, 2), True)):
            obj = kind(*args)
            (obj._h if handle_only else obj).__del__()
            with self.assertRaisesRegex(lf.LumenfoldError, rf"\.next\(\): this {kind.__name__} was already finalised"):
                obj.next(1.0)
            kind.__init__(obj, *args)
            self.assertTrue(same(obj.next(4.0), kind(*args).next(4.0), nans_alike=True))

    def test_an_object_never_initialised_says_so(self):
        class MyEma(lf.Ema):
            def __init__(self, period):
                self.period = period  # super().__init__(period) forgotten

        cases = ((lambda: MyEma(3).next(1.0), "Ema.next", "MyEma", "Ema"),
                 (lambda: lf.Ema.__new__(lf.Ema).next(1.0), "Ema.next", "Ema", "Ema"),
                 (lambda: lf.Macd.__new__(lf.Macd).next(1.0), "Macd.next", "Macd", "Macd"))  # a record's return path
        for call, label, kind, base in cases:
            with self.assertRaises(RuntimeError) as ctx:
                call()
            self.assertEqual(str(ctx.exception), f"{label}(): this {kind} was never initialised: {base}.__init__ did "
                                                 f"not run on it (a subclass's __init__ must call super().__init__(...))")
        # Once it has run, the subclass works.
        fixed = MyEma(3)
        lf.Ema.__init__(fixed, 3)
        self.assertEqual([fixed.next(4.0), fixed.next(8.0)], [4.0, 6.0])


class Arguments(unittest.TestCase):
    def test_a_bad_argument_names_itself(self):
        def unread():  # what follows a refused item is never read
            raise AssertionError("read past the refused item")
            yield
        cases = [
            (lambda: lf.sma(3, "1234"), TypeError, "sma(): argument 'series' must be a sequence of numbers, not str"),
            (lambda: lf.sma(3, [1.0, "x"]), TypeError,
             "sma(): argument 'series' must be a sequence of numbers, but item 1 is str"),
            (lambda: lf.sma(3, (1.0,) * 20000 + (None,)), TypeError,
             "sma(): argument 'series' must be a sequence of numbers, but item 20000 is NoneType"),
            (lambda: lf.sma(3, iter([1.0, "x", 2.0, None])), TypeError,
             "sma(): argument 'series' must be a sequence of numbers, but item 1 is str"),
            (lambda: lf.sma(3, itertools.chain([1.0] * 20000, [b"x"], unread())), TypeError,
             "sma(): argument 'series' must be a sequence of numbers, but item 20000 is bytes"),
            (lambda: lf.sma(3, 5), TypeError, "sma(): argument 'series' must be a sequence of numbers, not int"),
            (lambda: lf.sma("3", [1.0]), TypeError, "sma(): argument 'period' must be an integer, not str"),
            (lambda: lf.sma(-3, [1.0]), ValueError, "sma(): argument 'period' must not be negative (got -3)"),
            (lambda: lf.Ema(2**64), OverflowError,
             "Ema(): argument 'period' does not fit in 64 bits (got 18446744073709551616)"),
            (lambda: lf.Ema(3).next("x"), TypeError, "Ema.next(): argument 'input' must be a real number, not str"),
            (lambda: lf.Ema(None), TypeError, "Ema(): argument 'period' must be an integer, not NoneType"),
            (lambda: lf.atr(3, [1.0], [2.0], {3.0}), TypeError,
             "atr(): argument 'close' must be a sequence of numbers, not set"),
        ]
        for call, error, message in cases:
            with self.assertRaises(error) as ctx:
                call()
            self.assertEqual(str(ctx.exception), message)

    def test_values_that_refuse_conversion_are_named_and_chained(self):
        snan = decimal.Decimal("snan")
        released = memoryview(array.array("d", [1.0]))
        released.release()
        why = "Decimal value could not be converted: cannot convert signaling NaN to float"
        cases = [
            (lambda: lf.Ema(3).next(snan), f"Ema.next(): argument 'input': {why}"),
            (lambda: lf.bs_delta(snan, 100, 0.05, 1, 0.2, True), f"bs_delta(): argument 's': {why}"),
            (lambda: lf.sma(3, [1.0, snan]), f"sma(): argument 'series' item 1: {why}"),
            (lambda: lf.sma(3, (1.0,) * 9000 + (snan,)), f"sma(): argument 'series' item 9000: {why}"),
            (lambda: lf.sma(3, iter([1.0, snan])), f"sma(): argument 'series' item 1: {why}"),
            (lambda: lf.sma(3, released), "sma(): argument 'series': memoryview value could not be converted: "
             "operation forbidden on released memoryview object"),
            (lambda: lf.nse_lot_size("NI\udc80"), "nse_lot_size(): argument 'symbol' cannot be encoded as UTF-8: "
             "'utf-8' codec can't encode character '\\udc80' in position 2: surrogates not allowed"),
        ]
        for call, message in cases:
            with self.assertRaises(ValueError) as ctx:
                call()
            self.assertEqual(str(ctx.exception), message)
            self.assertIsInstance(ctx.exception.__cause__, ValueError)

    def test_an_overflow_in_an_items_conversion_names_the_item(self):
        class Huge:
            def __float__(self):
                raise OverflowError("too large")
        cases = [(lambda: lf.Ema(3).next(Huge()), "Ema.next(): argument 'input': too large")]
        for kind in (list, tuple, SubList, iter):
            cases.append((lambda kind=kind: lf.sma(3, kind([1.0, 2, Huge()])), "sma(): argument 'series' item 2: too large"))
        for call, message in cases:
            with self.assertRaises(OverflowError) as ctx:
                call()
            self.assertEqual(str(ctx.exception), message)
            self.assertEqual(str(ctx.exception.__cause__), "too large")

    def test_a_subclass_of_list_or_tuple_is_read_as_it_stands(self):
        # Whatever it says its items and length are.
        def lying(base):
            return type("Lying", (base,), {"__getitem__": lambda self, i: 99.0, "__len__": lambda self: 1,
                                           "__iter__": lambda self: iter([99.0])})
        for base in (list, tuple):
            kind = lying(base)
            self.assertEqual(lf.sma(1, kind([1.0, 2.0, 3.0])), [1.0, 2.0, 3.0], base)
            self.assertEqual(lf.chain_pcr(kind([2, 4]), kind([1, 1])), lf.chain_pcr([2, 4], [1, 1]), base)
            self.assertEqual(lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], kind([True, False])),
                             lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], [True, False]), base)

    def test_a_list_that_shrinks_while_it_is_converted_is_refused(self):
        class Emptying:
            def __float__(self):
                xs.clear()
                return 1.0

            def __index__(self):
                xs.clear()
                return 1
        for kind in (list, SubList):
            xs = kind([1.0] * 10000 + [Emptying()] + [2.0] * 10000)
            with self.assertRaises(ValueError) as ctx:
                lf.sma(1, xs)
            self.assertEqual(str(ctx.exception), "sma(): argument 'series' changed while it was being converted")
            xs = kind([1, Emptying(), 2])
            with self.assertRaises(ValueError) as ctx:
                lf.chain_pcr(xs, [1, 2, 3])
            self.assertEqual(str(ctx.exception), "chain_pcr(): argument 'ce_oi' changed while it was being converted")

    def test_a_list_changed_in_place_while_it_is_converted_is_read_as_it_stood(self):
        class Rotating:  # every item moves, the length stays (once: read live, it would be met again)
            rotated = False

            def __float__(self):
                if not self.rotated:
                    self.rotated = True
                    xs.insert(0, -1.0)
                    xs.pop()
                return 0.5
        expected = [float(i) for i in range(20000)]
        for kind in (list, SubList):
            xs = kind(expected[:100] + [Rotating()] + expected[101:])
            self.assertEqual(lf.sma(1, xs), expected[:100] + [0.5] + expected[101:], kind.__name__)

    def test_each_item_is_converted_once_and_the_first_that_fails_is_named(self):
        class Counted:  # fails on the calls listed in `failing`; counts every call
            def __init__(self, x, failing=()):
                self.x, self.failing, self.calls = x, failing, 0

            def __float__(self):
                self.calls += 1
                if self.calls in self.failing:
                    raise ValueError(f"call {self.calls}")
                return self.x

            __index__ = __float__

        kinds = (list, tuple, SubList, SubTuple, iter)
        for kind in kinds:
            items = [Counted(float(i)) for i in range(3)] + [2, 3.0]
            self.assertEqual(lf.sma(1, kind(items)), [0.0, 1.0, 2.0, 2.0, 3.0], kind.__name__)
            self.assertEqual([c.calls for c in items[:3]], [1, 1, 1])
        # A float whose value is the process's unset marker, before the failing
        # item, is told from the elements the failure left unwritten.
        unset = struct.unpack("=d", struct.pack("=Q", lf._UNSET))[0]
        for kind, head in itertools.product(kinds, ([], [1.0] * 9000, [unset])):
            once = Counted(1.0, failing=(2,))
            items = head + [0.0, once, 2.0, "x", None]
            with self.assertRaises(TypeError, msg=kind.__name__) as ctx:
                lf.sma(1, kind(items))
            self.assertEqual(str(ctx.exception), "sma(): argument 'series' must be a sequence of numbers, "
                                                 f"but item {len(head) + 3} is str")
            self.assertEqual(once.calls, 1)
        # An item whose __float__ returns the marker itself is taken for the
        # one that failed after it.
        marking = Counted(unset)
        with self.assertRaises(TypeError) as ctx:
            lf.sma(1, [1.0, marking, 2.0, "x"])
        self.assertEqual(str(ctx.exception),
                         "sma(): argument 'series' must be a sequence of numbers, but item 1 is Counted")
        # The item that fails is converted once too, and named, whatever a
        # second conversion would do; so are scalars.
        def failing_once():
            return Counted(1.0, failing=(1,))
        calls = [(lambda c, kind=kind: lf.sma(1, kind([2.0, c])), "sma(): argument 'series' item 1")
                 for kind in kinds]
        calls += [(lambda c: lf.Ema(3).next(c), "Ema.next(): argument 'input'"),
                  (lambda c: lf.Sma(c), "Sma(): argument 'period'"),
                  (lambda c: lf.bs_delta(c, 100, 0.05, 1, 0.2, True), "bs_delta(): argument 's'"),
                  (lambda c: lf.chain_pcr([1, c], [1, 2]), "chain_pcr(): argument 'ce_oi' item 1")]
        for call, where in calls:
            item = failing_once()
            with self.assertRaises(ValueError, msg=where) as ctx:
                call(item)
            self.assertEqual(str(ctx.exception), f"{where}: Counted value could not be converted: call 1")
            self.assertIs(type(ctx.exception.__cause__), ValueError)
            self.assertEqual(item.calls, 1, where)
        # A run of ints is read to its end, then converted.
        def unread():
            raise AssertionError("read past the run of ints")
            yield
        with self.assertRaises(OverflowError) as ctx:
            lf.sma(1, itertools.chain([1, 2.0, 3, 10**400, "x"], unread()))
        self.assertEqual(str(ctx.exception), "sma(): argument 'series' item 3: int too large to convert to float")

    def test_an_item_is_read_by_its_value_never_by_its_bytes(self):
        # ctypes objects have no number protocol: refused by their type, on
        # every path, whatever they are or claim to be.
        class Swapped(ctypes.c_double.__ctype_be__):
            pass

        class Claiming(ctypes.c_char_p):  # says it is a big-endian double
            __class__ = property(lambda self: ctypes.c_double.__ctype_be__)
        for item in (Swapped(1.5), ctypes.c_double(1.5), ctypes.c_double.__ctype_be__(1.5), Claiming(b"x")):
            name = type(item).__name__
            for kind in (list, tuple, SubList, iter):
                with self.assertRaises(TypeError) as ctx:
                    lf.sma(1, kind([2.0, item]))
                self.assertEqual(str(ctx.exception),
                                 f"sma(): argument 'series' must be a sequence of numbers, but item 1 is {name}")
            with self.assertRaises(TypeError):
                lf.Ema(3).next(item)

    def test_a_proxy_that_claims_to_be_a_list_or_tuple_is_read_as_a_sequence(self):
        class Proxy(collections.abc.Sequence):
            def __init__(self, target):
                self.target = target
            __class__ = property(lambda self: type(self.target))
            __len__ = lambda self: len(self.target)
            __getitem__ = lambda self, i: self.target[i]
        for kind in (list, tuple):
            self.assertEqual(lf.sma(1, Proxy(kind([1.0, 2.0]))), [1.0, 2.0])
            self.assertEqual(lf.chain_pcr(Proxy(kind([1, 2])), [3, 3]), lf.chain_pcr([1, 2], [3, 3]))
            self.assertEqual(lf.anchored_vwap([1.0], [1.0], Proxy(kind([True]))), [1.0])

    def test_an_exception_that_is_no_conversion_failure_leaves_the_call_as_itself(self):
        # A signal handler's exception raised inside an item's __float__ or
        # __index__: one of a conversion's kinds is taken for the item's, any
        # other leaves the call as itself.
        class Signalling:
            fired = False

            def __float__(self):
                if not self.fired:
                    self.fired = True
                    signal.raise_signal(signal.SIGALRM)
                return 1.0

            def __index__(self):
                return int(self.__float__())

        def handler(*_):
            raised.append(kind("deadline"))
            raise raised[-1]
        calls = [lambda: lf.sma(3, [1.0] * 10000 + [Signalling()]), lambda: lf.sma(3, iter([1.0, Signalling()])),
                 lambda: lf.Ema(3).next(Signalling()), lambda: lf.Sma(Signalling()),
                 lambda: lf.chain_pcr([1, Signalling()], [1, 2])]
        raised = []
        previous = signal.signal(signal.SIGALRM, handler)
        try:
            for kind, call in itertools.product((TimeoutError, ValueError, TypeError), calls):
                with self.assertRaises(kind) as ctx:
                    call()
                if kind is TimeoutError:
                    self.assertIs(ctx.exception, raised[-1])
                else:
                    self.assertIn("argument", str(ctx.exception))
                    self.assertIs(ctx.exception.__cause__, raised[-1])
        finally:
            signal.signal(signal.SIGALRM, previous)

        # Nor is an exception of another type than a conversion's, nor one
        # the iterable raises rather than an item, after a float or an int.
        def failing(error, first):
            yield first
            yield first
            raise error
        # A StopIteration is not taken for the end of the items.
        for error in (MemoryError(), RecursionError(), TimeoutError(), StopIteration()):
            class Raising:
                def __float__(self, error=error):
                    raise error

                def __index__(self, error=error):
                    raise error
            calls = [lambda: lf.sma(3, [1.0, Raising()]), lambda: lf.sma(3, (Raising(),)),
                     lambda: lf.sma(3, iter([1.0, Raising(), 2.0])), lambda: lf.chain_pcr([1, Raising()], [1, 2]),
                     lambda: lf.chain_pcr(iter([Raising()]), [1, 2])]
            if not isinstance(error, StopIteration):
                calls.append(lambda: lf.sma(3, failing(error, 1.0)))
            for call in calls:
                with self.assertRaises(type(error)) as ctx:
                    call()
                self.assertIs(ctx.exception, error)
        for error, first in itertools.product((ValueError("the source failed"), OverflowError("math range error"),
                                               TypeError("the source failed")), (1.0, 1, True)):
            for call in (lambda: lf.sma(3, failing(error, first)), lambda: lf.chain_pcr(failing(error, 1), [1, 2])):
                with self.assertRaises(type(error)) as ctx:
                    call()
                self.assertIs(ctx.exception, error)

    def test_flags_enums_and_vectors_take_only_their_own_kind(self):
        delta = "bs_delta(): argument 'is_call' must be a bool, not "
        series = "sma(): argument 'series' must be a sequence of numbers, not "
        mode = "SwissArmyKnife(): argument 'mode' must be a SwissMode, not "
        cases = [
            (lambda: lf.bs_delta(100, 100, 0.05, 1, 0.2, "put"), delta + "str"),
            (lambda: lf.bs_delta(100, 100, 0.05, 1, 0.2, None), delta + "NoneType"),
            (lambda: lf.bs_delta(100, 100, 0.05, 1, 0.2, 1), delta + "int"),
            (lambda: lf.AnchoredVwap().next(1.0, 1.0, 0),
             "AnchoredVwap.next(): argument 'anchor' must be a bool, not int"),
            (lambda: lf.anchored_vwap([1.0], [1.0], [True, 1]),
             "anchored_vwap(): argument 'anchor' must be a sequence of booleans, but item 1 is int"),
            (lambda: lf.SwissArmyKnife(1.0, 10, 0.1), mode + "float"),
            (lambda: lf.SwissArmyKnife(True, 10, 0.1), mode + "bool"),
            (lambda: lf.sma(3, memoryview(b"\0" * 16)), series + "a buffer of bytes (memoryview)"),
            (lambda: lf.sma(3, memoryview(bytearray(16))[::2]), series + "a buffer of bytes (memoryview)"),
            (lambda: lf.sma(3, (ctypes.c_char * 8)()), series + "a buffer of bytes (c_char_Array_8)"),
            (lambda: lf.chain_pcr(memoryview(b"\1\2"), [1, 2]),
             "chain_pcr(): argument 'ce_oi' must be a sequence of integers, not a buffer of bytes (memoryview)"),
            (lambda: lf.sma(3, memoryview(array.array("d", [1, 2])).cast("B").cast("d", (1, 2))),
             series + "a 2-dimensional memoryview"),
        ]
        for call, message in cases:
            with self.assertRaises(TypeError) as ctx:
                call()
            self.assertEqual(str(ctx.exception), message)
        self.assertEqual(lf.sma(2, array.array("B", [1, 3])), [1.0, 2.0])  # an array of bytes as numbers

    def test_an_object_with_array_is_read_as_the_array_it_returns(self):
        # A stand-in for a pandas Series or DataFrame: no buffer, __array__,
        # and iteration that yields what is not the data (a table's labels).
        class Arrayish:
            def __init__(self, array_, labels=(0, 1, 2)):
                self.array_, self.labels = array_, labels

            def __array__(self):
                return self.array_

            def __iter__(self):
                return iter(self.labels)

            def __len__(self):
                return len(self.labels)

        class DataFrame(Arrayish):
            pass

        class Hiding(Arrayish):  # an __array__ whose lookup fails counts as none
            __array__ = property(lambda self: self.missing)

        xs = [1.5, 2.0, -3.0, 4.25, math.nan]
        wrapped = Arrayish(array.array("d", xs))
        self.assertTrue(same(lf.sma(2, wrapped), lf.sma(2, xs)))
        self.assertTrue(same(lf.sma(2, weakref.proxy(wrapped)), lf.sma(2, xs)), "a proxy's __array__ counts")
        self.assertTrue(same(lf.sma(2, Arrayish(array.array("i", [1, 7, 3]))), lf.sma(2, [1, 7, 3])))
        self.assertEqual(lf.chain_pcr(Arrayish(array.array("q", [4, 6])), [1, 3]), lf.chain_pcr([4, 6], [1, 3]))
        self.assertEqual(lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], Arrayish(memoryview(b"\1\0").cast("?"))),
                         lf.anchored_vwap([1.0, 2.0], [1.0, 1.0], [True, False]))
        self.assertEqual(lf.sma(2, Hiding(None, labels=(1.0, 3.0))), [1.0, 2.0])
        table = memoryview(array.array("d", [1.0] * 6)).cast("B").cast("d", (3, 2))
        for call, where, items in ((lambda t: lf.sma(3, t), "sma(): argument 'series'", "numbers"),
                                   (lambda t: lf.atr(3, [1.0], [1.0], t), "atr(): argument 'close'", "numbers"),
                                   (lambda t: lf.chain_pcr([1], t), "chain_pcr(): argument 'pe_oi'", "integers"),
                                   (lambda t: lf.anchored_vwap([1.0], [1.0], t), "anchored_vwap(): argument 'anchor'",
                                    "booleans")):
            for kind, hint in ((DataFrame, ": pass one column, as df['close']"), (Arrayish, "")):
                with self.assertRaises(TypeError) as ctx:
                    call(kind(table))
                self.assertEqual(str(ctx.exception),
                                 f"{where} must be a sequence of {items}, not a 2-dimensional {kind.__name__}{hint}")
            # What __array__ returns must expose a buffer, as NumPy requires
            # an array: neither a list nor a table stand-in is read.
            for returned in ([1.0, 2.0, 3.0], DataFrame(table)):
                with self.assertRaises(TypeError) as ctx:
                    call(Arrayish(returned))
                self.assertEqual(str(ctx.exception), f"{where} must be a sequence of {items}, but Arrayish.__array__() "
                                                     f"returned {type(returned).__name__}, which exposes no buffer")

        class Broken(Arrayish):
            def __array__(self):
                raise ValueError("no array here")
        with self.assertRaises(ValueError) as ctx:
            lf.sma(2, Broken(None))
        self.assertEqual(str(ctx.exception), "sma(): argument 'series': Broken value could not be converted: no array here")

    def test_a_count_beyond_the_format_is_refused_before_any_copy(self):
        class Huge(collections.abc.Sequence):
            def __len__(self):
                return 2**31

            def __getitem__(self, i):
                raise AssertionError("an item was read")
        for call, where in ((lambda: lf.sma(3, Huge()), "sma(): argument 'series'"),
                            (lambda: lf.anchored_vwap([1.0], [1.0], Huge()), "anchored_vwap(): argument 'anchor'")):
            with self.assertRaises(ValueError) as ctx:
                call()
            self.assertEqual(str(ctx.exception),
                             f"{where} has 2147483648 items, more than the 2147483647 a vector can hold")

    def test_a_length_that_cannot_be_read_names_the_argument(self):
        class Sized(collections.abc.Sequence):
            def __init__(self, n):
                self.n = n

            def __len__(self):
                return self.n

            def __getitem__(self, i):
                raise AssertionError("an item was read")
        for n, error, why in ((-1, ValueError, "__len__() should return >= 0"),
                              (2**70, OverflowError, "cannot fit 'int' into an index-sized integer")):
            for call, where in ((lambda: lf.sma(3, Sized(n)), "sma(): argument 'series'"),
                                (lambda: lf.chain_pcr([1], Sized(n)), "chain_pcr(): argument 'pe_oi'")):
                with self.assertRaises(error) as ctx:
                    call()
                self.assertEqual(str(ctx.exception), f"{where}: the length of Sized could not be read: {why}")
                self.assertIsInstance(ctx.exception.__cause__, error)

    def test_a_kept_error_does_not_hold_the_callers_buffer(self):
        a = array.array("d", [1.0, 2.0, 3.0])
        kept = []
        for call in (lambda: lf.sma(2**64 - 1, a), lambda: lf.atr(3, a, a, "x"), lambda: lf.atr(3, a, a, [1.0, None])):
            try:
                call()
            except (lf.LumenfoldError, TypeError) as e:
                kept.append(e)
        self.assertEqual(len(kept), 3)
        a.append(4.0)  # BufferError while any view of `a` outlives its call

    def test_text_bytes_mappings_and_sets_are_not_vectors(self):
        # Raw bytes would otherwise be read as machine doubles, a set in its arbitrary order.
        for value in ("abcdefgh", b"\0" * 8, bytearray(8), {1.0: 2.0}, {1.0, 2.0}, frozenset([1.0])):
            with self.assertRaises(TypeError, msg=repr(value)) as ctx:
                lf.sma(2, value)
            self.assertIn(f"not {type(value).__name__}", str(ctx.exception))

    def test_annotations_say_what_is_accepted(self):
        hints = typing.get_type_hints(lf.atr)
        self.assertEqual(hints["high"], typing.Union[collections.abc.Sequence[float], lf.Buffer])
        self.assertEqual(hints["period"], int)
        self.assertEqual(hints["return"], list[float])
        self.assertEqual(typing.get_type_hints(lf.Ema.next)["input"], float)


class Copies(unittest.TestCase):
    def test_copy_deepcopy_and_pickle_are_refused(self):
        obj = lf.Sma(3)
        obj.next(1.0)
        attempts = [copy.copy, copy.deepcopy, lambda o: copy.deepcopy([o])]
        attempts += [lambda o, p=p: pickle.dumps(o, protocol=p) for p in range(pickle.HIGHEST_PROTOCOL + 1)]
        for attempt in attempts:
            with self.assertRaises(TypeError) as ctx:
                attempt(obj)
            self.assertIn("Sma objects cannot be copied or pickled", str(ctx.exception))
            self.assertIn("construct a new Sma instead", str(ctx.exception))
        # The original still holds its one reference and its state.
        self.assertEqual([obj.next(x) for x in (2.0, 3.0, 4.0)], [1.5, 2.0, 3.0])


class Declarations(unittest.TestCase):
    def test_records_and_enum(self):
        r = lf.MacdResult(macd=1.0, signal=2.0, histogram=3.0)
        self.assertEqual((r.macd, r.signal, r.histogram), (1.0, 2.0, 3.0))
        self.assertEqual([m.name for m in lf.SwissMode],
                         ["EMA", "SMA", "Gauss", "Butterworth", "Smooth", "HighPass",
                          "TwoPoleHighPass", "BandPass", "BandStop"])
        self.assertEqual(lf.SwissMode.BandStop.value, 9)
        self.assertIn("Negative Params", lf.Ema.__doc__)

    def test_decoding_nested_records(self):
        # Hand-made buffers run through the runtime's decoder and the reader
        # generated for the record, which must agree.
        import struct
        swing = b"\x01" + struct.pack(">Qd?", 4, 10.5, True)
        state = struct.pack(">I", 2) + swing + b"\x00" + b"\x00" + struct.pack(">IQ", 3, 9)
        value = lf._decoder(("record", "MarketStructureStateResult"))(lf._Reader(state))
        self.assertEqual(value.bias, 2)
        self.assertEqual(value.last_swing_high, lf.SwingPointResult(4, 10.5, True))
        self.assertIsNone(value.last_swing_low)
        self.assertEqual(value.bar_index, 9)
        full = (struct.pack(">I", 1) + swing + swing + b"\x01" + struct.pack(">?dQI", True, 9.5, 7, 2)
                + struct.pack(">IQ", 3, 9)
                + b"\x01" + struct.pack(">I?QQQQdd?d", 5, True, 1, 2, 3, 4, 1.5, 2.5, False, 8.0)
                + b"\x01" + struct.pack(">I?ddd?", 6, False, 1.0, 2.0, 3.0, True))
        for name, body in (("MarketStructureStateResult", state), ("GeometricNextResult", state + b"\x00\x00"),
                           ("GeometricNextResult", full)):
            expected = lf._decoder(("record", name))(lf._Reader(body))
            read = getattr(lf, f"_read_{name}")
            self.assertTrue(same(read(memoryview(b"\xff" + body), 1, 1 + len(body)), expected), name)
            for end in (len(body) + 1, len(body) - 1):
                with self.assertRaises(lf.LumenfoldError):
                    read(memoryview(body + b"\x00"), 0, end)


class RawCalls(unittest.TestCase):
    """Calls made below the module, as any foreign caller could."""

    def call_sma(self, payload):
        buf = lend(lf._buffer_of(bytearray(payload)))
        st = lf._RustCallStatus()
        out = lf._fn_func_sma(ctypes.c_uint64(3), buf, ctypes.byref(st))
        return st, out

    def test_malformed_series_names_the_argument(self):
        st, _ = self.call_sma(b"\x00\x00\x00\x00\x01\x02\x03")
        self.assertEqual(st.code, 2)
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf._raise_status(st)
        self.assertEqual(str(ctx.exception),
                         "Failed to convert arg 'series':\njunk data left in buffer after lifting (count: 3)")

    def test_short_buffer(self):
        st, _ = self.call_sma(b"\x00\x00\x00\x02" + b"\x00" * 15)
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf._raise_status(st)
        self.assertTrue(str(ctx.exception).endswith("not enough bytes remaining in buffer (7 < 8)"))

    def test_buffer_rule(self):
        st = lf._RustCallStatus()
        lf._buffer_release(lf._RustBuffer(0, 5, None), ctypes.byref(st))
        with self.assertRaises(lf.LumenfoldError) as ctx:
            lf._raise_status(st)
        self.assertEqual(str(ctx.exception), "null RustBuffer had non-zero length")


class LibraryChecks(unittest.TestCase):
    def generate_into(self, tmp, library):
        subprocess.run([sys.executable, str(pathlib.Path(__file__).parents[2] / "python" / "generate_host.py"),
                        str(library), tmp], check=True)

    def import_fresh(self, tmp):
        # An import refused prints its error's type and message on stdout.
        code = ("try:\n    import lumenfold_python\nexcept ImportError as e:\n"
                "    print(type(e).__name__, e)\n    raise SystemExit(1)")
        # A clean environment, but for the settings a sanitizer build runs under.
        env = {k: v for k, v in os.environ.items() if k in SANITIZER_ENV}
        env.update(PYTHONPATH=tmp, PATH="/usr/bin:/bin")
        return subprocess.run([sys.executable, "-c", code], cwd=tmp, capture_output=True, text=True, env=env)

    def test_matching_library_imports(self):
        with tempfile.TemporaryDirectory() as tmp:
            self.generate_into(tmp, LIBRARY)
            self.assertEqual(self.import_fresh(tmp).returncode, 0)

    def test_mismatched_checksum_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            self.generate_into(tmp, LIBRARY)
            init = pathlib.Path(tmp) / "lumenfold_python" / "__init__.py"
            text = init.read_text()
            key = "'uniffi_lumenfold_python_checksum_func_sma': "
            at = text.index(key) + len(key)
            end = text.index(",", at)
            init.write_text(text[:at] + str((int(text[at:end]) + 1) % 65536) + text[end:])
            result = self.import_fresh(tmp)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertRegex(result.stdout, r"^LibraryMismatchError .*: checksum of uniffi_lumenfold_python_checksum_func_sma ")

    def test_wrong_contract_version_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            self.generate_into(tmp, LIBRARY)
            init = pathlib.Path(tmp) / "lumenfold_python" / "__init__.py"
            init.write_text(init.read_text().replace("_CONTRACT_VERSION = 30", "_CONTRACT_VERSION = 29"))
            result = self.import_fresh(tmp)
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertRegex(result.stdout, r"^LibraryMismatchError .*: contract version 30, this module expects 29$")


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Cost of the Python host: batch round trips per element against the
unavoidable conversion floor, and one streaming `next` against one bare
ctypes call of a C function taking and returning a double.

Times are the process's CPU time, best of several runs, each measurement
taken in turns with its floor so both see the same machine."""

import ctypes
import ctypes.util
import random
import resource
import time
from array import array

import lumenfold_python as lf

try:
    import numpy
except ImportError:
    numpy = None

N = 1_000_000
CALLS = 200_000


def best_pair(fn, floor, repeat=9):
    """(best time of fn, best time of floor), measured alternately."""
    clock = time.process_time
    times, floors = [], []
    for _ in range(repeat):
        t0 = clock()
        floor()
        floors.append(clock() - t0)
        t0 = clock()
        fn()
        times.append(clock() - t0)
    return min(times), min(floors)


def report(label, fn, floor, floor_label, target=None):
    t, f = best_pair(fn, floor)
    goal = f", target {target:.1f}" if target else ""
    print(f"{label:30} {t / N * 1e9:7.2f} ns/element  ({floor_label}: {f / N * 1e9:.2f} ns/element, "
          f"ratio {t / f:.2f}{goal})")
    return t


def main() -> None:
    rng = random.Random(1)
    xs = [100.0 + rng.gauss(0, 1) for _ in range(N)]
    a = array("d", xs)

    one = report("sma, list in", lambda: lf.sma(20, xs), lambda: array("d", xs).tolist(),
                 "array('d', xs).tolist()", 1.5)
    report("sma, array('d') in", lambda: lf.sma(20, a), a.tolist, "a.tolist()", 1.3)
    report("sma, memoryview in", lambda: lf.sma(20, memoryview(a)), a.tolist, "a.tolist()", 1.3)
    if numpy is not None:
        na = numpy.array(xs)
        report("sma, NumPy float64 in", lambda: lf.sma(20, na), a.tolist, "a.tolist()", 1.3)
    three, _ = best_pair(lambda: lf.atr(14, xs, xs, xs), lambda: None)
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    lf.atr(14, xs, xs, xs)
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before
    print(f"{'atr, three lists in':30} {three / N * 1e9:7.2f} ns/element  "
          f"(sma with one list: {one / N * 1e9:.2f} ns/element, ratio {three / one:.2f}; "
          f"{faults} page faults per call)")

    libm = ctypes.CDLL(ctypes.util.find_library("m"))
    fabs = libm.fabs
    fabs.argtypes = [ctypes.c_double]
    fabs.restype = ctypes.c_double

    def bare():
        f = fabs
        for _ in range(CALLS):
            f(1.5)

    obj = lf.Ema(14)

    def streaming():
        step = obj.next
        for _ in range(CALLS):
            step(1.5)

    stream_t, bare_t = best_pair(streaming, bare, 5)
    print(f"{'streaming next':30} {stream_t / CALLS * 1e9:7.1f} ns/call     "
          f"(bare ctypes call: {bare_t / CALLS * 1e9:.1f} ns, ratio {stream_t / bare_t:.2f})")


if __name__ == "__main__":
    main()

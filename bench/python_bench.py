#!/usr/bin/env python3
"""Cost of the Python host: batch round trips per element against the
unavoidable conversion floor, and one streaming `next` against one bare
ctypes call of a C function taking and returning a double.

Each measurement and its floor run back to back, in alternating order, many
times; a ratio is the median of those pairs and a time the median of its runs
(the process's CPU time), so a loaded machine moves both sides alike."""

import ctypes
import ctypes.util
import random
import resource
import statistics
import time
from array import array

import lumenfold_python as lf

try:
    import numpy
except ImportError:
    numpy = None

N = 1_000_000
CALLS = 200_000


def paired(fn, floor, repeat=15):
    """(median time of fn, median time of floor, median ratio of the pairs)."""
    clock = time.process_time
    times, floors = [], []
    for i in range(repeat):
        for f, out in ((fn, times), (floor, floors)) if i % 2 else ((floor, floors), (fn, times)):
            t0 = clock()
            f()
            out.append(clock() - t0)
    ratio = statistics.median(t / f for t, f in zip(times, floors))
    return statistics.median(times), statistics.median(floors), ratio


def report(label, fn, floor, floor_label, target=None, per=N, unit="ns/element", note=""):
    t, f, ratio = paired(fn, floor)
    goal = f", target {target:.1f}" if target else ""
    print(f"{label:28} {t / per * 1e9:7.1f} {unit}  ({floor_label}: {f / per * 1e9:.1f} {unit}, "
          f"ratio {ratio:.2f}{goal}{note})")


def faults(fn):
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    fn()
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before


def main() -> None:
    rng = random.Random(1)
    xs = [100.0 + rng.gauss(0, 1) for _ in range(N)]
    a = array("d", xs)
    list_floor = lambda: array("d", xs).tolist()  # noqa: E731

    report("sma, list in", lambda: lf.sma(20, xs), list_floor, "array('d', xs).tolist()", 1.5)
    report("sma, array('d') in", lambda: lf.sma(20, a), a.tolist, "a.tolist()", 1.3)
    report("sma, memoryview in", lambda: lf.sma(20, memoryview(a)), a.tolist, "a.tolist()", 1.3)
    if numpy is not None:
        na = numpy.array(xs)
        report("sma, NumPy float64 in", lambda: lf.sma(20, na), a.tolist, "a.tolist()", 1.3)
    atr = lambda: lf.atr(14, xs, xs, xs)  # noqa: E731
    report("atr, three lists in", atr, lambda: lf.sma(20, xs), "sma with one list",
           note=f"; {faults(atr)} page faults per call")

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

    report("streaming next", streaming, bare, "bare ctypes call", per=CALLS, unit="ns/call")


if __name__ == "__main__":
    main()

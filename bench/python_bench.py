#!/usr/bin/env python3
"""Cost of the Python host: a batch round trip per element against the
unavoidable conversion floor, and one streaming `next` against one bare
ctypes call of a C function taking and returning a double."""

import ctypes
import ctypes.util
import random
import time
from array import array

import lumenfold_python as lf

N = 1_000_000
CALLS = 200_000


def best(fn, repeat=7):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def main() -> None:
    rng = random.Random(1)
    xs = [100.0 + rng.gauss(0, 1) for _ in range(N)]

    floor = best(lambda: array("d", xs).tolist())
    batch = best(lambda: lf.sma(14, xs))
    print(f"batch round trip   {batch / N * 1e9:7.2f} ns/element  "
          f"(floor array('d', xs).tolist(): {floor / N * 1e9:.2f} ns/element, ratio {batch / floor:.2f})")

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

    bare_t = best(bare, 5)
    stream_t = best(streaming, 5)
    print(f"streaming next     {stream_t / CALLS * 1e9:7.1f} ns/call     "
          f"(bare ctypes call: {bare_t / CALLS * 1e9:.1f} ns, ratio {stream_t / bare_t:.2f})")


if __name__ == "__main__":
    main()

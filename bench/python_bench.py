#!/usr/bin/env python3
"""Cost of the Python host: batch round trips per element against the
unavoidable conversion floor (a pandas Series against the ndarray it holds),
one streaming `next` against one bare ctypes call of a C function taking and
returning a double, and every `next` that returns a record against a `next`
that returns a float from the same inputs.

Each measurement and its floor run back to back, in alternating order, many
times; a ratio is the median of those pairs and a time the median of its runs
(the process's CPU time), so a loaded machine moves both sides alike. The
record `next` figures are the best of several interleaved runs instead: they
are short, and the best run is the one the machine disturbed least."""

import ctypes
import ctypes.util
import os
import pathlib
import platform
import random
import resource
import statistics
import struct
import sys
import time
from array import array

import lumenfold_python as lf

# The tests' sample bars and interface description, read from the build this
# module was loaded from.
os.environ.setdefault("LUMENFOLD_BUILD_DIR", str(pathlib.Path(lf.__file__).parents[2]))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "tests" / "python"))
import support  # noqa: E402

try:
    import numpy
except ImportError:
    numpy = None
try:
    import pandas
except ImportError:
    pandas = None

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
    goal = f", target {target:g}" if target else ""
    print(f"{label:28} {t / per * 1e9:7.1f} {unit}  ({floor_label}: {f / per * 1e9:.1f} {unit}, "
          f"ratio {ratio:.2f}{goal}{note})")


def faults(fn):
    before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    fn()
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before


def processor():
    """The processor's name, family and model as the kernel reports them."""
    try:
        fields = dict(line.split(":", 1) for line in open("/proc/cpuinfo").read().split("\n\n")[0].splitlines()
                      if ":" in line)
    except OSError:
        return platform.machine()
    fields = {k.strip(): v.strip() for k, v in fields.items()}
    name = fields.get("model name", platform.machine())
    return f"{name} (family {fields['cpu family']}, model {fields['model']})" if "cpu family" in fields else name


def main() -> None:
    print(f"processor: {processor()}, one thread")
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
        # Other real numbers are cast by NumPy as they are copied in: they
        # cost about what the same values as float64 do.
        volume = numpy.array([rng.randint(1000, 5000) for _ in range(N)])
        volume_f64, singles = volume.astype(float), na.astype(numpy.float32)
        singles_f64 = singles.astype(float)
        report("obv, int64 volume in", lambda: lf.obv(na, volume), lambda: lf.obv(na, volume_f64),
               "the same as float64", 1.35)
        report("sma, NumPy float32 in", lambda: lf.sma(20, singles), lambda: lf.sma(20, singles_f64),
               "the same as float64", 1.35)
    if pandas is not None:
        # A Series is read as the array it holds: it costs what that array does.
        s = pandas.Series(na)
        high, low = s + 1.0, s - 1.0
        report("sma, pandas Series in", lambda: lf.sma(20, s), lambda: lf.sma(20, na), "the same ndarray", 1.15)
        volume_s, volume_f64_s = pandas.Series(volume), pandas.Series(volume_f64)
        report("obv, int64 volume Series", lambda: lf.obv(s, volume_s), lambda: lf.obv(s, volume_f64_s),
               "the same as float64", 1.35)
        report("atr, three Series in", lambda: lf.atr(14, high, low, s),
               lambda: lf.atr(14, high.to_numpy(), low.to_numpy(), na), "the same ndarrays", 1.15)
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
    record_nexts()


# The float-returning `next` each record-returning one is measured against,
# by the number of its (f64) inputs.
REFERENCES = {1: ("Ema", [10]), 2: ("Dmh", [14]), 3: ("Atr", [14]), 4: ("Ad", [])}
# Short runs, many of them: the best one is the one the machine disturbed least.
BARS = 200


def compiled(source):
    scope = {"lf": lf, "struct": struct}
    exec(source, scope)
    return scope["run"]


def feeder(arity):
    """run(step, rows): every row fed to a `next` (no unpacking in the call,
    so both sides of a ratio pay the same for the loop)."""
    names = ", ".join(f"x{i}" for i in range(arity))
    return compiled(f"def run(step, rows):\n    for {names}, in rows:\n        step({names})")


def foreign_calls(obj, arity, record, kept=None, capacity=0):
    """run(rows): only the foreign calls of `obj.next` over rows of ready ctypes
    arguments: clone and next, and the release of a returned record (or, with
    a list `kept`, the record buffers gathered there to be released later).
    Where records are returned through a pointer (lf._HIDDEN_RETURN), each
    row's record goes to a buffer of its own when it is kept (of `capacity`
    made beforehand), to one buffer when it is released. Every loop walks
    the rows with a list of buffers, used or not, so that all spend the same
    on the loop."""
    sym = type(obj).__name__.lower()
    names = ", ".join(f"x{i}" for i in range(arity))
    args = f"h, {names}, sp"
    after = ""
    if record and lf._HIDDEN_RETURN:
        args = f"op, {args}"
        after = "" if kept is not None else "\n        release(out, u)"
    elif record:
        after = "\n        r.__class__ = lf._RustBuffer\n        " + ("release(r, u)" if kept is None else "keep(r)")
    run = compiled(f"""def run(h, rows, outs, clone=lf._clone_{sym}, step=lf._fn_method_{sym}_next, u=lf._UNUSED,
        sp=lf._status()[1], release=lf._buffer_release, keep=None):
    for ({names},), (out, op) in zip(rows, outs):
        clone(h, u)
        r = step({args}){after}""")
    if record and lf._HIDDEN_RETURN and kept is not None:
        kept += [lf._RustBuffer() for _ in range(capacity)]
        pool = [(out, ctypes.byref(out)) for out in kept]
    else:
        out = lf._RustBuffer()
        pool = [(out, ctypes.byref(out))] * BARS
    used = 0

    def outs(n):
        nonlocal used
        if kept is None or not lf._HIDDEN_RETURN:
            return pool
        used += n
        return pool[used - n:used]
    return lambda rows: run(obj._h, rows, outs(len(rows)), keep=None if kept is None else kept.append)


def ctypes_rows(rows):
    return [tuple(map(ctypes.c_double, row)) for row in rows]


def best_of(runs, *loops):
    """The best time of each loop over `runs` rounds, the loops taken in
    alternating order (the process's own CPU time, not the wall clock)."""
    best = [float("inf")] * len(loops)
    for r in range(runs):
        order = list(enumerate(loops)) if r % 2 else list(enumerate(loops))[::-1]
        for i, loop in order:
            t0 = time.thread_time()
            loop()
            best[i] = min(best[i], time.thread_time() - t0)
    return best


def record_nexts(runs=100):
    """µs per `next` of every object whose `next` returns a record and of the
    float-returning reference fed the same rows, their ratio, and the part of
    each that is the foreign calls alone."""
    described = support.INTERFACE
    data = support.ohlcv(BARS)
    print(f"\nrecord-returning next against a float-returning one with the same inputs, best of {runs} "
          f"interleaved runs of {BARS} bars;\nin brackets: the foreign calls alone (clone, next, and the release "
          "of the record), with ready arguments")
    ratios = []
    for obj in described["objects"]:
        method = obj["methods"][0] if obj["methods"] else None
        if not method or method["name"] != "next" or method["returns"] not in described["records"]:
            continue
        names = [name for name, _ in method["args"]]
        rows = list(zip(*[data[n] if n in data else data["close"] for n in names]))
        ref_name, ref_args = REFERENCES[len(names)]
        record = getattr(lf, obj["name"])(*obj["test_new"])
        reference = getattr(lf, ref_name)(*ref_args)
        feed = feeder(len(names))
        raw, raw_ref = foreign_calls(record, len(names), True), foreign_calls(reference, len(names), False)
        c_rows = ctypes_rows(rows)
        t, ref, c, c_ref = best_of(runs, lambda: feed(record.next, rows), lambda: feed(reference.next, rows),
                                   lambda: raw(c_rows), lambda: raw_ref(c_rows))
        ratios.append(t / ref)
        print(f"  {obj['name'] + '.next':44} {t / BARS * 1e6:5.2f} µs ({c / BARS * 1e6:4.2f})   "
              f"{ref_name + '.next':9} {ref / BARS * 1e6:5.2f} µs ({c_ref / BARS * 1e6:4.2f})   ratio {t / ref:4.2f}")
    print(f"  ratio: highest {max(ratios):.2f}, median {statistics.median(ratios):.2f}")
    where_the_time_goes(runs)


def where_the_time_goes(runs):
    """The cost of Macd.next taken apart, with Ema.next alongside: the foreign
    calls (clone and next), the release of the record buffer, decoding it and
    making the record, and the rest (argument conversion, status record,
    ownership bookkeeping, the call of the method itself)."""
    rows = [(x,) for x in support.ohlcv(BARS)["close"]]
    c_rows = ctypes_rows(rows)
    macd, ema = lf.Macd(12, 26, 9), lf.Ema(10)
    feed = feeder(1)
    kept = []
    calls, ref_calls = foreign_calls(macd, 1, True), foreign_calls(ema, 1, False)
    unreleased = foreign_calls(macd, 1, True, kept, capacity=1 + BARS * runs)
    unreleased(c_rows[:1])
    decode = compiled("""def run(rows, new=lf._new, cls=lf.MacdResult, unpack=struct.Struct(">ddd").unpack_from,
        memory=lf._MEMORY, at=0):
    for x, in rows:
        value = new(cls)
        value.macd, value.signal, value.histogram = unpack(memory, at)""")
    at = kept[0].data
    t, ref, c, c_ref, c_unreleased, dec = best_of(
        runs, lambda: feed(macd.next, rows), lambda: feed(ema.next, rows), lambda: calls(c_rows),
        lambda: ref_calls(c_rows), lambda: unreleased(c_rows), lambda: decode(rows, at=at))
    for r in kept:
        if r.data:
            lf._buffer_release(r, lf._UNUSED)
    ns = 1e9 / BARS
    print("\nwhere the time of Macd.next goes, ns per call (Ema.next in brackets):")
    print(f"  the whole next                                 {t * ns:5.0f}  ({ref * ns:.0f})")
    if lf._HIDDEN_RETURN:
        print(f"  clone and next (the record written to a        {c_unreleased * ns:5.0f}  ({c_ref * ns:.0f})")
        print("    buffer passed in)")
    else:
        print(f"  clone and next (a record comes back as a       {c_unreleased * ns:5.0f}  ({c_ref * ns:.0f})")
        print("    struct that ctypes makes, then disowned)")
    print(f"  release of the record buffer                   {(c - c_unreleased) * ns:5.0f}")
    print(f"  decoding it and making the record              {dec * ns:5.0f}")
    print(f"  the rest: arguments, status, ownership, call   {(t - c - dec) * ns:5.0f}  ({(ref - c_ref) * ns:.0f})")


if __name__ == "__main__":
    main()

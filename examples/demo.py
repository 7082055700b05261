#!/usr/bin/env python3
"""One item of each family over the bundled sample series.

Every streaming object is fed bar by bar and compared, bit for bit, with its
batch function over the whole series; the options part prices a call and a put,
takes the Greeks and recovers the volatility from the price.
"""

import csv
import dataclasses
import math
import pathlib
import statistics
import struct
import sys

HERE = pathlib.Path(__file__).resolve().parent
# An importable lumenfold_python (PYTHONPATH, an installed prefix) comes first;
# the build tree of this checkout is the fallback.
sys.path.append(str(HERE.parent / "build" / "python"))

import lumenfold_python as lf  # noqa: E402

SHOWN = 3  # bars shown per streaming item
_NAN_BITS = struct.pack("<d", math.nan)


def bits(value):
    """The value with every float replaced by its bytes (all NaNs alike)."""
    if isinstance(value, float):
        return _NAN_BITS if math.isnan(value) else struct.pack("<d", value)
    if dataclasses.is_dataclass(value):
        return tuple(bits(getattr(value, f.name)) for f in dataclasses.fields(value))
    if isinstance(value, (list, tuple)):
        return tuple(bits(v) for v in value)
    return value


def stream_and_batch(name, obj, batch, *series):
    """Feeds obj bar by bar, checks it against the batch result, returns the outputs."""
    streamed = [obj.next(*bar) for bar in zip(*series)]
    if bits(streamed) != bits(batch):
        raise SystemExit(f"{name}: streaming and batch results differ")
    return streamed


def fmt(value):
    if dataclasses.is_dataclass(value):
        return "  ".join(f"{f.name} {getattr(value, f.name):9.4f}" for f in dataclasses.fields(value))
    return f"{value:9.4f}"


def main() -> None:
    with open(HERE / "data" / "sample_ohlcv.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    date = [r["date"] for r in rows]
    open_, high, low, close = ([float(r[k]) for r in rows] for k in ("open", "high", "low", "close"))
    n = len(close)
    print(f"lumenfold demo: {n} daily bars ({date[0]} to {date[-1]}), last {SHOWN} bars shown;")
    print("every streaming object matches its batch function bit for bit")

    items = [
        ("classic", "Macd(12, 26, 9) of close",
         lf.Macd(12, 26, 9), lf.macd(12, 26, 9, close), (close,)),
        ("filter", "SuperSmoother(10) of close",
         lf.SuperSmoother(10), lf.supersmoother(10, close), (close,)),
        ("channel", "Keltner(20, 10, 2.0) of high, low, close",
         lf.Keltner(20, 10, 2.0), lf.keltner(high, low, close, 20, 10, 2.0), (high, low, close)),
        ("cycle", "HomodyneDiscriminator of close: dominant cycle in bars",
         lf.HomodyneDiscriminator(), lf.homodynediscriminator(close), (close,)),
        ("oscillator", "Reflex(20) of close",
         lf.Reflex(20), lf.reflex(20, close), (close,)),
        ("feature", "FracDiff(0.4, 0.01) of close: fractionally differenced",
         lf.FracDiff(0.4, 0.01), lf.fracdiff(0.4, 0.01, close), (close,)),
    ]
    for family, title, obj, batch, series in items:
        out = stream_and_batch(title, obj, batch, *series)
        print(f"\n{family}: {title}")
        for i in range(n - SHOWN, n):
            print(f"  {date[i]}  close {close[i]:8.2f}   {fmt(out[i])}")

    structure = stream_and_batch("MarketStructure", lf.MarketStructure(3),
                                 lf.market_structure_batch(3, high, low), high, low)
    last = structure[-1]
    flips = [s.current_flip for s in structure if s.current_flip]
    bias = {0: "undetermined", 1: "bullish", 2: "bearish"}[last.bias]
    print("\nmarket structure: MarketStructure(3) of high, low")
    print(f"  bias {bias}; last swing high {last.last_swing_high.price:.2f} on {date[last.last_swing_high.bar]},"
          f" last swing low {last.last_swing_low.price:.2f} on {date[last.last_swing_low.bar]}")
    if flips:
        f = flips[-1]
        print(f"  {len(flips)} flips; the last {'bearish' if f.is_bearish else 'bullish'}"
              f" at {f.price:.2f} on {date[f.bar]}")

    # Options on the last close: a 30-day option at the nearest strike of 5,
    # at the annualised volatility of the daily log returns.
    s, k, r, t = close[-1], 5 * round(close[-1] / 5), 0.05, 30 / 365
    sigma = statistics.stdev(math.log(b / a) for a, b in zip(close, close[1:])) * math.sqrt(252)
    call, put = lf.bs_call_price(s, k, r, t, sigma), lf.bs_put_price(s, k, r, t, sigma)
    print(f"\noptions: spot {s:.2f}, strike {k}, r {r}, 30 days, volatility {sigma:.6f}")
    print(f"  call {call:.4f}  put {put:.4f}")
    print(f"  call delta {lf.bs_delta(s, k, r, t, sigma, True):.4f}  gamma {lf.bs_gamma(s, k, r, t, sigma):.4f}"
          f"  vega {lf.bs_vega(s, k, r, t, sigma):.4f}  theta {lf.bs_theta(s, k, r, t, sigma, True):.4f}"
          f"  rho {lf.bs_rho(s, k, r, t, sigma, True):.4f}")
    for kind, price, is_call in (("call", call, True), ("put", put, False)):
        iv = lf.implied_vol(price, s, k, r, t, is_call)
        if iv is None or abs(iv - sigma) > 1e-9:
            raise SystemExit(f"implied volatility of the {kind}: {iv}, priced at {sigma}")
        print(f"  implied volatility of the {kind} price {iv:.6f} (error {iv - sigma:.1e})")


if __name__ == "__main__":
    main()

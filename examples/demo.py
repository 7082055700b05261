#!/usr/bin/env python3
"""Stream and batch-compute moving averages over the bundled sample series."""

import csv
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "build" / "python"))

import lumenfold_python as lf  # noqa: E402

PERIOD = 20


def main() -> None:
    with open(HERE / "data" / "sample_ohlcv.csv", newline="") as f:
        rows = list(csv.DictReader(f))
    dates = [r["date"] for r in rows]
    close = [float(r["close"]) for r in rows]

    # Batch: one call per indicator over the whole series.
    batch = {name: fn(PERIOD, close) for name, fn in (("sma", lf.sma), ("ema", lf.ema), ("wma", lf.wma))}

    # Streaming: one object per indicator, fed bar by bar.
    objects = {"sma": lf.Sma(PERIOD), "ema": lf.Ema(PERIOD), "wma": lf.Wma(PERIOD)}
    streamed = {name: [obj.next(x) for x in close] for name, obj in objects.items()}

    for name in batch:
        if streamed[name] != batch[name]:
            raise SystemExit(f"{name}: streaming and batch results differ")

    print(f"lumenfold demo: {len(close)} daily bars, period {PERIOD} (last 10 bars)")
    print(f"{'date':<12}{'close':>10}{'sma':>12}{'ema':>12}{'wma':>12}")
    for i in range(len(close) - 10, len(close)):
        print(f"{dates[i]:<12}{close[i]:>10.2f}"
              + "".join(f"{batch[name][i]:>12.4f}" for name in ("sma", "ema", "wma")))
    print("streaming and batch results agree bit for bit")


if __name__ == "__main__":
    main()

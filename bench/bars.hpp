// The seeded series of bars the benchmarks run on.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

namespace lumenfold::bench {

struct Bars {
    std::size_t n = 0;
    std::vector<double> open, high, low, close, volume;
};

// Daily-like bars: log-returns of about 1% from one close to the next (a gap
// to the open, then the session), highs and lows beyond the open and the
// close, lognormal volume. Which true-range term wins, which directional move
// and which window extreme, changes from bar to bar as on real markets.
inline Bars market_bars(std::size_t n) {
    Bars out;
    out.n = n;
    std::mt19937_64 rng(42);
    std::normal_distribution<double> gap(0.0, 0.003), session(0.0, 0.0095), wick(0.0, 0.004), lot(13.8, 0.5);
    double close = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double o = close * std::exp(gap(rng));
        close = o * std::exp(session(rng));
        out.open.push_back(o);
        out.close.push_back(close);
        out.high.push_back(std::max(o, close) * std::exp(std::fabs(wick(rng))));
        out.low.push_back(std::min(o, close) * std::exp(-std::fabs(wick(rng))));
        out.volume.push_back(std::round(std::exp(lot(rng))));
    }
    return out;
}

// A steady rise: each bar opens at the last close and closes 0.01 higher,
// high = close + 1 and low = close - 1, constant volume. Every comparison
// goes the same way on every bar.
inline Bars predictable_bars(std::size_t n) {
    Bars out;
    out.n = n;
    double close = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        out.open.push_back(close);
        close += 0.01;
        out.close.push_back(close);
        out.high.push_back(close + 1.0);
        out.low.push_back(close - 1.0);
        out.volume.push_back(1.0e6);
    }
    return out;
}

}  // namespace lumenfold::bench

// The seeded series of bars the benchmarks run on.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace lumenfold::bench {

struct Bars {
    std::size_t n = 0;
    std::vector<double> open, high, low, close, volume;
};

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

// A seeded random walk of bars: a share of them open with a gap of
// N(0, gap) from the last close (the others at it), then move N(0, session)
// in the session; highs and lows lie beyond the open and the close by
// |N(0, wick)|; lognormal volume. Moves are log-returns.
struct WalkShape {
    std::uint64_t seed;
    double gapped_share, gap, session, wick;
};

inline Bars random_walk(std::size_t n, const WalkShape& w) {
    Bars out;
    out.n = n;
    std::mt19937_64 rng(w.seed);
    std::bernoulli_distribution gapped(w.gapped_share);
    std::normal_distribution<double> gap(0.0, w.gap), session(0.0, w.session), wick(0.0, w.wick), lot(13.8, 0.5);
    double close = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        // Every bar gapped draws no share.
        const bool gaps = w.gapped_share >= 1.0 || gapped(rng);
        const double o = gaps ? close * std::exp(gap(rng)) : close;
        close = o * std::exp(session(rng));
        out.open.push_back(o);
        out.close.push_back(close);
        out.high.push_back(std::max(o, close) * std::exp(std::fabs(wick(rng))));
        out.low.push_back(std::min(o, close) * std::exp(-std::fabs(wick(rng))));
        out.volume.push_back(std::round(std::exp(lot(rng))));
    }
    return out;
}

// Daily-like bars: log-returns of about 1% from one close to the next (a gap
// of 0.3% to the open, then the session), wicks of 0.4%. Which true-range
// term wins, which directional move and which window extreme, changes from
// bar to bar as on real markets, but the range term wins most bars.
inline constexpr WalkShape kMarketWalk{42, 1.0, 0.003, 0.0095, 0.004};

// Bars whose gaps outgrow their own range: 60% of them gapped by N(0, 1.25%),
// sessions of 0.3%, wicks of 0.22%. Close-to-close moves are about 1%
// (standard deviation), the high-low range about 0.6% of the price, and a
// term with the previous close wins the true range on about half the bars,
// at random.
inline constexpr WalkShape kGappyWalk{7, 0.6, 0.0125, 0.003, 0.0022};

}  // namespace lumenfold::bench

// WaveTrend: the typical price's distance from its exponential average (period
// n1), divided by 0.015 times the exponential average (period n1) of its
// absolute distance (0 when that average is exactly 0), smoothed by a third
// exponential average (period n2) into wt1; wt2 is the simple moving average of
// wt1 over `n3` values (the values seen so far while fewer are held). All three
// exponential averages are first-input seeded, so bar 1 gives (0, 0) and there
// is no NaN warm-up; n3 = 0 gives wt2 = NaN.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

struct WaveTrendOutput {
    double wt1;
    double wt2;
};

class WaveTrend {
public:
    WaveTrend(std::uint64_t n1, std::uint64_t n2, std::uint64_t n3)
        : price_ema_(n1), deviation_ema_(n1), index_ema_(n2), signal_(n3) {}

    WaveTrendOutput next(double high, double low, double close) noexcept {
        const double ap = ((high + low) + close) / 3.0;
        const double esa = price_ema_.next(ap);
        const double dd = deviation_ema_.next(std::fabs(ap - esa));
        const double ci = dd == 0.0 ? 0.0 : (ap - esa) / (dd * 0.015);
        const double wt1 = index_ema_.next(ci);
        return {wt1, signal_.next(wt1)};
    }

private:
    EMA price_ema_;
    EMA deviation_ema_;
    EMA index_ema_;
    SMA signal_;  // running sum over the last n3 values of wt1
};

}  // namespace lumenfold::core

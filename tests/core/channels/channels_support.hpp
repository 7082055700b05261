// Shared helpers of the channel, stop and volatility tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "classic/classic_support.hpp"
#include "support.hpp"

namespace channels_support {

constexpr double kN = std::numeric_limits<double>::quiet_NaN();
constexpr double kBig = 1.7976931348623157e308;

using lumenfold::test::Bar;
using lumenfold::test::run_hlc;
using classic_support::same;  // bitwise equality, every NaN equal to every NaN

// A random walk of bars with gaps between a close and the next bar's range.
inline std::vector<Bar> random_bars(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> step(0.0, 1.0);
    std::uniform_real_distribution<double> spread(0.0, 2.0);
    std::vector<Bar> bars;
    double c = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double mid = c + step(rng);
        const double h = mid + spread(rng);
        const double l = mid - spread(rng);
        c = l + (h - l) * spread(rng) * 0.5;
        bars.push_back({h, l, c});
    }
    return bars;
}

}  // namespace channels_support

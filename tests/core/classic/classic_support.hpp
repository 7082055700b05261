// Shared helpers of the classic indicator tests.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace classic_support {

// Bitwise equality, with every NaN equal to every NaN.
inline bool same(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// Prices drawn from a few levels (so ties are common) with signed zeros and,
// when nan_rate > 0, the odd NaN.
inline std::vector<double> noisy_series(std::mt19937_64& rng, std::size_t n, double nan_rate) {
    std::uniform_int_distribution<int> level(-3, 6);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> xs;
    xs.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double r = u(rng);
        if (r < nan_rate) {
            xs.push_back(std::nan(""));
        } else if (r < nan_rate + 0.05) {
            xs.push_back(-0.0);
        } else if (r < 0.5) {
            xs.push_back(static_cast<double>(level(rng)));
        } else {
            xs.push_back(static_cast<double>(level(rng)) + u(rng));
        }
    }
    return xs;
}

// A smooth random walk with no ties.
inline std::vector<double> walk(std::mt19937_64& rng, std::size_t n) {
    std::normal_distribution<double> step(0.0, 1.0);
    std::vector<double> xs;
    double p = 100.0;
    for (std::size_t i = 0; i < n; ++i) {
        p += step(rng);
        xs.push_back(p);
    }
    return xs;
}

}  // namespace classic_support

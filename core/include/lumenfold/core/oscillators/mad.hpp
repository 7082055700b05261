// Moving-average difference: the percentage by which the short simple mean
// stands above the long one, 100·(short - long)/long. Both means cover the
// partial window from bar 1, so there is no warm-up; a long mean of exactly 0
// reads 0, and long_period 0 (a NaN mean) gives NaN.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class MAD {
public:
    MAD(std::uint64_t short_period, std::uint64_t long_period) : short_sma_(short_period), long_sma_(long_period) {}

    double next(double x) noexcept {
        const double s = short_sma_.next(x);
        const double l = long_sma_.next(x);
        if (l == 0.0) return 0.0;
        return ((s - l) * 100.0) / l;
    }

private:
    SMA short_sma_;
    SMA long_sma_;
};

}  // namespace lumenfold::core

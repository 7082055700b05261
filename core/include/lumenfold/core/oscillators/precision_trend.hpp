// Precision trend: the difference of two-pole high-passes of periods length1
// and length2 (the cycles between the two lengths) as the trend, and its
// bar-to-bar change scaled by length2/2pi as the rate of change. Bars 1 to 3
// give (0, 0); bar 4's rate of change is measured against 0.
#pragma once

#include <cstdint>

#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/oscillators/trend_roc.hpp"

namespace lumenfold::core {

class PrecisionTrendAnalysis {
public:
    PrecisionTrendAnalysis(std::uint64_t length1, std::uint64_t length2) noexcept
        : hp1_(length1), hp2_(length2), roc_scale_(to_f64(length2) / kTwoPi) {}

    TrendRocOutput next(double x) noexcept {
        const double h1 = hp1_.next(x);
        const double trend = h1 - hp2_.next(x);
        const double roc = roc_scale_ * (trend - prev_trend_);
        prev_trend_ = trend;
        return {trend, roc};
    }

private:
    HighPass hp1_;
    HighPass hp2_;
    double roc_scale_;  // length2 / 2pi
    double prev_trend_ = 0.0;
};

}  // namespace lumenfold::core

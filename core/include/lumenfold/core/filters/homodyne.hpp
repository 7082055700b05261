// The homodyne period measurement shared by the Hilbert cycle measures.
//
// HomodyneProduct: the phasor (I2, Q2) of a bar, I1 - jQ and Q1 + jI smoothed
// 0.2/0.8, and the homodyne product (Re, Im) of each bar's phasor with the
// previous bar's, smoothed the same way. Its phase advance per bar, in
// degrees, gives the raw cycle period 360 / atan(Im / Re).
// next_cycle_period holds that raw period within kMaxPeriodShrink to
// kMaxPeriodGrowth times the previous period, then within kMinCyclePeriod to
// kMaxCyclePeriod bars, and blends it 0.2/0.8 with the previous period;
// smooth_cycle_period smooths the result once more, 0.33/0.67.
// Every comparison is a plain one, so a NaN passes the limits unchanged.
#pragma once

#include <cmath>

#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

// Bounds of the measured cycle period, in bars, and its largest change per
// bar as a factor of the previous period.
inline constexpr double kMinCyclePeriod = 6.0;
inline constexpr double kMaxCyclePeriod = 50.0;
inline constexpr double kMaxPeriodGrowth = 1.5;
inline constexpr double kMaxPeriodShrink = 0.67;

struct HomodyneProduct {
    double i2 = 0.0;
    double q2 = 0.0;
    double re = 0.0;
    double im = 0.0;

    // Advances by one bar: i1 and q1 are the phasor components, ji and jq the
    // same advanced by 90 degrees.
    void next(double i1, double q1, double ji, double jq) noexcept {
        const double i = (i1 - jq) * 0.2 + i2 * 0.8;
        const double q = (q1 + ji) * 0.2 + q2 * 0.8;
        re = re * 0.8 + (i * i2 + q * q2) * 0.2;
        im = (i * q2 - q * i2) * 0.2 + im * 0.8;
        i2 = i;
        q2 = q;
    }

    // The raw cycle period in bars, or `fallback` while Re or Im is zero
    // (inequality tests: a NaN Re or Im measures, and gives NaN).
    double period(double fallback) const noexcept {
        if (im != 0.0 && re != 0.0) return 360.0 / (std::atan(im / re) * kRadToDeg);
        return fallback;
    }
};

// The period that follows `prev` for the raw measurement `measured`.
inline double next_cycle_period(double prev, double measured) noexcept {
    double p = measured;
    if (p > prev * kMaxPeriodGrowth) p = prev * kMaxPeriodGrowth;
    if (p < prev * kMaxPeriodShrink) p = prev * kMaxPeriodShrink;
    if (p < kMinCyclePeriod) p = kMinCyclePeriod;
    if (p > kMaxCyclePeriod) p = kMaxCyclePeriod;
    return prev * 0.8 + p * 0.2;
}

// The smoothed period that follows `prev_smooth` once the period is `period`.
inline double smooth_cycle_period(double prev_smooth, double period) noexcept {
    return prev_smooth * 0.67 + period * 0.33;
}

}  // namespace lumenfold::core

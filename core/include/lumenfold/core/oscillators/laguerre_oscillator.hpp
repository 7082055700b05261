// Laguerre oscillator: an ultimate smoother (period `length`) of the input
// minus one Laguerre stage (factor gamma) driven by it, divided by the root
// mean square of that difference over the last rms_period bars.
//
// The smoother passes its first three inputs through. Bar 1 seeds the stage,
// puts a zero square into the window and returns 0; a zero RMS (rms_period 0)
// reads 0. The sum of squares is a running sum; rounding can leave it a hair
// below zero after a large square leaves the window, so it is clamped at 0
// before the root instead of turning every later output into NaN.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/running_window_sum.hpp"

namespace lumenfold::core {

class LaguerreOscillator {
public:
    LaguerreOscillator(std::uint64_t length, double gamma, std::uint64_t rms_period)
        : squares_(rms_period), us_(length), gamma_(gamma) {}

    double next(double x) noexcept {
        const double us = us_.next(x);
        if (!seeded_) {
            seeded_ = true;
            lag_prev_ = us;
            us_prev_ = us;
            push_square(0.0);
            return 0.0;
        }
        const double g = gamma_;
        const double lag = (us_prev_ - us * g) + g * lag_prev_;
        const double d = us - lag;
        push_square(d * d);
        const std::uint64_t n = squares_.len();
        const double rms = n == 0 ? 0.0 : std::sqrt(squares_.sum() / to_f64(n));
        lag_prev_ = lag;
        us_prev_ = us;
        return rms == 0.0 ? 0.0 : d / rms;
    }

private:
    void push_square(double q) noexcept {
        squares_.push(q);
        squares_.clamp_at_zero();
    }

    RunningWindowSum squares_;  // squared differences over the last rms_period bars
    UltimateSmoother us_;
    double gamma_;
    double lag_prev_ = 0.0;
    double us_prev_ = 0.0;
    bool seeded_ = false;
};

}  // namespace lumenfold::core

// Recursive median filter and oscillator. The filter: the median of the last
// five inputs smoothed exponentially with alpha = ((cos t + sin t) - 1)/cos t,
// t = 360/length degrees. The median orders NaN after every number (stably), so
// a NaN held in the window shifts the median up instead of making the order
// undefined.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/roofing_filter.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

// RecursiveMedian: the filter of period `length`. Outputs 1 to 4 are the
// inputs; the fifth is median·alpha + (1 - alpha)·input 4.
class RecursiveMedian {
public:
    explicit RecursiveMedian(std::uint64_t length)
        : window_(5),
          length_(length),
          alpha_(RoofingHighPass::alpha_from_angle((360.0 / to_f64(length)) * kDegToRad)) {}

    double next(double x) noexcept {
        window_.push_front(x);
        if (window_.len() > 5) window_.pop_back();
        if (window_.len() < 5) {
            value_ = x;
            return x;
        }
        value_ = (median() * alpha_) + ((1.0 - alpha_) * value_);
        return value_;
    }

    // The third of the five values held, in ascending order with NaN last;
    // equal values keep their newest-first order.
    double median() const noexcept {
        std::array<double, 5> v{};
        for (std::uint64_t i = 0; i < 5; ++i) {
            // Stable insertion: move past only values strictly after x.
            const double x = window_[i];
            std::uint64_t j = i;
            for (; j > 0 && before(x, v[j - 1]); --j) v[j] = v[j - 1];
            v[j] = x;
        }
        return v[2];
    }

    double alpha() const noexcept { return alpha_; }
    std::uint64_t length() const noexcept { return length_; }

private:
    // Strict order: numbers ascending, every NaN after every number.
    static bool before(double a, double b) noexcept { return std::isnan(b) ? !std::isnan(a) : a < b; }

    RingBuffer window_;  // last five inputs, newest at the front
    std::uint64_t length_;
    double alpha_;
    double value_ = 0.0;
};

// RecursiveMedianOscillator: the filter (length lp_period) through the
// alpha-form two-pole high-pass, its angle 0.707·360/hp_period degrees; an
// oscillator around 0. It runs from the first bar on a zero history, so the
// first output is (1 - alpha/2)^2·x.
class RecursiveMedianOscillator {
public:
    // 0.707 · 360 in double precision.
    static constexpr double kHighPassDegrees = 254.51999999999998;

    RecursiveMedianOscillator(std::uint64_t lp_period, std::uint64_t hp_period)
        : median_(lp_period),
          hp_(RoofingHighPass::from_angle((kHighPassDegrees / to_f64(hp_period)) * kDegToRad)),
          hp_period_(hp_period) {}

    double next(double x) noexcept { return hp_.step(median_.next(x)); }

    std::uint64_t lp_period() const noexcept { return median_.length(); }
    std::uint64_t hp_period() const noexcept { return hp_period_; }

private:
    RecursiveMedian median_;
    RoofingHighPass hp_;
    std::uint64_t hp_period_;
};

}  // namespace lumenfold::core

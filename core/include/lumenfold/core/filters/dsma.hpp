// Deviation-scaled moving average: an exponential average of the input whose
// factor is 5·|ss/rms(ss)|/period, capped at 1, where ss is the two-bar
// momentum x - x[2] smoothed by the super smoother recursion with the half
// period (a float, so odd periods give a half-integer) and rms is taken over
// the last `period` smoothed values. The first output is the input; the
// missing past counts as zero. An all-zero smoothed window gives the factor 0.
// The smoothed window fills as bars arrive: its missing values are zeros at
// the old end of the sum, where adding 0·0 changes nothing, so an enormous
// period costs memory only for the bars fed.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/two_pole.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class DSMA {
public:
    explicit DSMA(std::uint64_t period)
        : smoothed_(period),
          period_(period),
          ss_(to_f64(period) * 0.5) {}

    double next(double x) noexcept {
        const std::uint64_t n = bars_++;
        const double two_back = x2_;
        x2_ = x1_;
        x1_ = x;
        if (n == 0) {
            value_ = x;
            return x;
        }
        const double ss = ss_.step(x - two_back);
        smoothed_.push_front(ss);
        if (smoothed_.len() > period_) smoothed_.pop_back();
        double sum = 0.0;
        const std::uint64_t held = smoothed_.len();
        for (std::uint64_t i = 0; i < held; ++i) sum = sum + smoothed_[i] * smoothed_[i];
        const double p = to_f64(period_);
        const double ms = sum / p;
        double alpha = ms == 0.0 ? 0.0 : (std::fabs(ss / std::sqrt(ms)) * 5.0) / p;
        if (alpha > 1.0) alpha = 1.0;
        value_ = (x * alpha) + (value_ * (1.0 - alpha));
        return value_;
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    RingBuffer smoothed_;  // last `period` smoothed values, newest at the front
    std::uint64_t period_;
    SuperSmootherRecursion ss_;
    double x1_ = 0.0;  // the inputs one and two bars back (zero before the first)
    double x2_ = 0.0;
    double value_ = 0.0;
    std::uint64_t bars_ = 0;
};

}  // namespace lumenfold::core

// Directional movement with Hann weighting: plus minus minus directional
// movement of each (high, low) bar, smoothed by an exponential average with
// alpha = 1/length seeded with bar 1's value, then the Hann-weighted mean of
// the last `length` smoothed values (weight 1 for the newest). A partial
// window uses the leading weights and their own sum, not a rescaled window.
// Bar 1 gives 0; length 0 gives 0 on every bar.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "lumenfold/core/filters/hann.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"

namespace lumenfold::core {

class DMH {
public:
    explicit DMH(std::uint64_t length)
        : window_(length),
          weights_(hann_weights(length)),
          weights_sum_(weight_sum(weights_)),
          alpha_(1.0 / to_f64(length)) {}

    double next(double high, double low) noexcept {
        double plus = 0.0;
        double minus = 0.0;
        if (prev_high_ && prev_low_) {
            const double up = high - *prev_high_;
            const double down = *prev_low_ - low;
            // Equal moves, and any comparison with NaN, count for neither side.
            if (up > down && up > 0.0) plus = up;
            if (down > up && down > 0.0) minus = down;
        }
        prev_high_ = high;
        prev_low_ = low;
        const double diff = plus - minus;
        ema_ = seeded_ ? diff * alpha_ + (1.0 - alpha_) * ema_ : diff;
        seeded_ = true;

        const bool full = window_.push(ema_);
        const double s = window_.dot(weights_);
        if (full) return weights_sum_ == 0.0 ? 0.0 : s / weights_sum_;
        double w = 0.0;
        for (std::uint64_t j = 0; j < window_.len(); ++j) w = w + weights_[j];
        return w == 0.0 ? 0.0 : s / w;
    }

private:
    FirWindow window_;  // smoothed differences, newest first
    std::vector<double> weights_;
    double weights_sum_;
    double alpha_;
    std::optional<double> prev_high_;
    std::optional<double> prev_low_;
    double ema_ = 0.0;
    bool seeded_ = false;
};

}  // namespace lumenfold::core

// SuperTrend: two ratcheting bands around the mid-price (high + low)·0.5
// at ± multiplier·ATR (the exponential ATR of `period`). The upper band only
// falls (and the lower only rises) unless the previous close broke through it;
// the direction flips to short when the close falls strictly below the lower
// band and to long when it rises strictly above the upper band. The value is
// the lower band while long, the upper band while short; the direction is +1
// long, -1 short. Starts long; no warm-up placeholder.
#pragma once

#include <cstdint>

#include "lumenfold/core/classic/atr.hpp"

namespace lumenfold::core {

// A stop level and its direction: +1 long, -1 short. The TTM squeeze reuses it
// for its momentum and its squeeze flag (1 on, 0 off).
struct SuperTrendOutput {
    double value;
    std::int8_t direction;
};

class SuperTrend {
public:
    SuperTrend(std::uint64_t period, double multiplier) : atr_(period), multiplier_(multiplier) {}

    SuperTrendOutput next(double high, double low, double close) noexcept {
        const double atr = atr_.next(high, low, close);
        const double mid = (high + low) * 0.5;
        const double offset = atr * multiplier_;
        const double basic_upper = mid + offset;
        const double basic_lower = mid - offset;
        double upper = basic_upper;
        double lower = basic_lower;
        // Comparisons with a NaN operand are false.
        if (started_) {
            if (!(basic_upper < prev_upper_ || prev_close_ > prev_upper_)) upper = prev_upper_;
            if (!(basic_lower > prev_lower_ || prev_close_ < prev_lower_)) lower = prev_lower_;
        }
        if (close > upper && direction_ == -1) {
            direction_ = 1;
        } else if (close < lower && direction_ == 1) {
            direction_ = -1;
        }
        started_ = true;
        prev_close_ = close;
        prev_upper_ = upper;
        prev_lower_ = lower;
        return SuperTrendOutput{direction_ == 1 ? lower : upper, direction_};
    }

private:
    ATR atr_;
    // The previous bar's close and final bands, all present from the second bar.
    double prev_close_ = 0.0;
    double prev_upper_ = 0.0;
    double prev_lower_ = 0.0;
    bool started_ = false;
    double multiplier_;
    std::int8_t direction_ = 1;
};

}  // namespace lumenfold::core

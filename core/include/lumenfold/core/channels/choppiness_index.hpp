// Choppiness index: 100·log10(sum of true ranges / (highest high - lowest
// low)) / log10(period) over the last `period` bars; near 100 in a sideways
// market, low in a trending one. Returns the neutral 50 until the window is
// full, and 100 for a window with no range (highest high = lowest low).
// The first bar's true range is high - low. The sum is taken afresh each bar,
// from the newest range to the oldest, so a NaN range makes the output NaN
// only while it is in the window.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/channels/window_extreme.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class ChoppinessIndex {
public:
    explicit ChoppinessIndex(std::uint64_t period)
        : ranges_(period), highs_(period), lows_(period), period_(period) {}

    double next(double high, double low, double close) noexcept {
        const double tr = started_ ? true_range(high, low, prev_close_) : high - low;
        started_ = true;
        prev_close_ = close;
        ranges_.push(tr);
        if (ranges_.len() > period_) ranges_.pop();
        // The extremes' tie rule (oldest stands) does not matter here: only
        // their difference and its test against 0 are used.
        const double hh = highs_.next(high);
        const double ll = lows_.next(low);
        const std::uint64_t n = ranges_.len();
        if (n < period_) return 50.0;
        double sum = 0.0;
        for (std::uint64_t i = n; i-- > 0;) sum = sum + ranges_[i];
        const double range = hh - ll;
        if (range == 0.0) return 100.0;
        return (std::log10(sum / range) * 100.0) / std::log10(to_f64(period_));
    }

private:
    double prev_close_ = 0.0;
    bool started_ = false;  // whether prev_close_ holds a close
    RingBuffer ranges_;     // true ranges of the window, oldest at the front
    WindowHighest highs_;
    WindowLowest lows_;
    std::uint64_t period_;
};

}  // namespace lumenfold::core

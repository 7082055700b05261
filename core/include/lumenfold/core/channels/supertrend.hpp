// SuperTrend: two ratcheting bands around the mid-price (high + low)·0.5
// at ± multiplier·ATR (the exponential ATR of `period`). The upper band only
// falls (and the lower only rises) unless the previous close broke through it;
// the direction flips to short when the close falls strictly below the lower
// band and to long when it rises strictly above the upper band. The value is
// the lower band while long, the upper band while short; the direction is +1
// long, -1 short. Starts long; no warm-up placeholder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

// A stop level and its direction: +1 long, -1 short. The TTM squeeze reuses it
// for its momentum and its squeeze flag (1 on, 0 off).
struct SuperTrendOutput {
    double value;
    std::int8_t direction;
};

namespace lanes {

// SuperTrend's steps over bars 1 .. count of high, low and close (index 0 the
// bar before them) into out[0 .. count): the average true range tr·alpha +
// atr·(1 - alpha), the bands and the direction, from state = {atr, upper band,
// lower band, 1 long / 0 short} of the bar before, left at the last bar's.
extern const Kernel<void(const double* high, const double* low, const double* close, std::size_t count, double alpha, double multiplier, double* state, SuperTrendOutput* out)> supertrend_steps;

}  // namespace lanes

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

    bool batch_ready() const noexcept { return !started_; }

    // Batch form: the first bar stepped, then chunk by chunk the true ranges
    // in SIMD lanes and the recursion with its band and direction choices as
    // blends rather than branches.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        if (n == 0) return;
        out.put(0, next(high[0], low[0], close[0]));
        double state[4] = {high[0] - low[0], prev_upper_, prev_lower_, direction_ == 1 ? 1.0 : 0.0};
        std::vector<SuperTrendOutput> results;
        lanes::each_chunk(1, 1, [&](std::size_t first, std::size_t count, const double* h, const double* l,
                                    const double* c) {
            results.resize(count);
            lanes::supertrend_steps(h, l, c, count, atr_.alpha(), multiplier_, state, results.data());
            out.store(first, count, results.data());
        }, high, low, close);
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

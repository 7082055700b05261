// True range of one bar and the average true range, both in price units.
//
// true_range: max(max(high - low, |high - prev close|), |low - prev close|)
// with NaN-ignoring maxima in that fixed order; every range-based indicator
// computes it this way and keeps its own previous close.
//
// ATR: an exponential average of the true range with alpha = 2/(period + 1),
// seeded by the first bar's high - low (not Wilder's smoothing). There is no
// warm-up placeholder: the first bar already has an output.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// ATR of count bars, high, low and close holding their bars after the one
// before them: value = true_range(high[k + 1], low[k + 1], close[k]) * alpha +
// value * one_minus_alpha from the given value, out[k] = value; returns the
// last value.
extern const Kernel<double(const double* high, const double* low, const double* close, std::size_t count, double alpha, double one_minus_alpha, double value, double* out)> atr_run;

// The ATR of a chunk, as a map (map_bars) that carries the average from one
// chunk to the next.
struct AtrMap {
    double alpha;
    double one_minus_alpha;
    double* value;
    void operator()(std::size_t count, double* out, const double* high, const double* low, const double* close) const {
        *value = atr_run(high, low, close, count, alpha, one_minus_alpha, *value, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

// Without a branch: which term wins changes at random on bars with gaps.
inline double true_range(double high, double low, double prev_close) noexcept {
    const double d0 = high - low;
    const double d1 = std::fabs(high - prev_close);
    const double d2 = std::fabs(low - prev_close);
    return max_num_abs(max_num_abs(d0, d1), d2);
}

class ATR {
public:
    explicit ATR(std::uint64_t period)
        : period_(period), alpha_(2.0 / (to_f64(period) + 1.0)), one_minus_alpha_(1.0 - alpha_) {}

    double next(double high, double low, double close) noexcept {
        // The previous close and the average appear together on the first bar.
        if (!started_) {
            started_ = true;
            prev_close_ = close;
            value_ = high - low;
            return value_;
        }
        const double tr = true_range(high, low, prev_close_);
        prev_close_ = close;
        // Two products and one addition, never fused.
        value_ = tr * alpha_ + value_ * one_minus_alpha_;
        return value_;
    }

    bool batch_ready() const noexcept { return !started_; }

    // Batch form: the true ranges in SIMD lanes one group of bars ahead of
    // the average.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) const {
        if (std::min({high.size(), low.size(), close.size()}) == 0) return;
        double value = high[0] - low[0];
        out.put(0, value);
        lanes::map_bars<double>(out, 1, 1, lanes::AtrMap{alpha_, one_minus_alpha_, &value}, high, low, close);
    }

    std::uint64_t period() const noexcept { return period_; }
    double alpha() const noexcept { return alpha_; }

private:
    double prev_close_ = 0.0;
    double value_ = 0.0;
    bool started_ = false;
    std::uint64_t period_;
    double alpha_;
    double one_minus_alpha_;
};

}  // namespace lumenfold::core

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

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

namespace detail {

// max_num(a, b) for a b that is never -0 (an absolute value): b wins ties,
// which also ranks +0 above -0, and a NaN operand is ignored. Cheaper than the
// general form on the hot path.
inline double max_num_abs(double a, double b) noexcept { return (b >= a || a != a) ? b : a; }

}  // namespace detail

inline double true_range(double high, double low, double prev_close) noexcept {
    const double d0 = high - low;
    const double d1 = std::fabs(high - prev_close);
    const double d2 = std::fabs(low - prev_close);
    return detail::max_num_abs(detail::max_num_abs(d0, d1), d2);
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

    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) const noexcept {
        const std::size_t n = high.size();
        if (n == 0) return;
        double prev_close = close[0];
        double value = high[0] - low[0];
        out.put(0, value);
        for (std::size_t i = 1; i < n; ++i) {
            const double tr = true_range(high[i], low[i], prev_close);
            prev_close = close[i];
            value = tr * alpha_ + value * one_minus_alpha_;
            out.put(i, value);
        }
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

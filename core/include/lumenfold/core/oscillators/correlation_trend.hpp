// Correlation trend: the Pearson correlation of the last `length` prices with
// a line rising toward the newest bar (ordinate -i for the value i bars back),
// in [-1, +1]. Bars 1 to length - 1 give 0; a window without variance (or
// holding a NaN or infinity, which makes the variance NaN) gives 0, as do
// lengths 0 and 1. The sums are recomputed over the window each bar.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Correlation with a line of the bars whose windows are x[k .. k+p-1] (x
// holds count + p - 1 values), the value i bars back at ordinate -i: from the
// newest value on, sx += xi, sxx += xi * xi, sxy = sxy - xi * i; then
// varx = sxx * p - sx * sx, and out[k] = (sxy * p - sx * sum_y) /
// sqrt(varx * vary) where varx > 0, else 0 (vary > 0 given).
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double sum_y, double vary, double* out)> correlation_trend_outputs;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class CorrelationTrend {
public:
    explicit CorrelationTrend(std::uint64_t length) : window_(length) {
        for (std::uint64_t i = 0; i < length; ++i) {
            const double fi = to_f64(i);
            sum_y_ = sum_y_ - fi;
            sum_yy_ = sum_yy_ + fi * fi;
        }
    }

    double next(double x) noexcept {
        window_.push(x);
        const std::uint64_t length = window_.length();
        if (window_.len() < length) return 0.0;
        const double n = to_f64(length);
        double sx = 0.0;
        double sxx = 0.0;
        double sxy = 0.0;
        for (std::uint64_t i = 0; i < length; ++i) {
            const double xi = window_[i];
            sx = sx + xi;
            sxx = sxx + xi * xi;
            sxy = sxy - xi * to_f64(i);
        }
        const double varx = sxx * n - sx * sx;
        if (!(varx > 0.0)) return 0.0;
        const double vary = sum_yy_ * n - sum_y_ * sum_y_;
        if (!(vary > 0.0)) return 0.0;
        return (sxy * n - sx * sum_y_) / std::sqrt(varx * vary);
    }

    bool batch_ready() const noexcept { return window_.len() == 0; }

    // Batch form: 0 until the window is full (and on every bar when the
    // ordinates have no variance), then each bar's sums read from the series
    // in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t p = static_cast<std::size_t>(window_.length());
        const double n_f = to_f64(window_.length());
        const double vary = sum_yy_ * n_f - sum_y_ * sum_y_;
        const std::size_t first = p == 0 || !(vary > 0.0) ? n : std::min(p - 1, n);
        for (std::size_t t = 0; t < first; ++t) out.put(t, 0.0);
        lanes::run_chunks(out, p - 1, first, [&](std::size_t count, double* r, const double* v) {
            lanes::correlation_trend_outputs(v, count, p, sum_y_, vary, r);
        }, x);
    }

private:
    FirWindow window_;  // newest first
    double sum_y_ = 0.0;   // sum of the ordinates -i
    double sum_yy_ = 0.0;  // sum of their squares
};

}  // namespace lumenfold::core

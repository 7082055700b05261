// Correlation trend: the Pearson correlation of the last `length` prices with
// a line rising toward the newest bar (ordinate -i for the value i bars back),
// in [-1, +1]. Bars 1 to length - 1 give 0; a window without variance (or
// holding a NaN or infinity, which makes the variance NaN) gives 0, as do
// lengths 0 and 1. The sums are recomputed over the window each bar.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"

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

private:
    FirWindow window_;  // newest first
    double sum_y_ = 0.0;   // sum of the ordinates -i
    double sum_yy_ = 0.0;  // sum of their squares
};

}  // namespace lumenfold::core

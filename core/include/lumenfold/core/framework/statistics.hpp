// Rolling statistics over partial windows from the first input.
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

// Population standard deviation from running sums of x and x^2. A negative or
// NaN variance (rounding, or a NaN that the sums never forget) gives 0.
class StandardDeviation {
public:
    explicit StandardDeviation(std::uint64_t period) : window_(period), period_(period) {}

    double next(double x) noexcept {
        window_.push(x);
        sum_ = sum_ + x;
        sum_sq_ = x * x + sum_sq_;
        if (window_.len() > period_) {
            const double old = window_.pop();
            sum_ = sum_ - old;
            sum_sq_ = sum_sq_ - old * old;
        }
        const double n = to_f64(window_.len());
        const double mean = sum_ / n;
        const double variance = sum_sq_ / n - mean * mean;
        return std::sqrt(variance > 0.0 ? variance : 0.0);
    }

private:
    RingBuffer window_;
    std::uint64_t period_;
    double sum_ = 0.0;
    double sum_sq_ = 0.0;
};

// Least-squares line over the window (x = 0 for the oldest value up to n-1 for
// the newest); the output is the line's value at the newest point.
class LinearRegression {
public:
    explicit LinearRegression(std::uint64_t period) : window_(period), period_(period) {
        for (std::uint64_t i = 0; i < period; ++i) {
            const double fi = to_f64(i);
            sum_x_ = sum_x_ + fi;
            sum_x2_ = sum_x2_ + fi * fi;
        }
    }

    double next(double x) noexcept {
        window_.push(x);
        if (window_.len() > period_) window_.pop();
        const std::uint64_t n = window_.len();
        double sum_y = 0.0;
        double sum_xy = 0.0;
        double sum_x = sum_x_;
        double sum_x2 = sum_x2_;
        double big_n = to_f64(period_);
        if (n < period_) {
            sum_x = 0.0;
            sum_x2 = 0.0;
            big_n = to_f64(n);
            for (std::uint64_t i = 0; i < n; ++i) {
                const double fi = to_f64(i);
                const double y = window_[i];
                sum_x = sum_x + fi;
                sum_x2 = sum_x2 + fi * fi;
                sum_y = sum_y + y;
                sum_xy = sum_xy + y * fi;
            }
        } else {
            for (std::uint64_t i = 0; i < n; ++i) {
                const double y = window_[i];
                sum_y = sum_y + y;
                sum_xy = sum_xy + y * to_f64(i);
            }
        }
        const double denominator = sum_x2 * big_n - sum_x * sum_x;
        if (denominator == 0.0) return x;
        const double slope = (big_n * sum_xy - sum_y * sum_x) / denominator;
        const double intercept = (sum_y - sum_x * slope) / big_n;
        return (big_n - 1.0) * slope + intercept;
    }

    // Over a full window: the sum of the positions 0..period-1 and the
    // regression's denominator, as `next` forms them.
    double full_sum_x() const noexcept { return sum_x_; }
    double full_denominator() const noexcept { return sum_x2_ * to_f64(period_) - sum_x_ * sum_x_; }

private:
    RingBuffer window_;
    std::uint64_t period_;
    double sum_x_ = 0.0;
    double sum_x2_ = 0.0;
};

}  // namespace lumenfold::core

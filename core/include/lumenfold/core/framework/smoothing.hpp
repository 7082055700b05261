// The shared moving averages. All three answer from the first input on:
// SMA and WMA over the partial window, EMA seeded with the first input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/running_window_sum.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

// Simple moving average over a running sum (never recomputed, so a NaN input
// is never forgotten). Period 0 yields NaN on every bar.
class SMA {
public:
    explicit SMA(std::uint64_t period) : sum_(period), period_(period) {}

    double next(double x) noexcept { return sum_.push(x) / to_f64(sum_.len()); }

    // Period 0 holds no value and answers NaN on every bar, whatever it was fed.
    bool batch_ready() const noexcept { return sum_.len() == 0; }

    // Batch form: the window is read from the series itself; the running sum
    // bar by bar, the divisions of full windows in lanes a group at a time.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        const std::size_t full = period_ < n ? static_cast<std::size_t>(period_) : n;
        double sum = 0.0;
        for (std::size_t i = 0; i < full; ++i) {
            sum = x[i] + sum;
            out.put(i, sum / to_f64(i + 1));
        }
        lanes::map_bars<double>(out, full, full, lanes::RunningMeanMap{full, to_f64(period_), &sum}, x);
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    RunningWindowSum sum_;
    std::uint64_t period_;
};

// Linearly weighted moving average: weight 1 for the oldest value up to n for
// the newest, recomputed from the window each bar. Empty window gives 0.
class WMA {
public:
    explicit WMA(std::uint64_t period) : window_(period), period_(period) {}

    double next(double x) noexcept {
        window_.push(x);
        if (window_.len() > period_) window_.pop();
        double num = 0.0;
        double den = 0.0;
        const std::uint64_t n = window_.len();
        for (std::uint64_t i = 0; i < n; ++i) {
            const double w = to_f64(i + 1);
            num = num + window_[i] * w;
            den = den + w;
        }
        return den == 0.0 ? 0.0 : num / den;
    }

    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: the partial windows of the first bars one by one, then the
    // full windows read from the series in SIMD lanes.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        const std::size_t n = x.size();
        if (period_ == 0) {
            for (std::size_t i = 0; i < n; ++i) out.put(i, 0.0);
            return;
        }
        const std::size_t p = static_cast<std::size_t>(period_);
        const std::size_t partial = std::min(p - 1, n);
        for (std::size_t i = 0; i < partial; ++i) {
            double num = 0.0;
            double den = 0.0;
            for (std::size_t j = 0; j <= i; ++j) {
                const double w = to_f64(j + 1);
                num = num + x[j] * w;
                den = den + w;
            }
            out.put(i, num / den);
        }
        if (partial == n) return;
        std::vector<double> weights(p);
        double den = 0.0;
        for (std::size_t j = 0; j < p; ++j) {
            weights[j] = to_f64(j + 1);
            den = den + weights[j];
        }
        // Every input is read p times, from a chunk with the p - 1 inputs before it.
        lanes::map_bars<double>(out, p - 1, partial, lanes::WeightedMeanMap{p, weights.data(), false, den}, x);
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    RingBuffer window_;
    std::uint64_t period_;
};

// Exponential average with alpha = 2/(period+1); the first output is the first
// input. Two products and one addition, never fused.
class EMA {
public:
    explicit EMA(std::uint64_t period) : period_(period), alpha_(2.0 / (to_f64(period) + 1.0)) {}

    double next(double x) noexcept {
        const double out = value_ ? x * alpha_ + *value_ * (1.0 - alpha_) : x;
        value_ = out;
        return out;
    }

    bool batch_ready() const noexcept { return !value_; }

    template <class O, Series S>
    void batch(const O& out, const S& x) const noexcept {
        const std::size_t n = x.size();
        if (n == 0) return;
        const double keep = 1.0 - alpha_;
        double v = x[0];
        out.put(0, v);
        for (std::size_t i = 1; i < n; ++i) {
            v = x[i] * alpha_ + v * keep;
            out.put(i, v);
        }
    }

    double alpha() const noexcept { return alpha_; }
    std::uint64_t period() const noexcept { return period_; }

private:
    std::optional<double> value_;
    std::uint64_t period_;
    double alpha_;
};

}  // namespace lumenfold::core

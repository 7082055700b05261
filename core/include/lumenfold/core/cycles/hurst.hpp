// Hurst exponent: the rescaled range of the last n inputs (n = max(length, 2))
// as a power of n, log_n(R/S), with R the range of the cumulated deviations
// from the window mean and S the population standard deviation. NaN for the
// first n - 1 bars and while a NaN is in the window; 0.5 for a window without
// variance.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Rescaled ranges of the windows x[k .. k+p-1] (oldest first), k < count:
// the mean of the sum added oldest first, the range hi - lo of the running
// deviation sums (from -max and +max, a greater or lesser sum replacing
// them), the population variance of squared deviations added oldest first;
// ratio[k] = range / sqrt(variance), var[k] the variance. Arrays are padded
// (x for count + p - 1 values).
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double* ratio, double* var)> rescaled_ranges;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class HurstExponent {
public:
    explicit HurstExponent(std::uint64_t length) : n_(std::max<std::uint64_t>(length, 2)), window_(n_) {}

    double next(double x) noexcept {
        window_.push(x);
        if (window_.len() > n_) window_.pop();
        if (window_.len() < n_) return kNaN;

        const double n = to_f64(n_);
        double sum = 0.0;
        for (std::uint64_t i = 0; i < n_; ++i) sum = sum + window_[i];
        const double mean = sum / n;

        // The n partial sums of the deviations, oldest first.
        double y = 0.0;
        double hi = -kMaxF64;
        double lo = kMaxF64;
        for (std::uint64_t i = 0; i < n_; ++i) {
            y = y + (window_[i] - mean);
            if (y > hi) hi = y;
            if (y < lo) lo = y;
        }
        double squares = 0.0;
        for (std::uint64_t i = 0; i < n_; ++i) {
            const double d = window_[i] - mean;
            squares = squares + d * d;
        }
        const double var = squares / n;
        if (var == 0.0) return 0.5;
        return std::log((hi - lo) / std::sqrt(var)) / std::log(n);
    }

    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: every window read from the series, the ranges and variances
    // of the bars in SIMD lanes, the logarithms bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& x) const {
        // A copy of the sink: a local that the stores it makes cannot alias.
        each(x, [out](std::size_t t, double h) { out.put(t, h); });
    }

    // The outputs `next` gives over the series, as f(bar, exponent) in bar
    // order, computed as the batch form does.
    template <Series S, class F>
    void each(const S& x, F f) const {
        const std::size_t p = static_cast<std::size_t>(n_);
        const std::size_t warm = std::min(p - 1, x.size());
        for (std::size_t t = 0; t < warm; ++t) f(t, kNaN);
        const double log_n = std::log(to_f64(n_));
        lanes::each_output_pair(x, p - 1, [p](const double* v, std::size_t count, double* ratio, double* var) {
            lanes::rescaled_ranges(v, count, p, ratio, var);
        }, [&](std::size_t t, double ratio, double var) { f(t, var == 0.0 ? 0.5 : std::log(ratio) / log_n); });
    }

private:
    std::uint64_t n_;    // window length, divisor and logarithm base
    RingBuffer window_;  // the last n inputs, oldest first
};

}  // namespace lumenfold::core

// Arnaud Legoux moving average: the last `period` inputs weighted by a
// Gaussian centred at offset·(period − 1) (0 = oldest) with width
// period/sigma, the weights normalised to sum 1. While the window fills, the
// newest weights are used and renormalised, so there is no NaN warm-up and
// the first output is the first input (within rounding). Period 0 gives 0.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/allocation.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class ALMA {
public:
    // The window is created before the weights, so a period too large to
    // allocate fails there before the weight loop runs.
    ALMA(std::uint64_t period, double offset, double sigma)
        : window_(period), weights_(weights(period, offset, sigma)), period_(period), offset_(offset), sigma_(sigma) {}

    // The normalised weights, index 0 for the oldest value of a full window.
    static std::vector<double> weights(std::uint64_t period, double offset, double sigma) {
        const double n = to_f64(period);
        const double m = offset * (n - 1.0);
        const double s = n / sigma;
        const double d = s * s + s * s;
        std::vector<double> w;
        reserve(w, period);
        double sum = 0.0;
        for (std::uint64_t i = 0; i < period; ++i) {
            const double dx = to_f64(i) - m;
            const double wi = std::exp(-(dx * dx) / d);
            w.push_back(wi);
            sum += wi;
        }
        for (double& wi : w) wi = wi / sum;
        return w;
    }

    double next(double x) noexcept {
        window_.push(x);
        if (window_.len() > period_) window_.pop();
        const std::uint64_t k = window_.len();
        if (k == 0) return 0.0;
        if (k == period_) {
            double sum = 0.0;
            for (std::uint64_t j = 0; j < k; ++j) sum = sum + window_[j] * weights_[j];
            return sum;
        }
        // Partial window: the last k weights, renormalised.
        const std::uint64_t first = period_ - k;
        double num = 0.0;
        double den = 0.0;
        for (std::uint64_t j = 0; j < k; ++j) {
            const double w = weights_[first + j];
            num = num + window_[j] * w;
            den = den + w;
        }
        return den == 0.0 ? 0.0 : num / den;
    }

    bool batch_ready() const noexcept { return window_.empty(); }

    // Batch form: the partial windows of the first bars stepped, then the full
    // windows read from the series in SIMD lanes (their sum divided by 1,
    // which leaves it unchanged).
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::size_t partial = period_ == 0 ? n : static_cast<std::size_t>(std::min<std::uint64_t>(period_ - 1, n));
        for (std::size_t i = 0; i < partial; ++i) out.put(i, next(x[i]));
        if (partial == n) return;
        const std::size_t p = static_cast<std::size_t>(period_);
        lanes::map_bars<double>(out, p - 1, partial, lanes::WeightedMeanMap{p, weights_.data(), false, 1.0}, x);
    }

    std::uint64_t period() const noexcept { return period_; }
    double offset() const noexcept { return offset_; }
    double sigma() const noexcept { return sigma_; }

private:
    RingBuffer window_;  // oldest at the front
    std::vector<double> weights_;
    std::uint64_t period_;
    double offset_;
    double sigma_;
};

}  // namespace lumenfold::core

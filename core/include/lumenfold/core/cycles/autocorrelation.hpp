// Autocorrelation: the price is smoothed by an ultimate smoother of period 20
// (its first three inputs pass through), and every bar returns the Pearson
// correlation of the last `length` smoothed values with the `length` values
// k bars further back, for the lags k = 0..num_lags-1. Before the first input
// the history reads as zeros, so there is no warm-up. A segment without
// variance (constant, too short, or NaN) gives 1 at lag 0 and 0 elsewhere.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "lumenfold/core/filters/ultimate_smoother.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/panic.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class EhlersAutocorrelation {
public:
    EhlersAutocorrelation(std::uint64_t length, std::uint64_t num_lags)
        : window_(history(length, num_lags)), w_(length + num_lags), length_(length), num_lags_(num_lags) {}

    std::vector<double> next(double x) {
        window_.push_front(smoother_.next(x));
        if (window_.len() > length_ + num_lags_) window_.pop_back();

        std::vector<double> out(num_lags_, 0.0);
        if (num_lags_ == 0) return out;
        if (length_ == 0) {
            out[0] = 1.0;
            return out;
        }
        // The history read once, newest first, zeros before the first input.
        const std::uint64_t held = length_ + num_lags_;
        for (std::uint64_t i = 0; i < held; ++i) w_[i] = window_.get_or(i, 0.0);
        const double n = to_f64(length_);
        // The lag-0 segment is the same for every lag.
        double sa = 0.0;
        double saa = 0.0;
        for (std::uint64_t i = 0; i < length_; ++i) {
            const double a = w_[i];
            sa = sa + a;
            saa = saa + a * a;
        }
        const double dx = saa * n - sa * sa;
        if (!(dx > 0.0)) {
            out[0] = 1.0;
            return out;
        }
        // Each lag's sums run in their own order; four lags advance side by side.
        for (std::uint64_t k = 0; k < num_lags_; k += 4) {
            const std::uint64_t m = std::min<std::uint64_t>(4, num_lags_ - k);
            double sb[4] = {};
            double sab[4] = {};
            double sbb[4] = {};
            for (std::uint64_t i = 0; i < length_; ++i) {
                const double a = w_[i];
                for (std::uint64_t g = 0; g < m; ++g) {
                    const double b = w_[i + k + g];
                    sb[g] = sb[g] + b;
                    sab[g] = sab[g] + a * b;
                    sbb[g] = sbb[g] + b * b;
                }
            }
            for (std::uint64_t g = 0; g < m; ++g) {
                const double dy = sbb[g] * n - sb[g] * sb[g];
                if (dy > 0.0) {
                    out[k + g] = (sab[g] * n - sa * sb[g]) / std::sqrt(dx * dy);
                } else if (k + g == 0) {
                    out[0] = 1.0;
                }
            }
        }
        return out;
    }

private:
    // length + num_lags values are kept; a sum that wraps cannot be sized.
    static std::uint64_t history(std::uint64_t length, std::uint64_t num_lags) {
        if (length + num_lags < length) throw Panic("capacity overflow");
        return length + num_lags;
    }

    RingBuffer window_;  // smoothed values, newest first
    std::vector<double> w_;  // the window copied out for the sums
    std::uint64_t length_;
    std::uint64_t num_lags_;
    UltimateSmoother smoother_{20};
};

}  // namespace lumenfold::core

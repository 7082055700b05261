// Autocorrelation: the price is smoothed by an ultimate smoother of period 20
// (its first three inputs pass through), and every bar returns the Pearson
// correlation of the last `length` smoothed values with the `length` values
// k bars further back, for the lags k = 0..num_lags-1. Before the first input
// the history reads as zeros, so there is no warm-up. A segment without
// variance (constant, too short, or NaN) gives 1 at lag 0 and 0 elsewhere.
#pragma once

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
        : window_(history(length, num_lags)), length_(length), num_lags_(num_lags) {}

    std::vector<double> next(double x) {
        window_.push_front(smoother_.next(x));
        if (window_.len() > length_ + num_lags_) window_.pop_back();

        std::vector<double> out(num_lags_, 0.0);
        if (num_lags_ == 0) return out;
        if (length_ == 0) {
            out[0] = 1.0;
            return out;
        }
        const double n = to_f64(length_);
        // The lag-0 segment is the same for every lag.
        double sa = 0.0;
        double saa = 0.0;
        for (std::uint64_t i = 0; i < length_; ++i) {
            const double a = value(i);
            sa = sa + a;
            saa = saa + a * a;
        }
        const double dx = saa * n - sa * sa;
        for (std::uint64_t k = 0; k < num_lags_; ++k) {
            double r = k == 0 ? 1.0 : 0.0;
            if (dx > 0.0) {
                double sb = 0.0;
                double sab = 0.0;
                double sbb = 0.0;
                for (std::uint64_t i = 0; i < length_; ++i) {
                    const double a = value(i);
                    const double b = value(i + k);
                    sb = sb + b;
                    sab = sab + a * b;
                    sbb = sbb + b * b;
                }
                const double dy = sbb * n - sb * sb;
                if (dy > 0.0) r = (sab * n - sa * sb) / std::sqrt(dx * dy);
            }
            out[k] = r;
        }
        return out;
    }

private:
    // length + num_lags values are kept; a sum that wraps cannot be sized.
    static std::uint64_t history(std::uint64_t length, std::uint64_t num_lags) {
        if (length + num_lags < length) throw Panic("capacity overflow");
        return length + num_lags;
    }

    // The smoothed value i bars back; 0 before the first input.
    double value(std::uint64_t i) const noexcept { return window_.get_or(i, 0.0); }

    RingBuffer window_;  // smoothed values, newest first
    std::uint64_t length_;
    std::uint64_t num_lags_;
    UltimateSmoother smoother_{20};
};

}  // namespace lumenfold::core

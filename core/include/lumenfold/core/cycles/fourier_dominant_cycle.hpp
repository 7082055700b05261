// Fourier dominant cycle: the price, high-passed at 40 bars and smoothed by a
// 1-2-3-3-2-1 filter, is transformed over its last `window_len` values at
// every integer period 8..50. Each period's power relative to the strongest
// becomes a decibel figure db (capped at 20); the output is the centre of
// gravity of the periods with db < 3, weighted by 3 - db, which keeps only
// the very top of the spectrum. 0 for the first window_len - 1 bars and
// whenever no power is positive (a flat or NaN window).
#pragma once

#include <cmath>
#include <cstdint>

#include "lumenfold/core/cycles/period_basis.hpp"
#include "lumenfold/core/filters/high_pass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class FourierDominantCycle {
public:
    explicit FourierDominantCycle(std::uint64_t window_len)
        : window_(window_len), window_len_(window_len), basis_(kMinPeriod, kMaxPeriod, 0, window_len) {}

    double next(double x) {
        const double h = high_pass_.next(x);
        const double clean = (h_[4] + ((((h + 2.0 * h_[0]) + 3.0 * h_[1]) + 3.0 * h_[2]) + 2.0 * h_[3])) / 12.0;
        for (int i = 4; i > 0; --i) h_[i] = h_[i - 1];
        h_[0] = h;
        window_.push_front(clean);
        if (window_.len() > window_len_) window_.pop_back();
        if (window_.len() < window_len_) return 0.0;

        double power[kMaxPeriod + 1] = {};
        double max = 0.0;
        basis_.each([this](std::uint64_t i) { return window_[i]; }, [&](std::uint64_t p, Projection c) {
            power[p] = c.re * c.re + c.im * c.im;
            max = std::fmax(max, power[p]);
        });
        if (!(max > 0.0)) return 0.0;
        double num = 0.0;
        double den = 0.0;
        for (std::uint64_t p = kMinPeriod; p <= kMaxPeriod; ++p) {
            if (!(power[p] > 0.0)) continue;
            // At most 0.9 of the maximum gives db above 10: no weight, and
            // no logarithm needed.
            if (power[p] <= 0.9 * max) continue;
            const double db = std::fmin(-10.0 * std::log10(0.01 / ((power[p] * -0.99) / max + 1.0)), 20.0);
            if (db < 3.0) {
                num = num + (3.0 - db) * to_f64(p);
                den = den + (3.0 - db);
            }
        }
        return den == 0.0 ? 0.0 : num / den;
    }

private:
    static constexpr std::uint64_t kMinPeriod = 8;
    static constexpr std::uint64_t kMaxPeriod = 50;

    RingBuffer window_;  // smoothed values, newest first
    std::uint64_t window_len_;
    PeriodBasis basis_;  // terms n = 0..window_len-1, n bars back
    HighPass high_pass_{40};
    double h_[5] = {};  // the high-pass outputs of the five previous bars, newest first
};

}  // namespace lumenfold::core

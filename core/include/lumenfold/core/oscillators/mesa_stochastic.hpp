// MESA stochastic: the roofing-filtered price (a two-pole high-pass of period
// hp, then a super smoother of period ss; 0 on bars 1 and 2) placed between the
// lowest and highest of its last `len` values and scaled to 0..100, then
// smoothed by a second super smoother of period ss (passing its first three
// values through).
//
// The window is used partly filled from bar 1. A range within 1e-10 of 0
// reads 0. The extremes start at -+infinity, so an empty window (len 0) gives
// NaN; NaN values never become an extreme.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "lumenfold/core/filters/roofing_filter.hpp"
#include "lumenfold/core/filters/super_smoother.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class MESAStochastic {
public:
    MESAStochastic(std::uint64_t len, std::uint64_t hp, std::uint64_t ss)
        : front_(hp, ss), window_(len), out_(ss), len_(len) {}

    double next(double x) noexcept {
        const double filt = front_.next(x);
        window_.push(filt);
        if (window_.len() > len_) window_.pop();
        // Unlike the shared window extremes, the scan starts from the
        // infinities: a window without a number keeps an infinite range.
        double highest = -std::numeric_limits<double>::infinity();
        double lowest = std::numeric_limits<double>::infinity();
        const std::uint64_t n = window_.len();
        for (std::uint64_t i = 0; i < n; ++i) {
            const double v = window_[i];
            highest = v > highest ? v : highest;
            lowest = v < lowest ? v : lowest;
        }
        const double range = highest - lowest;
        const double raw = std::fabs(range) > 1e-10 ? ((filt - lowest) / range) * 100.0 : 0.0;
        return out_.next(raw);
    }

    std::uint64_t len() const noexcept { return len_; }
    std::uint64_t hp() const noexcept { return front_.hp_period(); }
    std::uint64_t ss() const noexcept { return front_.ss_period(); }

private:
    RoofingFilter front_;
    RingBuffer window_;  // the last len filtered values, oldest first
    SuperSmoother out_;
    std::uint64_t len_;
};

}  // namespace lumenfold::core

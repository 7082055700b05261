// Channel cycle: each price normalised into the channel of the last P prices
// (itself included) and centred on zero, q = (x - min)/(max - min) - 0.5 (0
// for a flat channel), then passed through the band-pass of bandwidth 0.2 at
// period P. The trigger is the band-pass slope scaled by P/2pi. Bars 1 to
// P - 1 return (0, 0) with the filter at rest; it starts on bar P. NaN prices
// in the window are skipped by the channel scan.
#pragma once

#include <cstdint>

#include "lumenfold/core/cycles/cycle_outputs.hpp"
#include "lumenfold/core/filters/bandpass.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"

namespace lumenfold::core {

class ChannelCycle {
public:
    explicit ChannelCycle(std::uint64_t period)
        : window_(period), filter_(period, 0.2), step_(kTwoPi / to_f64(period)), period_(period) {}

    CyberCycleOutput next(double x) noexcept {
        window_.push(x);
        if (window_.len() > period_) window_.pop();
        if (window_.len() < period_) return {0.0, 0.0};
        double hi = -kMaxF64;
        double lo = kMaxF64;
        for (std::uint64_t i = 0; i < window_.len(); ++i) {
            const double v = window_[i];
            if (v > hi) hi = v;
            if (v < lo) lo = v;
        }
        const double q = hi != lo ? (x - lo) / (hi - lo) - 0.5 : 0.0;
        const double bp = filter_.next(q);
        const double slope = (bp - bp1_) / step_;
        bp1_ = bp;
        return {bp, slope};
    }

    std::uint64_t period() const noexcept { return period_; }

private:
    RingBuffer window_;  // the last P prices, oldest first
    BandPass filter_;
    double step_;        // 2pi/P
    double bp1_ = 0.0;   // the previous band-pass output
    std::uint64_t period_;
};

}  // namespace lumenfold::core

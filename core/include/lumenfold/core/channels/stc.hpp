// Schaff trend cycle: the MACD line (fast minus slow first-input-seeded
// exponential average) through two stochastic stages, each smoothed by a
// half-weight exponential filter; an oscillator between 0 and 100. Both
// stages fill on bar `cycle_period`, so the first cycle_period − 1 outputs
// are 0. A flat window gives a stochastic value of 0; cycle period 0 leaves
// every window empty and gives NaN from the first bar on.
#pragma once

#include <cstdint>

#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

// One stochastic stage: the input's place in the range of the last `period`
// inputs, 0..100 (0 until the window is full), smoothed as
// k·factor + smoothed·(1 − factor) from its first value on.
class StochasticEma {
public:
    explicit StochasticEma(std::uint64_t period) : window_(period), period_(period) {}

    double next(double x) noexcept {
        window_.push_front(x);
        if (window_.len() > period_) window_.pop_back();
        double k = 0.0;
        if (window_.len() >= period_) {
            // Newest first; a NaN never becomes an extreme.
            double lo = kMaxF64;
            double hi = -kMaxF64;
            const std::uint64_t n = window_.len();
            for (std::uint64_t i = 0; i < n; ++i) {
                const double v = window_[i];
                if (v < lo) lo = v;
                if (v > hi) hi = v;
            }
            if (hi != lo) k = ((x - lo) * 100.0) / (hi - lo);
        }
        smoothed_ = started_ ? k * factor_ + smoothed_ * (1.0 - factor_) : k;
        started_ = true;
        return smoothed_;
    }

private:
    bool started_ = false;
    double smoothed_ = 0.0;
    double factor_ = 0.5;  // weight of the new stochastic value
    RingBuffer window_;  // newest at the front
    std::uint64_t period_;
};

class SchaffTrendCycle {
public:
    SchaffTrendCycle(std::uint64_t cycle_period, std::uint64_t fast_period, std::uint64_t slow_period)
        : fast_(fast_period), slow_(slow_period), first_(cycle_period), second_(cycle_period) {}

    double next(double x) noexcept {
        const double fast = fast_.next(x);
        const double slow = slow_.next(x);
        return second_.next(first_.next(fast - slow));
    }

private:
    EMA fast_;
    EMA slow_;
    StochasticEma first_;   // stochastic of the MACD line
    StochasticEma second_;  // stochastic of the first stage
};

}  // namespace lumenfold::core

// Schaff trend cycle: the MACD line (fast minus slow first-input-seeded
// exponential average) through two stochastic stages, each smoothed by a
// half-weight exponential filter; an oscillator between 0 and 100. Both
// stages fill on bar `cycle_period`, so the first cycle_period − 1 outputs
// are 0. A flat window gives a stochastic value of 0; cycle period 0 leaves
// every window empty and gives NaN from the first bar on.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

namespace lanes {

// The stochastic values of the full windows x[k .. k + p - 1] (newest last),
// k < count: lo and hi from -1.7976931348623157e308 and its negation, each
// replaced only by a strictly beyond value, walked from the newest value;
// out[k] = ((newest - lo) * 100) / (hi - lo), or 0 where hi == lo. x holds
// count + p - 1 values, p >= 1; both arrays are padded.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double* out)> stochastic_values;

}  // namespace lanes

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

    std::uint64_t period() const noexcept { return period_; }

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

    // Every bar steps all four stages.
    bool batch_ready() const noexcept { return fast_.batch_ready(); }

    // Batch form. The bars before the first full window give 0 and feed
    // their MACD values and stage outputs (0) to the windows. Then chunk by
    // chunk: the averages bar by bar, the first stage's stochastic values in
    // SIMD lanes, its smoothing bar by bar, and the same for the second
    // stage. A window of fewer than two bars steps.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::uint64_t period = first_.period();
        if (period < 2 || period > n) {
            for (std::size_t t = 0; t < n; ++t) out.put(t, next(x[t]));
            return;
        }
        const std::size_t p = static_cast<std::size_t>(period), warm = p - 1;
        // Each stage's inputs: the window of the chunk's first bar, then the chunk's.
        std::vector<double> line(warm + lanes::kPad), first_stage(warm + lanes::kPad, 0.0), k(lanes::kPad);
        EMA fast = fast_, slow = slow_;
        for (std::size_t t = 0; t < warm; ++t) {
            const double v = x[t];
            line[t] = fast.next(v) - slow.next(v);
            out.put(t, 0.0);
        }
        double s1 = 0.0, s2 = 0.0;
        std::vector<double> results;
        lanes::each_chunk(0, warm, [&](std::size_t first, std::size_t count, const double* values) {
            for (auto* v : {&line, &first_stage}) v->resize(warm + count + lanes::kPad);
            k.resize(count + lanes::kPad);
            results.resize(count);
            double* const m = line.data() + warm;
            for (std::size_t j = 0; j < count; ++j) m[j] = fast.next(values[j]) - slow.next(values[j]);
            lanes::stochastic_values(line.data(), count, p, k.data());
            double* const f = first_stage.data() + warm;
            const double* kk = k.data();
            for (std::size_t j = 0; j < count; ++j) f[j] = s1 = kk[j] * 0.5 + s1 * 0.5;
            lanes::stochastic_values(first_stage.data(), count, p, k.data());
            double* const r = results.data();
            for (std::size_t j = 0; j < count; ++j) r[j] = s2 = kk[j] * 0.5 + s2 * 0.5;
            out.store(first, count, r);
            const auto keep = static_cast<std::ptrdiff_t>(warm);
            const auto shift = static_cast<std::ptrdiff_t>(count);
            std::copy(line.begin() + shift, line.begin() + shift + keep, line.begin());
            std::copy(first_stage.begin() + shift, first_stage.begin() + shift + keep, first_stage.begin());
        }, x);
    }

private:
    EMA fast_;
    EMA slow_;
    StochasticEma first_;   // stochastic of the MACD line
    StochasticEma second_;  // stochastic of the first stage
};

}  // namespace lumenfold::core

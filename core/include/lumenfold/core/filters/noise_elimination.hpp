// Noise elimination: the rank correlation of the last `period` inputs with
// time (Kendall's tau without tie correction). Every pair of bars in the
// window counts +1 when the newer value is above the older, -1 when below,
// and nothing for a tie or a NaN; the sum is divided by period·(period - 1)/2.
// Outputs 1 to period - 1 are 0; a period below 2 gives 0 divided by its zero
// pair count, NaN.
//
// The pair count is kept up to date as values enter and leave the window:
// each bar adds the pairs of the new value and removes those of the value
// that drops out, N - 1 comparisons each instead of rescanning N(N - 1)/2
// pairs. The sum is an integer, so the order of counting does not change it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/filters/window_fir.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// How a full window of p values changes its count of rising pairs when
// x[k + p] enters and x[k] leaves: out[k] = sum over i = 1 .. p-1 of
// vote(x[k + p], x[k + p - i]) - vote(x[k + p - i], x[k]), vote(newer, older)
// being +1 when older - newer < 0, -1 when > 0, else 0. Small integers, so
// exact whatever the order. x holds count + p values.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, double* out)> rank_changes;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class NoiseElimination {
public:
    explicit NoiseElimination(std::uint64_t period)
        : window_(period), pairs_((to_f64(period) * 0.5) * (to_f64(period) + (-1.0))) {}

    double next(double x) noexcept {
        const std::uint64_t n = window_.length();
        const bool drops = n != 0 && window_.len() == n;
        const double oldest = drops ? window_[n - 1] : 0.0;
        const bool full = window_.push(x);
        // Positions 1.. now hold the values that were there before x arrived.
        const std::uint64_t held = window_.len();
        std::int64_t change = 0;
        for (std::uint64_t i = 1; i < held; ++i) change += vote(x, window_[i]);
        if (drops) {
            for (std::uint64_t i = 1; i < held; ++i) change -= vote(window_[i], oldest);
        }
        sum_ += change;
        if (!full) return 0.0;
        if (n < 2) return 0.0 / pairs_;
        return static_cast<double>(sum_) / pairs_;
    }

    bool batch_ready() const noexcept { return window_.len() == 0; }

    // Batch form: the first `period` bars stepped, then each bar's change of
    // the pair count (the entering value against the window, the leaving one
    // against the rest) in SIMD lanes, carried into the sum bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& x) {
        const std::size_t n = x.size();
        const std::uint64_t p = window_.length();
        const std::size_t warm = p < 2 ? n : static_cast<std::size_t>(std::min<std::uint64_t>(p, n));
        for (std::size_t i = 0; i < warm; ++i) out.put(i, next(x[i]));
        lanes::run_chunks(out, static_cast<std::size_t>(p), warm, [&](std::size_t count, double* r, const double* v) {
            lanes::rank_changes(v, count, static_cast<std::size_t>(p), r);
            // Locals: the stores to r could alias members.
            std::int64_t sum = sum_;
            const double pairs = pairs_;
            for (std::size_t j = 0; j < count; ++j) {
                sum += static_cast<std::int64_t>(r[j]);
                r[j] = static_cast<double>(sum) / pairs;
            }
            sum_ = sum;
        }, x);
    }

    // The contribution of one pair: +1 when the newer value is above the older,
    // -1 when below, 0 for a tie or a NaN difference.
    static std::int64_t vote(double newer, double older) noexcept {
        const double d = older - newer;
        return static_cast<std::int64_t>(d < 0.0) - static_cast<std::int64_t>(d > 0.0);
    }

    std::uint64_t period() const noexcept { return window_.length(); }

private:
    FirWindow window_;  // last `period` inputs, newest at the front
    double pairs_;
    std::int64_t sum_ = 0;  // votes of every pair held
};

}  // namespace lumenfold::core

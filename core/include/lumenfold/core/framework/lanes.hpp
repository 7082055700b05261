// The lane kernels of the batch forms: computations whose bars do not depend
// on earlier outputs, run several bars side by side in SIMD lanes. Each lane
// performs exactly the operations, in exactly the order, that the streaming
// step performs for its bar, so results are the same bit for bit on every
// instruction set; the widest one the processor offers is chosen at run time.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Weighted means of full windows: out[k] = (((0 + x_0 * w[0]) + x_1 * w[1]) +
// ... + x_{p-1} * w[p-1]) / den for k < count, where x_i is x[k + i] oldest
// first, or x[k + p - 1 - i] newest first; x holds count + p - 1 values, p >= 1.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, const double* weights, bool newest_first, double den, double* out)> weighted_means;

// The weighted means of a chunk, as a per-bar map (map_bars).
struct WeightedMeanMap {
    std::size_t period;
    const double* weights;
    bool newest_first;
    double den;
    void operator()(std::size_t count, double* out, const double* x) const {
        weighted_means(x, count, period, weights, newest_first, den, out);
    }
};

// Means over a running sum: for k < count, sum = (x[lag + k] + sum) - x[k]
// from the given sum, out[k] = sum / den; returns the last sum. x holds
// count + lag values.
extern const Kernel<double(const double* x, std::size_t count, std::size_t lag, double den, double sum, double* out)>
    running_means;

// The running means of a chunk, as a map (map_bars) that carries the sum
// from one chunk to the next.
struct RunningMeanMap {
    std::size_t lag;
    double den;
    double* sum;
    void operator()(std::size_t count, double* out, const double* x) const {
        *sum = running_means(x, count, lag, den, *sum, out);
    }
};

// Whether any of x[0 .. n) is a NaN.
extern const Kernel<bool(const double* x, std::size_t n)> any_nan;

// Whether any value of the series is a NaN, read chunk by chunk. A series
// over other storage may offer direct_has_nan(x), found by argument-dependent
// lookup, which reads that storage directly.
template <Series S>
bool has_nan(const S& x) {
    if constexpr (requires { direct_has_nan(x); }) {
        return direct_has_nan(x);
    } else {
        bool found = false;
        each_chunk(0, 0, [&](std::size_t, std::size_t count, const double* v) { found = found || any_nan(v, count); },
                   x);
        return found;
    }
}

// Extremes of full windows: out[k] is the highest (or lowest) of
// x[k .. k+p-1] folded from the oldest value on, starting from -DBL_MAX (or
// +DBL_MAX) and replaced only by a strictly greater (smaller) value: a NaN
// never wins, among equal values the oldest stands. x holds count + p - 1
// values, p >= 1.
extern const Kernel<void(const double* x, std::size_t count, std::size_t period, bool highest, double* out)> window_extremes;

// Whether the lane work beside a sequential chain keeps to 256-bit vectors
// where the processor offers 512-bit ones: on Intel processors only. On an
// Intel Xeon (Sapphire Rapids) 512-bit divisions beside a chain slow it down:
// capping every kernel at 256 bits took sma to 0.66 of its time, kama 0.82,
// rsi 0.85, atr 0.86, adx 0.89. AMD's Zen 4 and Zen 5 execute a 512-bit
// operation as one instruction, so there the full width halves the lane
// work's instructions, which KAMA's batch form, for one, needs to keep pace
// with its chain: the cap made kama 1.18 and obv 1.13 times as slow on Zen 4,
// and the full width took kama to 0.79 of its capped time on Zen 5, atr 0.93,
// adx 0.96, sma 0.97. Other vendors keep the full width too: nothing measured
// says otherwise. Either way the results are the same to the bit;
// set_narrow_chain_lanes chooses for a test.
bool narrow_chain_lanes() noexcept;
void set_narrow_chain_lanes(bool narrow) noexcept;

}  // namespace lumenfold::core::lanes

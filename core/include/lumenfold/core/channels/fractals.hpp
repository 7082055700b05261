// Bill Williams fractals over five bars: the middle bar is a bearish (up)
// fractal when its high is strictly above the highs of the two bars on each
// side, a bullish (down) fractal when its low is strictly below their lows.
// Each output speaks of the bar two bars back; the first four are
// (false, false). An equal neighbour or a NaN among the five prevents the
// fractal; both flags may be set on one bar.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

struct FractalsOutput {
    bool bearish;
    bool bullish;
};

}  // namespace lumenfold::core

namespace lumenfold::core::lanes {

// Five-bar fractals of the windows high[k .. k+4] and low[k .. k+4] (k <
// count): out[k].bearish when the middle high is strictly above the four
// others, out[k].bullish when the middle low is strictly below them (a NaN
// among them prevents either).
extern const Kernel<void(const double* high, const double* low, std::size_t count, FractalsOutput* out)> fractal_flags;

// The flags of a chunk, as a per-bar map (map_bars).
struct FractalFlagMap {
    void operator()(std::size_t count, FractalsOutput* out, const double* high, const double* low) const {
        fractal_flags(high, low, count, out);
    }
};

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

class BillWilliamsFractals {
public:
    BillWilliamsFractals() : highs_(5), lows_(5) {}

    FractalsOutput next(double high, double low) noexcept {
        highs_.push(high);
        lows_.push(low);
        if (highs_.len() < 5) return {false, false};
        if (highs_.len() > 5) {
            highs_.pop();
            lows_.pop();
        }
        const double h2 = highs_[2];
        const bool bearish = h2 > highs_[0] && h2 > highs_[1] && h2 > highs_[3] && h2 > highs_[4];
        const double l2 = lows_[2];
        const bool bullish = l2 < lows_[0] && l2 < lows_[1] && l2 < lows_[3] && l2 < lows_[4];
        return {bearish, bullish};
    }

    bool batch_ready() const noexcept { return highs_.empty(); }

    // Batch form: every bar from the fifth on compares its five bars, several
    // bars side by side in SIMD lanes, chunk by chunk.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low) const {
        const std::size_t n = std::min(high.size(), low.size());
        for (std::size_t t = 0; t < std::min<std::size_t>(4, n); ++t) out.put(t, FractalsOutput{false, false});
        lanes::map_bars<FractalsOutput>(out, 4, 4, lanes::FractalFlagMap{}, high, low);
    }

private:
    RingBuffer highs_;  // last five highs, oldest at the front
    RingBuffer lows_;   // last five lows, oldest at the front
};

}  // namespace lumenfold::core

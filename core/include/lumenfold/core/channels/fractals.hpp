// Bill Williams fractals over five bars: the middle bar is a bearish (up)
// fractal when its high is strictly above the highs of the two bars on each
// side, a bullish (down) fractal when its low is strictly below their lows.
// Each output speaks of the bar two bars back; the first four are
// (false, false). An equal neighbour or a NaN among the five prevents the
// fractal; both flags may be set on one bar.
#pragma once

#include <algorithm>
#include <cstddef>

#include "lumenfold/core/framework/kernel.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core::lanes {

// Five-bar fractals of the bars whose highs and lows are read big-endian at
// high[k .. k+4] and low[k .. k+4] (k < count): bearish when the middle high
// is strictly above the four others, bullish when the middle low is strictly
// below them (a NaN among them prevents either). out[2k] and out[2k + 1]
// receive the two flags as bytes 0 or 1.
extern const Kernel<void(const std::uint8_t* high, const std::uint8_t* low, std::size_t count, std::uint8_t* out)> fractal_flags;

}  // namespace lumenfold::core::lanes

namespace lumenfold::core {

struct FractalsOutput {
    bool bearish;
    bool bullish;
};

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

    // Batch form: every bar from the fifth on compares its five bars read
    // from the series, several bars side by side in SIMD lanes, and its two
    // flags are written straight into the records (two bytes each).
    void batch(BigEndianOut out, BigEndianSeries high, BigEndianSeries low) const noexcept {
        const std::size_t n = std::min(high.size(), low.size());
        for (std::size_t t = 0; t < std::min<std::size_t>(4, n); ++t) out.record(t, false, false);
        if (n > 4) lanes::fractal_flags(high.bytes(), low.bytes(), n - 4, out.bytes() + 4 * out.stride());
    }

private:
    RingBuffer highs_;  // last five highs, oldest at the front
    RingBuffer lows_;   // last five lows, oldest at the front
};

}  // namespace lumenfold::core

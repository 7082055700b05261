// Choppiness index: 100·log10(sum of true ranges / (highest high - lowest
// low)) / log10(period) over the last `period` bars; near 100 in a sideways
// market, low in a trending one. Returns the neutral 50 until the window is
// full, and 100 for a window with no range (highest high = lowest low).
// The first bar's true range is high - low. The sum is taken afresh each bar,
// from the newest range to the oldest, so a NaN range makes the output NaN
// only while it is in the window.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/channels/true_ranges.hpp"
#include "lumenfold/core/channels/window_extreme.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/num.hpp"
#include "lumenfold/core/framework/ring_buffer.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class ChoppinessIndex {
public:
    explicit ChoppinessIndex(std::uint64_t period)
        : ranges_(period), highs_(period), lows_(period), period_(period) {}

    double next(double high, double low, double close) noexcept {
        const double tr = started_ ? true_range(high, low, prev_close_) : high - low;
        started_ = true;
        prev_close_ = close;
        ranges_.push(tr);
        if (ranges_.len() > period_) ranges_.pop();
        // The extremes' tie rule (oldest stands) does not matter here: only
        // their difference and its test against 0 are used.
        const double hh = highs_.next(high);
        const double ll = lows_.next(low);
        const std::uint64_t n = ranges_.len();
        if (n < period_) return 50.0;
        double sum = 0.0;
        for (std::uint64_t i = n; i-- > 0;) sum = sum + ranges_[i];
        const double range = hh - ll;
        if (range == 0.0) return 100.0;
        return (std::log10(sum / range) * 100.0) / std::log10(to_f64(period_));
    }

    bool batch_ready() const noexcept { return !started_; }

    // Batch form: the bars up to the first full window stepped, then, chunk by
    // chunk, the true ranges, every later window's sum of them (newest first)
    // and its extremes (folded from the oldest bar) in SIMD lanes, and the
    // logarithms bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = high.size();
        const std::size_t stepped = period_ == 0 ? n : static_cast<std::size_t>(std::min<std::uint64_t>(period_, n));
        for (std::size_t t = 0; t < stepped; ++t) out.put(t, next(high[t], low[t], close[t]));
        if (stepped == n) return;
        const std::size_t p = stepped;
        const double log_period = std::log10(to_f64(period_));
        const std::vector<double> ones(p, 1.0);
        const std::size_t room = std::max<std::size_t>(2048, p) + p + lanes::kPad;
        std::vector<double> ranges(room), sums(room), highest(room), lowest(room);
        // values[j] is bar first - p + j; bar first + k's window is j = k + 1 .. k + p.
        lanes::run_chunks(out, p, p, [&](std::size_t count, double* r, const double* h, const double* l,
                                         const double* c) {
            lanes::true_ranges(h, l, c, count + p - 1, ranges.data());
            lanes::weighted_means(ranges.data(), count, p, ones.data(), true, 1.0, sums.data());
            lanes::window_extremes(h + 1, count, p, true, highest.data());
            lanes::window_extremes(l + 1, count, p, false, lowest.data());
            for (std::size_t k = 0; k < count; ++k) {
                const double range = highest[k] - lowest[k];
                r[k] = range == 0.0 ? 100.0 : (std::log10(sums[k] / range) * 100.0) / log_period;
            }
        }, high, low, close);
    }

private:
    double prev_close_ = 0.0;
    bool started_ = false;  // whether prev_close_ holds a close
    RingBuffer ranges_;     // true ranges of the window, oldest at the front
    WindowHighest highs_;
    WindowLowest lows_;
    std::uint64_t period_;
};

}  // namespace lumenfold::core

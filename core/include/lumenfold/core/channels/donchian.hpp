// Donchian channel: the highest high and the lowest low of the last `period`
// bars and their midpoint (upper + lower)·0.5. No warm-up placeholder: partial
// windows from the first bar, so bar 1 gives (high, (high + low)·0.5, low).
// NaN prices are never extremes; a window of NaN highs leaves the upper line at
// -1.7976931348623157e308 (lows: +1.7976931348623157e308). Period 0 keeps no
// bar and gives (-1.7976931348623157e308, 0, 1.7976931348623157e308).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/channels/band_output.hpp"
#include "lumenfold/core/channels/window_extreme.hpp"
#include "lumenfold/core/framework/lanes.hpp"
#include "lumenfold/core/framework/series.hpp"

namespace lumenfold::core {

class DonchianChannels {
public:
    explicit DonchianChannels(std::uint64_t period) : highs_(period), lows_(period) {}

    BandOutput next(double high, double low) noexcept {
        const double upper = highs_.next(high);
        const double lower = lows_.next(low);
        return BandOutput{upper, (upper + lower) * 0.5, lower};
    }

    // Batch form: the partial windows of the first bars stepped, then every
    // full window folded from its oldest bar in SIMD lanes, as the kept
    // extreme and its rescans amount to. A fold's cost grows with the period
    // while keeping the extremes costs about the same, so periods beyond
    // kLanePeriod step.
    void batch(BigEndianOut out, BigEndianSeries high, BigEndianSeries low) {
        each(high, low, [&](std::size_t t, const BandOutput& b) {
            out.put(3 * t, b.upper);
            out.put(3 * t + 1, b.middle);
            out.put(3 * t + 2, b.lower);
        });
    }

    // The outputs `next` gives over the series, as f(bar, output) in bar order.
    template <class F>
    void each(BigEndianSeries high, BigEndianSeries low, F f) {
        const std::size_t n = high.size();
        const std::uint64_t period = highs_.period();
        const std::size_t partial = period == 0 || period > kLanePeriod
                                        ? n
                                        : std::min(static_cast<std::size_t>(period) - 1, n);
        for (std::size_t t = 0; t < partial; ++t) f(t, next(high[t], low[t]));
        if (partial == n) return;
        const std::size_t history = static_cast<std::size_t>(period) - 1;
        const std::size_t chunk = 2048;
        std::vector<double> highs(chunk + history + lanes::kPad), lows(chunk + history + lanes::kPad);
        std::vector<double> upper(chunk + lanes::kPad), lower(chunk + lanes::kPad);
        for (std::size_t first = partial; first < n; first += chunk) {
            const std::size_t count = std::min(chunk, n - first);
            lanes::from_big_endian(high.bytes() + (first - history) * 8, count + history, highs.data());
            lanes::from_big_endian(low.bytes() + (first - history) * 8, count + history, lows.data());
            lanes::window_extremes(highs.data(), count, history + 1, true, upper.data());
            lanes::window_extremes(lows.data(), count, history + 1, false, lower.data());
            for (std::size_t j = 0; j < count; ++j)
                f(first + j, BandOutput{upper[j], (upper[j] + lower[j]) * 0.5, lower[j]});
        }
    }

    std::uint64_t period() const noexcept { return highs_.period(); }

private:
    static constexpr std::uint64_t kLanePeriod = 64;

    WindowHighest highs_;
    WindowLowest lows_;
};

}  // namespace lumenfold::core

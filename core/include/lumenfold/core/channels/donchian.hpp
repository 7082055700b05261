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

    bool batch_ready() const noexcept { return highs_.bars() == 0; }

    // Batch form: the partial windows of the first bars stepped, then chunk
    // by chunk every full window folded from its oldest bar in SIMD lanes, as
    // the kept extreme and its rescans amount to. A fold's cost grows with the
    // period while keeping the extremes costs about the same, so periods
    // beyond kLanePeriod step.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low) {
        const std::size_t n = std::min(high.size(), low.size());
        const std::size_t history = folds() ? static_cast<std::size_t>(period()) - 1 : n;
        const std::size_t warm = std::min(history, n);
        for (std::size_t t = 0; t < warm; ++t) out.put(t, next(high[t], low[t]));
        std::vector<double> upper, lower;
        // A copy of the sink: a local that the stores it makes cannot alias.
        const O sink = out;
        lanes::each_chunk(history, warm, [&](std::size_t first, std::size_t count, const double* h, const double* l) {
            upper.resize(count + lanes::kPad);
            lower.resize(count + lanes::kPad);
            chunk(history, count, h, l, upper.data(), lower.data());
            const double* u = upper.data();
            const double* w = lower.data();
            for (std::size_t k = 0; k < count; ++k) sink.put(first + k, BandOutput{u[k], (u[k] + w[k]) * 0.5, w[k]});
        }, high, low);
    }

    // Whether batch forms fold full windows in lanes (else they step every bar).
    bool folds() const noexcept {
        const std::uint64_t period = highs_.period();
        return period != 0 && period <= kLanePeriod;
    }

    // The upper and lower lines of `count` bars in a row, into upper[0 ..
    // count) and lower[0 .. count) (padded): h and l hold their highs and lows
    // after the `history` bars before them. Folds full windows when folds()
    // (history at least period - 1, every bar's window full), else steps.
    void chunk(std::size_t history, std::size_t count, const double* h, const double* l, double* upper,
               double* lower) {
        if (folds()) {
            const std::size_t p = static_cast<std::size_t>(period());
            lanes::window_extremes(h + history - (p - 1), count, p, true, upper);
            lanes::window_extremes(l + history - (p - 1), count, p, false, lower);
        } else {
            for (std::size_t k = 0; k < count; ++k) {
                upper[k] = highs_.next(h[history + k]);
                lower[k] = lows_.next(l[history + k]);
            }
        }
    }

    std::uint64_t period() const noexcept { return highs_.period(); }

private:
    static constexpr std::uint64_t kLanePeriod = 64;

    WindowHighest highs_;
    WindowLowest lows_;
};

}  // namespace lumenfold::core

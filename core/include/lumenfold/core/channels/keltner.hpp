// Keltner channel: an exponential average of the typical price
// ((high + low) + close)/3 over `ema_period`, seeded by the first bar, with
// bands at ± multiplier·ATR (the exponential ATR of `atr_period`). No warm-up
// placeholder: bar 1 gives the typical price ± (high - low)·multiplier.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "lumenfold/core/channels/band_output.hpp"
#include "lumenfold/core/channels/true_ranges.hpp"
#include "lumenfold/core/classic/atr.hpp"
#include "lumenfold/core/framework/chunks.hpp"
#include "lumenfold/core/framework/series.hpp"
#include "lumenfold/core/framework/smoothing.hpp"

namespace lumenfold::core {

class KeltnerChannels {
public:
    KeltnerChannels(std::uint64_t ema_period, std::uint64_t atr_period, double multiplier)
        : centre_(ema_period), range_(atr_period), multiplier_(multiplier) {}

    BandOutput next(double high, double low, double close) noexcept {
        const double middle = centre_.next(((high + low) + close) / 3.0);
        const double offset = range_.next(high, low, close) * multiplier_;
        return BandOutput{middle + offset, middle, middle - offset};
    }

    bool batch_ready() const noexcept { return centre_.batch_ready() && range_.batch_ready(); }

    // Batch form: the first bar stepped, then chunk by chunk the true ranges
    // in SIMD lanes and the two averages bar by bar.
    template <class O, Series S>
    void batch(const O& out, const S& high, const S& low, const S& close) {
        const std::size_t n = std::min({high.size(), low.size(), close.size()});
        if (n == 0) return;
        const double h0 = high[0], l0 = low[0], c0 = close[0];
        out.put(0, next(h0, l0, c0));
        const double ema_alpha = centre_.alpha(), ema_keep = 1.0 - ema_alpha;
        const double atr_alpha = range_.alpha(), atr_keep = 1.0 - atr_alpha;
        double middle = ((h0 + l0) + c0) / 3.0;
        double atr = h0 - l0;
        std::vector<double> ranges;
        std::vector<BandOutput> bands;
        lanes::each_chunk(1, 1, [&](std::size_t first, std::size_t count, const double* h, const double* l,
                                    const double* c) {
            ranges.resize(count + lanes::kPad);
            bands.resize(count);
            const double* tr = ranges.data();
            lanes::true_ranges(h, l, c, count, ranges.data());
            for (std::size_t k = 0; k < count; ++k) {
                middle = ((h[k + 1] + l[k + 1]) + c[k + 1]) / 3.0 * ema_alpha + middle * ema_keep;
                atr = tr[k] * atr_alpha + atr * atr_keep;
                const double offset = atr * multiplier_;
                bands[k] = BandOutput{middle + offset, middle, middle - offset};
            }
            out.store(first, count, bands.data());
        }, high, low, close);
    }

private:
    EMA centre_;
    ATR range_;
    double multiplier_;
};

}  // namespace lumenfold::core
